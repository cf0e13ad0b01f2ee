#include "pad_entry.h"

namespace keys {

EntryStep KeyPartEntry::Take(unsigned char byte) {
    switch (byte) {
        case kPadEscape:
            return EntryStep::kCancelled;
        case kPadEnter:
            return EntryStep::kConfirmed;
        case kPadTimeout:
            m_text.clear();
            return EntryStep::kTimedOut;
        case kPadBackspace:
            if (!m_text.empty()) m_text.pop_back();
            return EntryStep::kChanged;
        default:
            if (m_text.size() >= kCapacity) return EntryStep::kIgnored;
            m_text += static_cast<char>(byte);
            return EntryStep::kChanged;
    }
}

EntryStep StarEcho::Take(unsigned char byte) {
    switch (byte) {
        case kPadBackspace:
            if (m_clearsAll) {
                m_stars.clear();
            } else if (!m_stars.empty()) {
                m_stars.pop_back();
            }
            return EntryStep::kChanged;
        case kPadEscape:
            m_stars.clear();  // the field keeps what it shows
            return EntryStep::kCancelled;
        case kPadEnter:
            return EntryStep::kConfirmed;
        case kPadTimeout:
            m_stars.clear();
            return EntryStep::kTimedOut;
        default:
            break;
    }
    EntryStep step = EntryStep::kIgnored;
    if (byte == kPadDigit && m_stars.size() < kCapacity) {
        m_stars += '*';
        step = EntryStep::kChanged;
    }
    // Every other byte passes the limit test too.
    if (m_limit > 0 && m_stars.size() >= static_cast<std::size_t>(m_limit)) {
        return EntryStep::kFinished;
    }
    return step;
}

}  // namespace keys
