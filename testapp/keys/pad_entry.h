// What each byte the pad sends does to a key part typed on the pad, mirrored character by
// character.
#pragma once

#include <cstddef>
#include <string>

namespace keys {

enum class EntryStep {
    kChanged,    // the text to show changed
    kIgnored,    // nothing to show
    kConfirmed,  // Enter
    kCancelled,  // Escape
    kTimedOut,   // the pad's entry time-out
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

}  // namespace keys
