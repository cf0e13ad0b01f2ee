// The star echo of a PIN entry: what each byte from the pad does to the stars shown and whether
// it ends the entry.
#pragma once

#include <QString>

namespace operations {

class StarEcho {
public:
    // How a backspace from the pad is echoed: one star off, or every star off (the pad's clear
    // codes 2 and 6 clear the whole entry).
    enum class Backspace { kOneStar, kAllStars };
    enum class End { kNone, kCancelled, kFinished, kTimedOut };

    struct Step {
        End end = End::kNone;
        bool show = false;  // the stars changed and are to be shown
    };

    // `lengthLimit`: the entry is finished when this many stars are there; 0 for no limit.
    StarEcho(Backspace backspace, int lengthLimit)
        : m_backspace(backspace), m_lengthLimit(lengthLimit) {}

    // The backspace rule of "startup PIN2" for the clear code the pad was given.
    static Backspace BackspaceForClearCode(int clearCode) {
        return clearCode == 2 || clearCode == 6 ? Backspace::kAllStars : Backspace::kOneStar;
    }

    Step Take(unsigned char byte);
    const QString& Stars() const { return m_stars; }
    int Count() const { return static_cast<int>(m_stars.size()); }

    // The echo holds 99 stars; an entry without a length limit stops growing there.
    static constexpr int kMaxStars = 99;

private:
    Backspace m_backspace;
    int m_lengthLimit;
    QString m_stars;
};

}  // namespace operations
