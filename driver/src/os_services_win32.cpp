// Windows side of the driver's operating-system services.
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "os_services.h"

namespace lumenord::os {
namespace {

// Per calling thread: how deep it is in exported calls, and a quit request taken meanwhile.
thread_local int t_callDepth = 0;
thread_local bool t_quitTaken = false;
thread_local WPARAM t_quitCode = 0;

// Set by tests only; empty: the system's own directory.
std::string g_defaultLogDirectory;

// Whether the open handle is a plain file on a disk (not a directory, link, pipe or device) with
// no other name: emptying a log with a second hard link would empty that other file too.
bool IsLoneRegularFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               0 &&
           info.nNumberOfLinks == 1;
}

// `path` in the system's wide form, converted from the ANSI code page as CreateFileA converts it.
std::optional<std::wstring> WidePath(const char* path) {
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide.data(), length) != length)
        return std::nullopt;
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

// The name that `handle` has at the end of every link on its way ("\\?\" form).
std::optional<std::wstring> FinalPath(HANDLE handle) {
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(
            handle, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
        if (length == 0) return std::nullopt;
        if (length < name.size()) return std::wstring(name.data(), length);
        name.resize(length + 1);
    }
}

std::optional<std::wstring> FullPath(const std::wstring& path) {
    std::vector<wchar_t> full(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return std::nullopt;
        if (length < full.size()) return std::wstring(full.data(), length);
        full.resize(length + 1);
    }
}

// Whether the open `file` is the entry at `path` itself rather than a file that a symbolic link
// there leads to. Wine opens a Unix symbolic link as the file it leads to and does not report it
// as a reparse point; so the file's final name is compared with the final name of its folder
// followed by the entry's own name as the folder lists it. A link further up (a linked folder)
// changes both alike.
bool IsReachedWithoutLink(HANDLE file, const std::wstring& path) {
    const std::optional<std::wstring> full = FullPath(path);
    if (!full) return false;
    const std::size_t slash = full->find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == full->size()) return false;
    // The folder keeps its backslash where it is a drive's root ("C:\\").
    const std::wstring folderName =
        full->substr(0, slash > 0 && (*full)[slash - 1] == L':' ? slash + 1 : slash);
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(full->c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    HANDLE folder =
        CreateFileW(folderName.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    std::optional<std::wstring> expected = FinalPath(folder);
    CloseHandle(folder);
    const std::optional<std::wstring> actual = FinalPath(file);
    if (!expected || !actual) return false;
    if (expected->empty() || expected->back() != L'\\') *expected += L'\\';
    *expected += entry.cFileName;
    return *actual == *expected;
}

// Opens the log at `path` for writing without following a reparse point there, creating it when
// it is missing. A new file is made only where nothing is at `path`: wine would create the target
// of a Unix symbolic link to nothing, where creating a new file fails instead.
HANDLE OpenOrCreateLog(const std::wstring& path) {
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    // A file that appears between the two tries (another process logging) is opened at the third.
    for (DWORD disposition : {OPEN_EXISTING, CREATE_NEW, OPEN_EXISTING}) {
        HANDLE handle =
            CreateFileW(path.c_str(), GENERIC_WRITE, kShare, nullptr, disposition, kFlags, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return handle;
        const DWORD error = GetLastError();
        if (error != (disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_FILE_NOT_FOUND)) break;
    }
    return INVALID_HANDLE_VALUE;
}

ClockReading FromSystemTime(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace

const char* DefaultTimeoutLogDirectory() {
    return g_defaultLogDirectory.empty() ? "C:\\halmstrom\\" : g_defaultLogDirectory.c_str();
}

std::FILE* OpenLogFile(const char* path, bool fresh) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide || wide->empty()) return nullptr;
    // A reparse point (a symbolic link or junction) is opened as itself, not followed, and then
    // refused with everything else that is not a plain file; a Unix symbolic link under wine is
    // refused by name. Nothing is written or emptied before these checks.
    // The POSIX side's rules on whose links are followed have no faithful equivalent here: none.
    HANDLE handle = OpenOrCreateLog(*wide);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    // The handle starts at the beginning of the file, so ending the file there empties it.
    if (!IsLoneRegularFile(handle) || !IsReachedWithoutLink(handle, *wide) ||
        (fresh && !SetEndOfFile(handle))) {
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

bool ThreadMessagesPumped() { return true; }

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
