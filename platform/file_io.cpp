#include "file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

// A chain of symbolic links longer than this is treated as a loop, as the kernel does.
constexpr int kMaxLinkHops = 40;
// mkstemp replaces the six X of the temporary file name with letters and digits.
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTemporaryRandomLength = 6;
constexpr auto kLockRetryLongest = 16ms;

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

bool IsRegular(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Reads what is left of `fd`; fails beyond `maxSize` bytes.
std::optional<std::string> ReadAll(int fd, std::size_t maxSize) {
    std::string content;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) return content;
        if (content.size() + static_cast<std::size_t>(got) > maxSize) return std::nullopt;
        content.append(chunk, static_cast<std::size_t>(got));
    }
}

bool WriteAll(int fd, const std::string& content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The file that writing `path` must replace: the end of its chain of symbolic links (which may
// not exist yet). Nothing for a loop or an unreadable link.
std::optional<std::string> ResolveLinks(std::string path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return path;
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) return path;
        std::vector<char> link(static_cast<std::size_t>(st.st_size) + 2);
        const ssize_t n = readlink(path.c_str(), link.data(), link.size());
        // A link that grew since lstat is retried on the next hop with its new size.
        if (n < 0) return std::nullopt;
        if (static_cast<std::size_t>(n) >= link.size()) continue;
        std::string target(link.data(), static_cast<std::size_t>(n));
        path = target.front() == '/' ? target : SplitPath(path).first + "/" + target;
    }
    return std::nullopt;
}

// Opens (creating it) the lock file of `target`. Readable by all, so that a lock file made by
// one user does not shut out another user who may write the target; a read-only descriptor
// suffices for flock.
int OpenLockFile(const std::string& target) {
    const std::string path = target + ".lock";
    constexpr int kFlags = O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    if (fd < 0 && errno == EACCES) return open(path.c_str(), O_RDONLY | kFlags);
    return fd;
}

// An exclusive lock on "<target>.lock" held for the object's lifetime, shared by every writer of
// the target in any process (flock locks belong to an open file, so threads exclude each other
// too).
class WriterLock {
public:
    explicit WriterLock(const std::string& target) : m_fd(OpenLockFile(target)) {
        if (!m_fd.valid() || !IsRegular(m_fd.get())) return;
        const auto deadline = std::chrono::steady_clock::now() + kWriteLockDeadline;
        auto pause = 1ms;
        for (;;) {
            if (flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0) {
                m_held = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) return;
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return;
            // flock has no timed wait: retry after a short pause that grows, up to the deadline.
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
            pause = std::min<std::chrono::milliseconds>(pause * 2, kLockRetryLongest);
        }
    }
    bool held() const { return m_held; }

private:
    FileDescriptor m_fd;  // closing it releases the lock
    bool m_held = false;
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

// Gives the new file the owner, group and mode of the one it replaces (owner and group first:
// changing them clears set-id bits).
bool KeepOwnerAndMode(int fd, const struct stat& old) {
    struct stat now {};
    if (fstat(fd, &now) != 0) return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        fchown(fd, old.st_uid, old.st_gid) != 0) {
        return false;
    }
    return fchmod(fd, old.st_mode & 07777) == 0;
}

void SyncFolder(const std::string& folder) {
    FileDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The rename has happened; a folder that cannot be flushed does not undo it.
    if (dir.valid()) fsync(dir.get());
}

bool WriteAndRename(const std::string& target, const std::string& content, const struct stat* old) {
    std::string name = target + std::string(kTemporarySuffix) + "XXXXXX";
    FileDescriptor fd(mkostemp(name.data(), O_CLOEXEC));  // created with mode 0600
    if (!fd.valid()) return false;
    bool ok = old == nullptr || KeepOwnerAndMode(fd.get(), *old);
    ok = ok && WriteAll(fd.get(), content) && fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && rename(name.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(name.c_str());
        return false;
    }
    SyncFolder(SplitPath(target).first);
    return true;
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

bool ReplaceFile(const char* path, std::size_t maxSize,
                 const std::function<std::string(const std::string&)>& edit) {
    if (path == nullptr || *path == '\0') return false;
    const std::optional<std::string> target = ResolveLinks(path);
    if (!target) return false;
    const WriterLock lock(*target);
    if (!lock.held()) return false;
    RemoveStaleTemporaries(*target);

    std::optional<std::string> current;  // nothing: a new file
    struct stat st {};
    if (stat(target->c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        // Opening for writing too refuses a file that this process may not write.
        FileDescriptor fd(open(target->c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        current = ReadAll(fd.get(), maxSize);
        if (!current) return false;
    } else if (errno != ENOENT) {
        return false;
    }
    return WriteAndRename(*target, edit(current.value_or(std::string())), current ? &st : nullptr);
}

}  // namespace platform
