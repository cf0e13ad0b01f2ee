#include "star_echo.h"

#include "pad_bytes.h"

namespace operations {

StarEcho::Step StarEcho::Take(unsigned char byte) {
    switch (byte) {
        case shell::kPadBackspace:
            if (m_backspace == Backspace::kAllStars) {
                m_stars.clear();
            } else if (!m_stars.isEmpty()) {
                m_stars.chop(1);
            }
            return {End::kNone, true};
        case shell::kPadEscape:
            // The box keeps what it shows; the next entry starts from an empty echo.
            m_stars.clear();
            return {End::kCancelled, false};
        case shell::kPadEnter:
            return {End::kFinished, false};
        case shell::kPadTimeout:
            m_stars.clear();
            return {End::kTimedOut, true};
        default:
            break;
    }
    Step step;
    if (byte == shell::kPadStar && Count() < kMaxStars) {
        m_stars += QLatin1Char('*');
        step.show = true;
    }
    if (m_lengthLimit >= 1 && Count() >= m_lengthLimit) step.end = End::kFinished;
    return step;
}

}  // namespace operations
