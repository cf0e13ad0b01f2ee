// Private-profile files on Windows: reads are the system's own calls, which already have the
// semantics that profile.h describes; writes edit the text as on every system and replace the
// file under the writers' lock (file_io_win32.cpp), so that concurrent writers lose nothing.
#include "profile.h"
// After profile.h: <windows.h> maps these names to their A/W variants with macros.
#include <windows.h>
#undef GetPrivateProfileInt
#undef GetPrivateProfileString
#undef WritePrivateProfileString

#include <algorithm>
#include <cstring>
#include <string>

#include "file_io.h"
#include "profile_text.h"

namespace platform {
namespace {

// The system would look a bare file name up in the Windows directory; here, as on every system
// and as the writer takes it, it names a file in the current directory. Forward slashes are
// turned into the system's own.
std::string NativePath(const char* path) {
    std::string native(path);
    std::replace(native.begin(), native.end(), '/', '\\');
    if (native.find_first_of("\\:") == std::string::npos) native.insert(0, ".\\");
    return native;
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

}  // namespace platform
