// Private-profile (INI) files: the read and write calls that the driver's settings and the test
// program's key store are built on. Names match without regard to case; blanks are trimmed; a
// leading UTF-8 byte-order mark is skipped; a value loses one pair of surrounding double quotes.
// Only regular files are read, without blocking: anything else at the path reads as empty.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "write_result.h"

namespace platform {

// The integer value of `key` in `section`: its leading decimal digits (an optional sign first),
// 0 when the value holds none, `defaultValue` when the file, section or key is missing.
int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path);

// Copies the value (or `defaultValue` when it is missing) into `buffer`, cut to `size` - 1
// characters and always terminated when `size` > 0. Returns the number of characters stored.
std::size_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, std::size_t size, const char* path);

// Whether `path` is missing or reads whole. False for something that is there but is not a
// regular file (a FIFO, a device, a folder) and for a regular file that cannot be read or exceeds
// the size limit of profile files: the reads above take those for a missing file, so a caller for
// whom a missing value means a default it must not fall back to asks this first.
bool IsProfileReadable(const char* path);

// One key and its value in a section.
struct ProfileEntry {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

// kBadText when writing `entry` could add or forge lines: a CR, LF or NUL anywhere in its texts
// (checked whole, past any embedded NUL), a '[' or ']' in the section name, an '=' in the key, a
// key beginning with '[' or ';', or a name that is empty once blanks are trimmed.
WriteResult CheckProfileEntry(const ProfileEntry& entry);

// Sets each entry's key in its section to its value, creating the file, the section or the key
// as needed; every other line stays as it was. All entries go into one replacement of the file:
// either all are written or none. The file (a symbolic link's target) is replaced atomically
// under a lock that concurrent writers share, keeping its owner, group and mode; a new file is
// readable by its owner only (see ReplaceFile in file_io.h). A failure says why; nothing is
// written when any entry fails CheckProfileEntry, or to a file that is not a regular file, is
// read-only (no write permission for anyone; on Windows the read-only attribute) or this process
// may not write. On Windows the replacement keeps the file's attributes and security instead of
// owner, group and mode, and a new file gets the folder's inherited security. A file that holds
// keys is written as `FileContent::kSecret` (see ReplaceFile).
WriteResult WriteProfileEntries(const std::vector<ProfileEntry>& entries, const char* path,
                                FileContent content = FileContent::kPlain);
WriteResult WriteProfileEntry(const ProfileEntry& entry, const char* path);

// WriteProfileEntry for NUL-terminated texts: false on any failure or a null argument.
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* path);

}  // namespace platform
