// The system calls with which the POSIX serial port serves commands (waits, reads, writes,
// purges, ioctls), reached through one table so that tests can count them, or make them fail,
// without a device that misbehaves. Every such call in the backend goes through the table; only
// opening, closing and setting the line's attributes call the C library directly.
#pragma once

#include <poll.h>
#include <sys/types.h>

namespace lumenord::posix {

struct SystemCalls {
    int (*poll)(pollfd* fds, nfds_t count, int timeoutMs);
    ssize_t (*read)(int fd, void* bytes, size_t count);
    ssize_t (*write)(int fd, const void* bytes, size_t count);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*tcflush)(int fd, int queues);
};

// The table in force; it starts with the C library's functions.
SystemCalls& Calls();

}  // namespace lumenord::posix
