#include "key_tables.h"

namespace padlogic {

int HostParts(int code) {
    for (const CombinationCode& entry : kCombinationCodes) {
        if (entry.code == code) return entry.hostParts;
    }
    return 0;
}

bool IsPadEntryCode(int code) { return code >= kFirstPadEntryCode && code <= kLastPadEntryCode; }

std::optional<int> TagDigit(std::string_view name) {
    for (const KeyTag& tag : kKeyTags) {
        if (tag.name == name) return tag.digit;
    }
    return std::nullopt;
}

}  // namespace padlogic
