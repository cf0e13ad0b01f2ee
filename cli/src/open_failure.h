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

// Who may open a device, for the advice when this user may not.
struct DeviceAccess {
    bool found = false;              // the device could be looked at
    bool groupMayOpen = false;       // its group may read and write it
    bool userListedInGroup = false;  // the user is in that group by /etc/group (or primary)
    bool processHasGroup = false;    // this process has that group already
    std::string user;                // this process's user
    std::string owner;               // the device's owner
    std::string group;               // the device's group
};
DeviceAccess LookUpAccess(const std::string& device);
// What to do when this user may not open the device: join its group (named, with the user's
// name), log in again, or give it a group, since only its owner may open it.
std::string PermissionAdvice(const DeviceAccess& access);

// Why open() of `device` failed with `error`, for the errors that have their own message
// (missing device, permission denied, busy); nothing for the others.
std::optional<std::string> DescribeOpenError(int error, const std::string& device);

// Why `device` cannot be opened as the pad's port, found by looking at it now (its stat, a
// non-blocking open and its errno, whether it is a terminal, whether another process holds it).
// Nothing when it now looks fine (it may have been freed meanwhile).
std::optional<std::string> FindOpenFailure(const std::string& device);

// The step's message after the driver's open of `target` failed with `result`.
std::string OpenFailureMessage(const PortTarget& target, int result);

}  // namespace cli
