// The text of a private-profile (INI) file: finding a value and setting entries, the same on
// every system, so that what one system writes another reads alike.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile.h"

namespace platform {

// Larger files are not settings files; reading stops there so a stray file cannot exhaust memory.
inline constexpr std::size_t kMaxProfileFileSize = 1 << 20;

// The value of `key` in `section` of `content` (names without regard to case, blanks trimmed,
// one pair of double quotes dropped), or nothing when the section or key is missing.
std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key);

// `content` with each entry's key set in its section: in place when the key exists, else at the
// end of its section, else in a new section at the end. Every other line, the line ends and a
// leading byte-order mark stay as they were. The entries must have passed CheckProfileEntry.
std::string SetProfileEntries(std::string_view content, const std::vector<ProfileEntry>& entries);

}  // namespace platform
