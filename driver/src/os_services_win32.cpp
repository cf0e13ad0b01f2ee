// Windows side of the driver's operating-system services.
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>

#include <cstdint>

#include "os_services.h"

namespace lumenord::os {
namespace {

// Per calling thread: how deep it is in exported calls, and a quit request taken meanwhile.
thread_local int t_callDepth = 0;
thread_local bool t_quitTaken = false;
thread_local WPARAM t_quitCode = 0;

// Set by tests only; empty: the system's own directory.
std::string g_defaultLogDirectory;

// Whether the open handle is a plain file on a disk (not a directory, link, pipe or device).
bool IsRegularFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

ClockReading FromSystemTime(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace

std::string PortDevice(int portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

const char* DefaultTimeoutLogDirectory() {
    return g_defaultLogDirectory.empty() ? "C:\\halmstrom\\" : g_defaultLogDirectory.c_str();
}

std::FILE* OpenLogFile(const char* path, bool fresh) {
    // A reparse point (a symbolic link or junction) is opened as itself, not followed, and then
    // refused with everything else that is not a plain file.
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    // The handle starts at the beginning of the file, so ending the file there empties it.
    if (!IsRegularFile(handle) || (fresh && !SetEndOfFile(handle))) {
        CloseHandle(handle);
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_APPEND | _O_TEXT);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "a");
    if (file == nullptr) _close(fd);
    return file;
}

ClockReading LocalClock() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return FromSystemTime(t);
}

ClockReading UtcClock() {
    SYSTEMTIME t{};
    GetSystemTime(&t);
    return FromSystemTime(t);
}

void DispatchThreadMessage() {
    MSG message{};
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return;
    if (message.message == WM_QUIT) {
        // Dispatching would lose it and the host's loop would never end.
        t_quitTaken = true;
        t_quitCode = message.wParam;
        return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

CallScope::CallScope() { ++t_callDepth; }

void testing::SetDefaultTimeoutLogDirectory(const char* directory) {
    g_defaultLogDirectory = directory != nullptr ? directory : "";
}

CallScope::~CallScope() {
    if (--t_callDepth > 0 || !t_quitTaken) return;
    t_quitTaken = false;
    PostQuitMessage(static_cast<int>(t_quitCode));
}

}  // namespace lumenord::os
