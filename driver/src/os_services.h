// What the driver takes from the operating system besides the serial port: the device behind a
// port number, where the time-out log goes by default, log files opened safely, the wall clock,
// and the calling thread's own window messages. One implementation per system
// (os_services_posix.cpp, _win32.cpp).
#pragma once

#include <cstdio>
#include <string>

namespace lumenord::os {

// The time-out log's directory when the settings name none: /var/log/halmstrom, C:\halmstrom\.
const char* DefaultTimeoutLogDirectory();

// Opens the log file `path` to append entries (created when missing, readable and writable by its
// owner only; emptied first when `fresh`). Only a regular file with no other hard link is used,
// and only one reached without following a symbolic link at `path` itself: for a FIFO, device,
// directory or link, a file with other names, or a file that cannot be opened, the result is
// null, at once and with nothing at `path` or behind it changed.
std::FILE* OpenLogFile(const char* path, bool fresh);

struct ClockReading {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};
ClockReading LocalClock();
ClockReading UtcClock();

// Takes one window message of the calling thread, if one is waiting, and dispatches it (Windows;
// elsewhere threads have no such queue). A quit request is kept back until the driver call ends,
// so that the host's own message loop still sees it.
void DispatchThreadMessage();
// Whether the calling thread has window messages that waits must dispatch (Windows: yes).
bool ThreadMessagesPumped();

// Lives for one exported call; at its end hands a quit request that the call took back to the
// calling thread's queue.
class CallScope {
public:
    CallScope();
    // NOLINTNEXTLINE(performance-trivially-destructible): not trivial in os_services_win32.cpp
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

namespace testing {
// Makes DefaultTimeoutLogDirectory name `directory` instead (null: the system's own again), so
// that tests can see what the driver logs there.
void SetDefaultTimeoutLogDirectory(const char* directory);
}  // namespace testing

}  // namespace lumenord::os
