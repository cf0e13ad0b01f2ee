// POSIX side of the driver's operating-system services.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>

#include "os_services.h"

namespace lumenord::os {
namespace {

// Set by tests only; empty: the system's own directory.
std::string g_defaultLogDirectory;

ClockReading Read(bool utc) {
    timeval now{};
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    tm fields{};
    if (utc) {
        gmtime_r(&seconds, &fields);
    } else {
        localtime_r(&seconds, &fields);
    }
    return {fields.tm_year + 1900,
            fields.tm_mon + 1,
            fields.tm_mday,
            fields.tm_hour,
            fields.tm_min,
            fields.tm_sec,
            static_cast<int>(now.tv_usec / 1000)};
}

}  // namespace

const char* DefaultTimeoutLogDirectory() {
    return g_defaultLogDirectory.empty() ? "/var/log/halmstrom" : g_defaultLogDirectory.c_str();
}

std::FILE* OpenLogFile(const char* path, bool fresh) {
    // What is already there and no regular file is not even opened: opening a FIFO or a device
    // can wait or have effects of its own.
    struct stat info {};
    if (lstat(path, &info) == 0 && !S_ISREG(info.st_mode)) return nullptr;
    // Something else may take its place meanwhile: the open neither waits nor follows a link,
    // and what it opened is looked at again before anything is written or emptied.
    int fd = open(
        path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    // A second hard link would make "emptying the trace" empty some other file too.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink > 1 ||
        (fresh && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "a");
    if (file == nullptr) close(fd);
    return file;
}

ClockReading LocalClock() { return Read(false); }
ClockReading UtcClock() { return Read(true); }

void DispatchThreadMessage() {}

bool ThreadMessagesPumped() { return false; }

CallScope::CallScope() = default;
CallScope::~CallScope() = default;

void testing::SetDefaultTimeoutLogDirectory(const char* directory) {
    g_defaultLogDirectory = directory != nullptr ? directory : "";
}

}  // namespace lumenord::os
