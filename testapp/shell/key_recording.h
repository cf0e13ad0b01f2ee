// The key store ./KeyStock.txt: what the program loaded into the pad, kept across runs.
#pragma once

#include <profile.h>

#include <QString>
#include <cstddef>
#include <string_view>
#include <vector>

namespace shell {

inline constexpr const char* kKeyStorePath = "./KeyStock.txt";

// Writes one value; the result says why a write failed.
platform::WriteResult WriteKeyStore(const char* section, const char* key, std::string_view value);

// Writes `entries` in one go (all of them or none). When that fails, a box tells the operator
// that `done` (what happened on the pad, e.g. "The key was loaded into the pad") could not be
// recorded in the key store, and why; the status line is left as it is. True when recorded.
bool RecordKeys(const QString& done, const std::vector<platform::ProfileEntry>& entries);

// RecordKeys for values the pad sent: each must be `length` hexadecimal characters or the key
// mask, checked whole (an embedded NUL fails it), or nothing is recorded and the box says that
// the pad's reply is not a key value.
bool RecordPadKeys(const QString& done, const std::vector<platform::ProfileEntry>& entries,
                   std::size_t length);

// The stored text, cut to `bufferSize` - 1 characters; "" when file, section or key is missing.
QString ReadKeyStore(const char* section, const char* key, std::size_t bufferSize);

// The stored integer, `defaultValue` when missing.
int ReadKeyStoreInt(const char* section, const char* key, int defaultValue);

}  // namespace shell
