#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "file_io.h"

namespace platform {
namespace {

// A chain of symbolic links longer than this is treated as a loop, as the kernel does.
constexpr int kMaxLinkHops = 40;
// mkstemp replaces the six X of the temporary file name with letters and digits.
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTemporaryRandomLength = 6;
// Threads still waiting for locks that their writers gave up on. A lock that another process
// never releases would keep each such thread for ever; past this many, a write that finds the
// lock taken fails at once instead of adding another.
constexpr int kMostAbandonedLockWaits = 8;
std::atomic<int> g_abandonedLockWaits{0};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Hands the descriptor over to another owner.
    int Release() { return std::exchange(m_fd, -1); }
    // Closes now and reports whether the close succeeded (a late write error shows up here).
    bool Close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || close(fd) == 0;
    }

private:
    int m_fd;
};

// The folder and the name of `path`; the folder of a bare name is ".".
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    if (slash == 0) return {"/", path.substr(1)};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// The failure that the errno `error` of a failing step stands for.
WriteResult Failure(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return {WriteError::kPermission, error};
        case EROFS:
            return {WriteError::kReadOnlyFileSystem, error};
        case ENOSPC:
        case EDQUOT:
            return {WriteError::kDiskFull, error};
        case EFBIG:
            return {WriteError::kTooLarge, error};
        case ENOENT:
        case ENOTDIR:
            return {WriteError::kMissingFolder, error};
        case ELOOP:
            return {WriteError::kLinkLoop, error};
        case ENAMETOOLONG:
            return {WriteError::kNameTooLong, error};
        default:
            return {WriteError::kSystemError, error};
    }
}

bool IsRegular(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Reads what is left of `fd`; fails beyond `maxSize` bytes (errno EFBIG) or with the read's errno.
std::optional<std::string> ReadAll(int fd, std::size_t maxSize) {
    std::string content;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) return content;
        if (content.size() + static_cast<std::size_t>(got) > maxSize) {
            errno = EFBIG;
            return std::nullopt;
        }
        content.append(chunk, static_cast<std::size_t>(got));
    }
}

bool WriteAll(int fd, const std::string& content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// A link or file that this user may trust: its own, or root's.
bool OwnedByUserOrRoot(const struct stat& st) { return st.st_uid == geteuid() || st.st_uid == 0; }

// A folder that every user may write and only the sticky bit shares out (/tmp): a link there may
// have been planted by anyone for whoever comes next.
bool IsSharedStickyFolder(const std::string& folder) {
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && (st.st_mode & S_ISVTX) != 0 &&
           (st.st_mode & S_IWOTH) != 0;
}

// The file that writing a path must replace.
struct WriteTarget {
    std::string path;      // the end of the chain of symbolic links (which may not exist yet)
    bool viaLink = false;  // whether a link was followed to get there
};

// Follows the symbolic links at `path` as far as this user may trust them. Nothing, with the
// reason in `failure`, for a loop, an unreadable link, or a link that another user owns or that
// stands in a shared sticky folder.
std::optional<WriteTarget> ResolveLinks(std::string path, WriteResult& failure) {
    WriteTarget target;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                failure = Failure(errno);
                return std::nullopt;
            }
            target.path = path;
            return target;
        }
        if (!S_ISLNK(st.st_mode)) {
            target.path = path;
            return target;
        }
        if (!OwnedByUserOrRoot(st)) {
            failure = {WriteError::kUntrustedLink};
            return std::nullopt;
        }
        if (IsSharedStickyFolder(SplitPath(path).first)) {
            failure = {WriteError::kLinkInSharedFolder};
            return std::nullopt;
        }
        std::vector<char> link(static_cast<std::size_t>(st.st_size) + 2);
        const ssize_t n = readlink(path.c_str(), link.data(), link.size());
        // A link that grew since lstat is retried on the next hop with its new size.
        if (n < 0) {
            failure = Failure(errno);
            return std::nullopt;
        }
        if (static_cast<std::size_t>(n) >= link.size()) continue;
        std::string next(link.data(), static_cast<std::size_t>(n));
        path = next.front() == '/' ? next : SplitPath(path).first.append("/").append(next);
        target.viaLink = true;
    }
    failure = {WriteError::kLinkLoop, ELOOP};
    return std::nullopt;
}

// What keeps an existing target `st` from being replaced with `content`, before anything is
// opened: its kind, a link's target of another user, a secret that others could read behind a
// link, no write permission for anyone.
WriteResult CheckExistingTarget(const WriteTarget& target, const struct stat& st,
                                FileContent content) {
    if (!S_ISREG(st.st_mode)) return {WriteError::kNotRegularFile};
    if (target.viaLink && !OwnedByUserOrRoot(st)) return {WriteError::kUntrustedLink};
    if (target.viaLink && content == FileContent::kSecret && (st.st_mode & S_IROTH) != 0)
        return {WriteError::kReadableByOthers};
    // A file that nobody may write is kept as it is, by root too (as Windows keeps a file
    // with the read-only attribute).
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return {WriteError::kReadOnlyFile};
    return {};
}

// The file that a write to `path` replaces (`target`) and, when it `exists`, its status `st`,
// checked as far as can be before anything is opened.
WriteResult FindTarget(const char* path, FileContent secrecy, WriteTarget& target, struct stat& st,
                       bool& exists) {
    if (path == nullptr || *path == '\0') return {WriteError::kNoPath};
    WriteResult failure;
    std::optional<WriteTarget> found = ResolveLinks(path, failure);
    if (!found) return failure;
    target = std::move(*found);
    exists = stat(target.path.c_str(), &st) == 0;
    if (exists) return CheckExistingTarget(target, st, secrecy);
    return errno == ENOENT ? WriteResult{} : Failure(errno);
}

// Opens (creating it) the lock file of `target`. Readable by all, so that a lock file made by
// one user does not shut out another user who may write the target; a read-only descriptor
// suffices for flock.
int OpenLockFile(const std::string& target) {
    const std::string path = target + ".lock";
    constexpr int kFlags = O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    if (fd >= 0 || errno != EACCES) return fd;
    const int readOnly = open(path.c_str(), O_RDONLY | kFlags);
    if (readOnly < 0) errno = EACCES;  // a lock file that cannot be made: the folder is closed
    return readOnly;
}

// One blocking flock, run on a thread of its own so that the writer can stop waiting at its
// deadline: flock has no timed wait, and no signal may be installed in the host process to
// interrupt it. Whoever comes second owns the descriptor: the writer when the flock returned in
// time, the thread when the writer had given up (it then closes it, releasing the lock it got).
struct LockWait {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    int error = 0;  // errno of a failed flock
    bool abandoned = false;
};

void WaitForLock(const std::shared_ptr<LockWait>& wait, int fd) {
    int error = 0;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    const std::lock_guard lock(wait->mutex);
    wait->done = true;
    wait->error = error;
    if (wait->abandoned) {
        close(fd);
        --g_abandonedLockWaits;
    } else {
        wait->finished.notify_one();
    }
}

// Takes the exclusive lock on `fd`, waiting in turn with the other writers until `deadline` at
// the latest. A writer that gives up leaves the descriptor to the waiting thread.
WriteResult LockBefore(FileDescriptor& fd, std::chrono::steady_clock::time_point deadline) {
    if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return {};
    if (errno != EWOULDBLOCK && errno != EINTR) return Failure(errno);
    if (g_abandonedLockWaits.load() >= kMostAbandonedLockWaits) return {WriteError::kLockTimeout};
    auto wait = std::make_shared<LockWait>();
    try {
        std::thread(WaitForLock, wait, fd.get()).detach();
    } catch (const std::system_error& error) {
        return {WriteError::kSystemError, error.code().value()};
    }
    std::unique_lock lock(wait->mutex);
    if (wait->finished.wait_until(lock, deadline, [&] { return wait->done; })) {
        return wait->error == 0 ? WriteResult{} : Failure(wait->error);
    }
    wait->abandoned = true;
    ++g_abandonedLockWaits;
    fd.Release();
    return {WriteError::kLockTimeout};
}

// An exclusive lock on "<target>.lock" held for the object's lifetime, shared by every writer of
// the target in any process (flock locks belong to an open file, so threads exclude each other
// too).
class WriterLock {
public:
    explicit WriterLock(const std::string& target) : m_fd(OpenLockFile(target)) {
        if (!m_fd.valid()) {
            m_result = Failure(errno);
        } else if (!IsRegular(m_fd.get())) {
            m_result = {WriteError::kNotRegularFile};
        } else {
            m_result = LockBefore(m_fd, std::chrono::steady_clock::now() + kWriteLockDeadline);
        }
    }
    const WriteResult& result() const { return m_result; }

private:
    FileDescriptor m_fd;  // closing it releases the lock
    WriteResult m_result;
};

bool IsTemporaryOf(std::string_view name, std::string_view base) {
    if (name.size() != base.size() + kTemporarySuffix.size() + kTemporaryRandomLength) return false;
    if (name.substr(0, base.size()) != base) return false;
    name.remove_prefix(base.size());
    if (name.substr(0, kTemporarySuffix.size()) != kTemporarySuffix) return false;
    name.remove_prefix(kTemporarySuffix.size());
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// Removes the temporary files of writers that were killed mid-write. Called under the lock, when
// no live writer has one.
void RemoveStaleTemporaries(const std::string& target) {
    const auto [folder, base] = SplitPath(target);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(dir)) {
        if (IsTemporaryOf(entry->d_name, base)) stale.emplace_back(entry->d_name);
    }
    for (const std::string& name : stale) {
        struct stat st {};
        if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode)) {
            unlinkat(dirfd(dir), name.c_str(), 0);
        }
    }
    closedir(dir);
}

// Gives the new file the owner, group and `mode` of the one it replaces (owner and group first:
// changing them clears set-id bits).
bool KeepOwnerAndMode(int fd, const struct stat& old, mode_t mode) {
    struct stat now {};
    if (fstat(fd, &now) != 0) return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        fchown(fd, old.st_uid, old.st_gid) != 0) {
        return false;
    }
    return fchmod(fd, mode) == 0;
}

void SyncFolder(const std::string& folder) {
    FileDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The rename has happened; a folder that cannot be flushed does not undo it.
    if (dir.valid()) fsync(dir.get());
}

// A new file's mode is `newMode` (the temporary file is created with 0600); a replaced one keeps
// its mode, less the permissions of others for a secret.
WriteResult WriteAndRename(const std::string& target, const std::string& content,
                           const struct stat* old, mode_t newMode = 0600,
                           FileContent secrecy = FileContent::kPlain) {
    std::string name = target + std::string(kTemporarySuffix) + "XXXXXX";
    FileDescriptor fd(mkostemp(name.data(), O_CLOEXEC));  // created with mode 0600
    if (!fd.valid()) return Failure(errno);
    WriteResult result;
    mode_t keptMode = old != nullptr ? old->st_mode & 07777 : 0;
    const bool removeOthers = secrecy == FileContent::kSecret && (keptMode & S_IRWXO) != 0;
    if (removeOthers) keptMode &= ~static_cast<mode_t>(S_IRWXO);
    if (old != nullptr && !KeepOwnerAndMode(fd.get(), *old, keptMode)) {
        result = {WriteError::kOwnerNotKept, errno};
        // NOLINTNEXTLINE(bugprone-branch-clone): two steps that fail alike, kept one per branch
    } else if (old == nullptr && newMode != 0600 && fchmod(fd.get(), newMode) != 0) {
        result = Failure(errno);
    } else if (!WriteAll(fd.get(), content) || fsync(fd.get()) != 0) {
        result = Failure(errno);
    }
    if (!fd.Close() && result.ok()) result = Failure(errno);
    if (result.ok() && rename(name.c_str(), target.c_str()) != 0) result = Failure(errno);
    if (!result.ok()) {
        unlink(name.c_str());
        return result;
    }
    SyncFolder(SplitPath(target).first);
    result.othersAccessRemoved = removeOthers;
    return result;
}

// Whether the temporary copy and the lock file of `file` can be named in `folder`: a name that
// fits alone may not fit with their suffixes, and the write would fail only at its end.
bool ReplacementNamesFit(const std::string& folder, const std::string& file) {
    const long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t longestSuffix = kTemporarySuffix.size() + std::string_view("XXXXXX").size();
    const std::size_t name = SplitPath(file).second.size() + longestSuffix;
    return (nameMax < 0 || name <= static_cast<std::size_t>(nameMax)) &&
           file.size() + longestSuffix < PATH_MAX;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const char* path, std::size_t maxSize) {
    struct stat st {};
    if (stat(path, &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::string();
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) return std::string();
    // Non-blocking, in case the file was swapped for a FIFO since the check.
    FileDescriptor fd(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) return std::string();
        return std::nullopt;
    }
    if (!IsRegular(fd.get())) return std::string();
    return ReadAll(fd.get(), maxSize);
}

WriteResult ReplaceFile(const char* path, std::size_t maxSize,
                        const std::function<std::string(const std::string&)>& edit,
                        FileContent secrecy) {
    WriteTarget target;
    struct stat st {};
    bool exists = false;
    // Checked before the lock too: its lock file is made beside a target that may not be ours.
    if (WriteResult refused = FindTarget(path, secrecy, target, st, exists); !refused.ok())
        return refused;
    const std::string& file = target.path;
    const WriterLock lock(file);
    if (!lock.result().ok()) return lock.result();
    RemoveStaleTemporaries(file);

    std::optional<std::string> current;  // nothing: a new file
    if (stat(file.c_str(), &st) == 0) {
        if (WriteResult refused = CheckExistingTarget(target, st, secrecy); !refused.ok())
            return refused;
        // Opening for writing too refuses a file that this process may not write.
        FileDescriptor fd(open(file.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd.valid() || fstat(fd.get(), &st) != 0) return Failure(errno);
        if (!S_ISREG(st.st_mode)) return {WriteError::kNotRegularFile};
        current = ReadAll(fd.get(), maxSize);
        if (!current) return Failure(errno);
    } else if (errno != ENOENT) {
        return Failure(errno);
    }
    const std::string content = edit(current.value_or(std::string()));
    // Readers refuse a file beyond the limit: writing one would lock every later write out.
    if (content.size() > maxSize) return {WriteError::kTooLarge};
    // A write that changes nothing is not made: many writers recording the same values (pads
    // of one rack loading the same keys) would otherwise each rewrite and flush the file. A
    // secret that others may read is rewritten all the same, to take their access away.
    const bool othersMayRead = secrecy == FileContent::kSecret && (st.st_mode & S_IRWXO) != 0;
    if (current && *current == content && !othersMayRead) return {};
    return WriteAndRename(file, content, current ? &st : nullptr, 0600, secrecy);
}

WriteResult CheckReplaceable(const char* path, FileContent secrecy) {
    WriteTarget target;
    struct stat st {};
    bool exists = false;
    if (WriteResult refused = FindTarget(path, secrecy, target, st, exists); !refused.ok())
        return refused;
    const std::string& file = target.path;
    if (exists && access(file.c_str(), W_OK) != 0) return Failure(errno);
    // The replacement, its lock file and its temporary file are made in the folder.
    const std::string folder = SplitPath(file).first;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {WriteError::kMissingFolder};
    if (access(folder.c_str(), W_OK | X_OK) != 0) return Failure(errno);
    if (!ReplacementNamesFit(folder, file)) return {WriteError::kNameTooLong};
    return {};
}

WriteResult ReplaceWholeFile(const char* path, const std::string& content) {
    if (path == nullptr || *path == '\0') return {WriteError::kNoPath};
    struct stat st {};
    const bool exists = lstat(path, &st) == 0;
    if (!exists && errno != ENOENT) return Failure(errno);
    if (exists) {
        if (!S_ISREG(st.st_mode)) return {WriteError::kNotRegularFile};
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return {WriteError::kReadOnlyFile};
    }
    return WriteAndRename(path, content, exists ? &st : nullptr, 0644);
}

}  // namespace platform
