#include "key_store.h"

#include <profile.h>

#include <vector>

namespace shell {

void WriteKeyStore(const char* section, const char* key, const char* value) {
    platform::WritePrivateProfileString(section, key, value, kKeyStorePath);
}

QString ReadKeyStore(const char* section, const char* key, std::size_t bufferSize) {
    std::vector<char> buffer(bufferSize, '\0');
    platform::GetPrivateProfileString(section, key, "", buffer.data(), buffer.size(),
                                      kKeyStorePath);
    return QString::fromLatin1(buffer.data());
}

int ReadKeyStoreInt(const char* section, const char* key, int defaultValue) {
    return platform::GetPrivateProfileInt(section, key, defaultValue, kKeyStorePath);
}

}  // namespace shell
