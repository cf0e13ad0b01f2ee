// What each byte the pad sends does to an entry typed on the pad: a key part mirrored character
// by character, or a password echoed as stars.
#pragma once

#include <cstddef>
#include <string>

namespace keys {

inline constexpr unsigned char kPadBackspace = 0x08;
inline constexpr unsigned char kPadEnter = 0x0D;
inline constexpr unsigned char kPadEscape = 0x1B;
inline constexpr unsigned char kPadDigit = 0x2A;  // '*': one PIN or password digit
inline constexpr unsigned char kPadTimeout = 0x80;

enum class EntryStep {
    kChanged,    // the text to show changed
    kIgnored,    // nothing to show
    kConfirmed,  // Enter
    kCancelled,  // Escape
    kTimedOut,   // the pad's entry time-out
    kFinished,   // the password reached its digit limit
};

// A key part typed on the pad, each character as the pad reports it.
class KeyPartEntry {
public:
    static constexpr std::size_t kCapacity = 255;  // further characters are ignored
    EntryStep Take(unsigned char byte);
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

// The star echo of a password entry.
class StarEcho {
public:
    static constexpr std::size_t kCapacity = 99;
    // `digitLimit` above 0 ends the entry when that many stars are shown; `backspaceClearsAll`
    // makes Backspace remove every star (clear codes 2 and 6).
    StarEcho(int digitLimit, bool backspaceClearsAll)
        : m_limit(digitLimit), m_clearsAll(backspaceClearsAll) {}
    EntryStep Take(unsigned char byte);
    const std::string& stars() const { return m_stars; }

private:
    int m_limit;
    bool m_clearsAll;
    std::string m_stars;
};

}  // namespace keys
