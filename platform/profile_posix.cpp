#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_io.h"
#include "profile.h"
#include "profile_text.h"

namespace platform {
namespace {

std::optional<std::string> ReadValue(const char* section, const char* key, const char* path) {
    if (!section || !key || !path) return std::nullopt;
    auto content = ReadRegularFile(path, kMaxProfileFileSize);
    if (!content) return std::nullopt;
    return FindProfileValue(*content, section, key);
}

}  // namespace

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path) {
    auto value = ReadValue(section, key, path);
    if (!value) return defaultValue;
    errno = 0;
    long number = std::strtol(value->c_str(), nullptr, 10);
    if (errno == ERANGE) return 0;
    return static_cast<int>(std::clamp<long>(number, INT32_MIN, INT32_MAX));
}

std::size_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, std::size_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    auto value = ReadValue(section, key, path);
    std::string_view text =
        value ? std::string_view(*value) : std::string_view(defaultValue ? defaultValue : "");
    std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

bool IsProfileReadable(const char* path) {
    if (path == nullptr) return false;
    struct stat st {};
    if (stat(path, &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    return S_ISREG(st.st_mode) && ReadRegularFile(path, kMaxProfileFileSize).has_value();
}

}  // namespace platform
