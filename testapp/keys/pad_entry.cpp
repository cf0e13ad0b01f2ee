#include "pad_entry.h"

#include "pad_bytes.h"

namespace keys {

EntryStep KeyPartEntry::Take(unsigned char byte) {
    switch (byte) {
        case shell::kPadEscape:
            return EntryStep::kCancelled;
        case shell::kPadEnter:
            return EntryStep::kConfirmed;
        case shell::kPadTimeout:
            m_text.clear();
            return EntryStep::kTimedOut;
        case shell::kPadBackspace:
            if (!m_text.empty()) m_text.pop_back();
            return EntryStep::kChanged;
        default:
            if (m_text.size() >= kCapacity) return EntryStep::kIgnored;
            m_text += static_cast<char>(byte);
            return EntryStep::kChanged;
    }
}

}  // namespace keys
