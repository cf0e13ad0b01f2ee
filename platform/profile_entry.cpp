// What profile writes share on every system: the check each makes first (a text that would add
// lines or forge a section or key is refused before the file is touched), the replacement of the
// file with the edited text, and the one-entry forms.
#include "file_io.h"
#include "profile.h"
#include "profile_text.h"

namespace platform {
namespace {

constexpr std::string_view kLineBreakOrNul("\r\n\0", 3);

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

WriteResult CheckProfileEntry(const ProfileEntry& entry) {
    const WriteResult bad{WriteError::kBadText};
    for (std::string_view text : {entry.section, entry.key, entry.value}) {
        if (text.find_first_of(kLineBreakOrNul) != std::string_view::npos) return bad;
    }
    const std::string_view section = TrimBlanks(entry.section);
    const std::string_view key = TrimBlanks(entry.key);
    if (section.empty() || key.empty()) return bad;
    // A bracket would end the section's header early or start another one; an '=' would end
    // the key early, and a leading '[' or ';' makes the line a header or a comment.
    if (section.find_first_of("[]") != std::string_view::npos) return bad;
    if (key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';') {
        return bad;
    }
    return {};
}

WriteResult WriteProfileEntries(const std::vector<ProfileEntry>& entries, const char* path,
                                FileContent content) {
    for (const ProfileEntry& entry : entries) {
        if (WriteResult checked = CheckProfileEntry(entry); !checked.ok()) return checked;
    }
    if (entries.empty()) return {};
    return ReplaceFile(
        path, kMaxProfileFileSize,
        [&](const std::string& current) { return SetProfileEntries(current, entries); }, content);
}

WriteResult WriteProfileEntry(const ProfileEntry& entry, const char* path) {
    return WriteProfileEntries({entry}, path);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* path) {
    if (!section || !key || !value || !path) return false;
    return WriteProfileEntry({section, key, value}, path).ok();
}

}  // namespace platform
