// Why the pad's port could not be opened. The driver says only that the open failed (-1); the
// tool then looks at the device itself: whether it is there, whether the user may open it,
// whether it is a terminal, and who holds it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "pad_port.h"

namespace cli {

// The device the driver opens for `target`: the device path as given, or for port comN the
// device that key COMN of [PORTS] in ./sysconfig.ini names, else /dev/ttyS(N-1).
std::string DeviceOf(const PortTarget& target);

// A process that has the device open.
struct DeviceHolder {
    pid_t pid = 0;
    std::string command;  // its name (comm), printable characters only; "" when unknown
};

// The other processes that have `device` open, found through /proc/*/fd; the one that holds
// the exclusive lock (/proc/locks) first, and alone when it is among them.
std::vector<DeviceHolder> FindDeviceHolders(const std::string& device);

// Why open() of `device` failed with `error`, for the errors that have their own message
// (missing device, permission denied, busy); nothing for the others.
std::optional<std::string> DescribeOpenError(int error);

// Why `device` cannot be opened as the pad's port, found by looking at it now (its stat, a
// non-blocking open and its errno, whether it is a terminal, whether another process holds it).
// Nothing when it now looks fine (it may have been freed meanwhile).
std::optional<std::string> FindOpenFailure(const std::string& device);

// The step's message after the driver's open of `target` failed with `result`.
std::string OpenFailureMessage(const PortTarget& target, int result);

}  // namespace cli
