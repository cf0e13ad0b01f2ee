// The key store ./KeyStock.txt: what the program loaded into the pad, kept across runs.
#pragma once

#include <QString>
#include <cstddef>

namespace shell {

inline constexpr const char* kKeyStorePath = "./KeyStock.txt";

// Writes one value; a failed write goes unnoticed, as callers ignore it.
void WriteKeyStore(const char* section, const char* key, const char* value);

// The stored text, cut to `bufferSize` - 1 characters; "" when file, section or key is missing.
QString ReadKeyStore(const char* section, const char* key, std::size_t bufferSize);

// The stored integer, `defaultValue` when missing.
int ReadKeyStoreInt(const char* section, const char* key, int defaultValue);

}  // namespace shell
