// Private-profile files on Windows: the system's own calls, which already have the semantics
// that profile.h describes; writes are checked as everywhere else first.
#include "profile.h"
// After profile.h: <windows.h> maps these names to their A/W variants with macros.
#include <windows.h>
#undef GetPrivateProfileInt
#undef GetPrivateProfileString
#undef WritePrivateProfileString

#include <algorithm>
#include <cstring>
#include <string>

namespace platform {
namespace {

// The system looks a bare file name up in the Windows directory; a name with a separator
// ("./sysconfig.ini") is taken relative to the current directory. Forward slashes are turned
// into the system's own.
std::string NativePath(const char* path) {
    std::string native(path);
    std::replace(native.begin(), native.end(), '/', '\\');
    return native;
}

// The failure that the system's last error stands for; coarser than the POSIX reasons.
WriteResult LastFailure() {
    const DWORD code = ::GetLastError();
    const int error = static_cast<int>(code);
    switch (code) {
        case ERROR_ACCESS_DENIED:
            return {WriteError::kPermission, error};
        case ERROR_WRITE_PROTECT:
            return {WriteError::kReadOnlyFileSystem, error};
        case ERROR_PATH_NOT_FOUND:
            return {WriteError::kMissingFolder, error};
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return {WriteError::kDiskFull, error};
        default:
            return {WriteError::kSystemError, error};
    }
}

}  // namespace

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path) {
    if (!section || !key || !path) return defaultValue;
    return static_cast<int>(
        ::GetPrivateProfileIntA(section, key, defaultValue, NativePath(path).c_str()));
}

std::size_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, std::size_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    const char* fallback = defaultValue ? defaultValue : "";
    if (!section || !key || !path) {
        // The system would list section or key names here; the portable reading gives the default.
        const std::size_t n = std::min(std::strlen(fallback), size - 1);
        std::memcpy(buffer, fallback, n);
        buffer[n] = '\0';
        return n;
    }
    const DWORD capacity = static_cast<DWORD>(std::min<std::size_t>(size, 0x7FFFFFFF));
    return ::GetPrivateProfileStringA(section, key, fallback, buffer, capacity,
                                      NativePath(path).c_str());
}

bool IsProfileReadable(const char* path) {
    if (!path) return false;
    const std::string native = NativePath(path);
    // A missing file is not an unreadable one: the system's reads give their defaults for it.
    const DWORD attributes = ::GetFileAttributesA(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    HANDLE file = ::CreateFileA(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

WriteResult WriteProfileEntries(const std::vector<ProfileEntry>& entries, const char* path) {
    if (path == nullptr || *path == '\0') return {WriteError::kNoPath};
    for (const ProfileEntry& entry : entries) {
        if (WriteResult checked = CheckProfileEntry(entry); !checked.ok()) return checked;
    }
    const std::string native = NativePath(path);
    for (const ProfileEntry& entry : entries) {
        const std::string section(entry.section), key(entry.key), value(entry.value);
        if (!::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                          native.c_str())) {
            return LastFailure();
        }
    }
    return {};
}

}  // namespace platform
