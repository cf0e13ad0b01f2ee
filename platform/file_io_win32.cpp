// Replacing small text files on Windows with the guarantees of the POSIX side: one writer at a
// time under a lock on "<target>.lock", the new content written to a temporary file beside the
// target and put in its place in one step, no temporary file left behind, regular files only.
#include <windows.h>
// <windows.h> makes ReplaceFile a macro for ReplaceFileA; this file defines platform::ReplaceFile.
#undef ReplaceFile

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_io.h"

namespace platform {
namespace {

constexpr std::wstring_view kTemporarySuffix = L".tmp";
constexpr std::size_t kTemporaryRandomLength = 6;
constexpr int kTemporaryNameAttempts = 100;
// A program that holds the target open without sharing it (the system's profile reads do, for a
// moment) makes opening or replacing it fail with a sharing violation. Windows signals no end to
// that, so the step is tried again after this pause, until kWriteLockDeadline has passed.
constexpr DWORD kSharingRetryStepMs = 10;
// Threads still waiting for locks that their writers gave up on; see LockBefore.
constexpr LONG kMostAbandonedLockWaits = 8;
volatile LONG g_abandonedLockWaits = 0;

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    void Reset(HANDLE handle) {
        Close();
        m_handle = handle;
    }
    HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }
    // Closes now and reports whether the close succeeded.
    bool Close() {
        if (!valid()) return true;
        return ::CloseHandle(Release()) != FALSE;
    }

private:
    HANDLE m_handle;
};

WriteResult Failure(DWORD code) {
    const int error = static_cast<int>(code);
    switch (code) {
        case ERROR_ACCESS_DENIED:
            return {WriteError::kPermission, error};
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return {WriteError::kInUse, error};
        case ERROR_WRITE_PROTECT:
            return {WriteError::kReadOnlyFileSystem, error};
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return {WriteError::kMissingFolder, error};
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return {WriteError::kDiskFull, error};
        case ERROR_CANT_RESOLVE_FILENAME:
            return {WriteError::kLinkLoop, error};
        default:
            return {WriteError::kSystemError, error};
    }
}

WriteResult LastFailure() { return Failure(::GetLastError()); }

// The path in the system's wide form (from the ANSI code page, as the profile reads take it),
// with forward slashes turned into backslashes; a bare name is one in the current directory, as
// the profile reads take it. Empty when it does not convert.
std::wstring WidePath(const char* path) {
    const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    if (wide.find_first_of(L"\\:") == std::wstring::npos) wide.insert(0, L".\\");
    return wide;
}

std::pair<std::wstring, std::wstring> SplitPath(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\:");
    if (slash == std::wstring::npos) return {L".", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool IsDiskFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The name that `file` has at the end of every link on its way (FILE_NAME_NORMALIZED, "\\?\" form).
std::optional<std::wstring> FinalPath(HANDLE file, DWORD& error) {
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            file, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
        if (length == 0) {
            error = ::GetLastError();
            return std::nullopt;
        }
        if (length < name.size()) return std::wstring(name.data(), length);
        name.resize(length + 1);
    }
}

// The file that writing `path` must replace: the one at the end of its links, taken from the
// opened file itself, since wine follows a Unix symbolic link without reporting it as a reparse
// point; `path` itself when nothing is there yet. Replacing that file, never the name at `path`,
// keeps a link in place: replacing the link would move it aside and, under wine, lose its target.
// A link to nothing opens nothing either: the file is then made where the link is.
std::optional<std::wstring> FinalTarget(const std::wstring& path, DWORD& error) {
    // No access asked for: neither the file's permissions nor a program that holds it open
    // without sharing stand in the way of learning its name.
    Handle file(::CreateFileW(path.c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return path;
        return std::nullopt;
    }
    return FinalPath(file.get(), error);
}

// Runs `attempt` (a system call that reports failure through GetLastError) until it succeeds, it
// fails for another reason than a sharing violation, or `deadlineMs` (of GetTickCount64) passes.
template <typename Attempt>
bool RetryWhileInUse(ULONGLONG deadlineMs, Attempt attempt) {
    for (;;) {
        if (attempt()) return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION || ::GetTickCount64() >= deadlineMs) {
            ::SetLastError(error);
            return false;
        }
        ::Sleep(kSharingRetryStepMs);
    }
}

// One blocking LockFileEx, run on a thread of its own so that the writer can stop waiting at its
// deadline. Whoever comes second owns the lock file's handle: the writer when the lock came in
// time, the thread when the writer had given up (it then closes it, releasing the lock it got).
struct LockWait {
    enum : LONG { kWaiting, kLocked, kAbandoned };
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE finished = nullptr;  // set when the lock was taken or failed
    volatile LONG state = kWaiting;
    volatile LONG references = 2;  // the writer and the thread
    DWORD error = ERROR_SUCCESS;

    void Unreference() {
        if (::InterlockedDecrement(&references) == 0) {
            ::CloseHandle(finished);
            delete this;
        }
    }
};

DWORD WINAPI WaitForLock(void* argument) {
    auto* wait = static_cast<LockWait*>(argument);
    OVERLAPPED whole{};
    if (!::LockFileEx(wait->file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        wait->error = ::GetLastError();
    }
    if (::InterlockedCompareExchange(&wait->state, LockWait::kLocked, LockWait::kWaiting) ==
        LockWait::kAbandoned) {
        ::CloseHandle(wait->file);
        ::InterlockedDecrement(&g_abandonedLockWaits);
    } else {
        ::SetEvent(wait->finished);
    }
    wait->Unreference();
    return 0;
}

// Takes the exclusive lock on `file`, waiting in turn with the other writers until `deadlineMs`
// (of GetTickCount64) at the latest. A writer that gives up leaves the handle to the thread.
WriteResult LockBefore(Handle& file, ULONGLONG deadlineMs) {
    OVERLAPPED whole{};
    if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                     MAXDWORD, &whole)) {
        return {};
    }
    if (::GetLastError() != ERROR_LOCK_VIOLATION && ::GetLastError() != ERROR_IO_PENDING) {
        return LastFailure();
    }
    // A lock that another process never releases would keep each waiting thread for ever; past
    // this many, a write that finds the lock taken fails at once instead of adding another.
    if (g_abandonedLockWaits >= kMostAbandonedLockWaits) return {WriteError::kLockTimeout};
    auto* wait = new LockWait;
    wait->file = file.get();
    wait->finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread =
        wait->finished ? ::CreateThread(nullptr, 0, WaitForLock, wait, 0, nullptr) : nullptr;
    if (thread == nullptr) {
        const DWORD error = ::GetLastError();
        if (wait->finished) ::CloseHandle(wait->finished);
        delete wait;
        return {WriteError::kSystemError, static_cast<int>(error)};
    }
    ::CloseHandle(thread);
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = deadlineMs > now ? static_cast<DWORD>(deadlineMs - now) : 0;
    WriteResult result;
    if (::WaitForSingleObject(wait->finished, left) == WAIT_OBJECT_0 ||
        ::InterlockedCompareExchange(&wait->state, LockWait::kAbandoned, LockWait::kWaiting) !=
            LockWait::kWaiting) {
        // The lock came in time, or in the instant between the deadline and giving up.
        ::WaitForSingleObject(wait->finished, INFINITE);
        if (wait->error != ERROR_SUCCESS) result = Failure(wait->error);
    } else {
        ::InterlockedIncrement(&g_abandonedLockWaits);
        file.Release();
        result = {WriteError::kLockTimeout};
    }
    wait->Unreference();
    return result;
}

// An exclusive lock on "<target>.lock" held for the object's lifetime, shared by every writer of
// the target in any process; each writer opens the file anew, so threads exclude each other too.
class WriterLock {
public:
    explicit WriterLock(const std::wstring& target) {
        const std::wstring path = target + L".lock";
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
            m_result = {WriteError::kNotRegularFile};
            return;
        }
        m_file.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_file.valid()) {
            m_result = LastFailure();
        } else if (!IsDiskFile(m_file.get())) {
            m_result = {WriteError::kNotRegularFile};
        } else {
            m_result = LockBefore(m_file, ::GetTickCount64() + kWriteLockDeadline.count());
        }
    }
    const WriteResult& result() const { return m_result; }

private:
    Handle m_file;  // closing it releases the lock
    WriteResult m_result;
};

bool IsTemporaryOf(std::wstring_view name, std::wstring_view base) {
    if (name.size() != base.size() + kTemporarySuffix.size() + kTemporaryRandomLength) return false;
    if (::CompareStringOrdinal(name.data(), static_cast<int>(base.size()), base.data(),
                               static_cast<int>(base.size()), TRUE) != CSTR_EQUAL) {
        return false;
    }
    name.remove_prefix(base.size());
    if (name.substr(0, kTemporarySuffix.size()) != kTemporarySuffix) return false;
    name.remove_prefix(kTemporarySuffix.size());
    for (wchar_t c : name) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'))) {
            return false;
        }
    }
    return true;
}

// Removes the temporary files of writers that were killed mid-write. Called under the lock, when
// no live writer has one.
void RemoveStaleTemporaries(const std::wstring& target) {
    const auto [folder, base] = SplitPath(target);
    const std::wstring pattern = target + std::wstring(kTemporarySuffix) + L"*";
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> stale;
    do {
        const DWORD kept = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if ((found.dwFileAttributes & kept) == 0 && IsTemporaryOf(found.cFileName, base)) {
            stale.emplace_back(found.cFileName);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    const std::wstring prefix = folder == L"." ? L"" : folder;
    for (const std::wstring& name : stale) ::DeleteFileW((prefix + name).c_str());
}

// A new temporary file "<target>.tmpXXXXXX" (letters and digits), opened for writing.
Handle CreateTemporary(const std::wstring& target, std::wstring& name, DWORD& error) {
    static const wchar_t kAlphabet[] =
        L"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    unsigned long long seed = static_cast<unsigned long long>(counter.QuadPart) ^
                              (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32) ^
                              ::GetCurrentThreadId();
    error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        name = target + std::wstring(kTemporarySuffix);
        for (std::size_t i = 0; i < kTemporaryRandomLength; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            name += kAlphabet[(seed >> 33) % (sizeof kAlphabet / sizeof kAlphabet[0] - 1)];
        }
        Handle file(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) return Handle(file.Release());
        error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return Handle();
}

bool WriteAll(HANDLE file, const std::string& content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const DWORD chunk = static_cast<DWORD>(left < (1u << 30) ? left : (1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr)) return false;
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// Puts the temporary file in the target's place. An existing target is replaced with
// ReplaceFileW, which keeps its attributes and security; a new one is a rename that reaches the
// disk before it returns.
bool PutInPlace(const std::wstring& temporary, const std::wstring& target, bool exists,
                ULONGLONG inUseDeadlineMs) {
    return RetryWhileInUse(inUseDeadlineMs, [&] {
        return exists ? ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE
                      : ::MoveFileExW(temporary.c_str(), target.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    });
}

WriteResult WriteAndReplace(const std::wstring& target, const std::string& content, bool exists,
                            ULONGLONG inUseDeadlineMs) {
    std::wstring name;
    DWORD error = ERROR_SUCCESS;
    Handle file = CreateTemporary(target, name, error);
    if (!file.valid()) return Failure(error);
    WriteResult result;
    if (!WriteAll(file.get(), content) || !::FlushFileBuffers(file.get())) result = LastFailure();
    if (!file.Close() && result.ok()) result = LastFailure();
    if (result.ok() && !PutInPlace(name, target, exists, inUseDeadlineMs)) result = LastFailure();
    if (!result.ok()) ::DeleteFileW(name.c_str());
    return result;
}

// Reads the rest of `file`; fails (ERROR_FILE_TOO_LARGE) beyond `maxSize` bytes.
std::optional<std::string> ReadAll(HANDLE file, std::size_t maxSize) {
    std::string content;
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return std::nullopt;
        if (got == 0) return content;
        if (content.size() + got > maxSize) {
            ::SetLastError(ERROR_FILE_TOO_LARGE);
            return std::nullopt;
        }
        content.append(chunk, got);
    }
}

}  // namespace

// Windows has no permission bits for others that a rewrite could take away: `FileContent` makes
// no difference here (a new file gets its folder's inherited security).
WriteResult ReplaceFile(const char* path, std::size_t maxSize,
                        const std::function<std::string(const std::string&)>& edit, FileContent) {
    if (path == nullptr || *path == '\0') return {WriteError::kNoPath};
    const std::wstring wide = WidePath(path);
    if (wide.empty()) return {WriteError::kSystemError, ERROR_NO_UNICODE_TRANSLATION};
    DWORD error = ERROR_SUCCESS;
    // The POSIX side's rules on whose links are followed have no faithful equivalent here: none.
    const std::optional<std::wstring> target = FinalTarget(wide, error);
    if (!target) return Failure(error);
    const WriterLock lock(*target);
    if (!lock.result().ok()) return lock.result();
    RemoveStaleTemporaries(*target);
    // A program that holds the file open without sharing is waited for as long as a lock.
    const ULONGLONG inUseDeadlineMs = ::GetTickCount64() + kWriteLockDeadline.count();

    std::optional<std::string> current;  // nothing: a new file
    const DWORD attributes = ::GetFileAttributesW(target->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {WriteError::kNotRegularFile};
        if (attributes & FILE_ATTRIBUTE_READONLY) return {WriteError::kReadOnlyFile};
        // Opening for writing too refuses a file that this process may not write.
        Handle file;
        if (!RetryWhileInUse(inUseDeadlineMs, [&] {
                file.Reset(::CreateFileW(target->c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                return file.valid();
            })) {
            return LastFailure();
        }
        if (!IsDiskFile(file.get())) return {WriteError::kNotRegularFile};
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file.get(), &size)) return LastFailure();
        if (static_cast<unsigned long long>(size.QuadPart) > maxSize) {
            return {WriteError::kTooLarge};
        }
        current = ReadAll(file.get(), maxSize);
        if (!current) {
            const DWORD readError = ::GetLastError();
            if (readError == ERROR_FILE_TOO_LARGE) return {WriteError::kTooLarge};
            return Failure(readError);
        }
    } else if (const DWORD missing = ::GetLastError(); missing != ERROR_FILE_NOT_FOUND) {
        return Failure(missing);
    }
    const std::string content = edit(current.value_or(std::string()));
    // Readers refuse a file beyond the limit: writing one would lock every later write out.
    if (content.size() > maxSize) return {WriteError::kTooLarge};
    // A write that changes nothing is not made (many writers recording the same values).
    if (current && *current == content) return {};
    return WriteAndReplace(*target, content, current.has_value(), inUseDeadlineMs);
}

}  // namespace platform
