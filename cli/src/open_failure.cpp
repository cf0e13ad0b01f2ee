#include "open_failure.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "hex_text.h"
#include "pinpad.h"
#include "profile.h"
#include "report.h"
#include "serial_devices.h"

namespace cli {
namespace {

// Bounds on what is read from /proc, which other processes fill.
constexpr std::size_t kMaxCommandName = 64;
constexpr std::size_t kMaxLockLines = 100000;
constexpr std::size_t kMaxNamedHolders = 3;
// The longest device path the driver takes from ./sysconfig.ini.
constexpr std::size_t kMaxMappedPath = 512;

// The login name of `uid`, or its number when it has none.
std::string NameOfUser(uid_t uid) {
    if (const passwd* entry = getpwuid(uid)) return entry->pw_name;
    return std::to_string(uid);
}

bool ProcessHasGroup(gid_t gid) {
    if (getegid() == gid) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

bool IsNumber(const char* name) {
    if (*name == '\0') return false;
    for (; *name != '\0'; ++name)
        if (*name < '0' || *name > '9') return false;
    return true;
}

// The process's name as /proc gives it, its unprintable characters as '?'.
std::string CommandOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
    std::string name(kMaxCommandName, '\0');
    file.read(name.data(), static_cast<std::streamsize>(name.size()));
    name.resize(static_cast<std::size_t>(file.gcount()));
    while (!name.empty() && name.back() == '\n') name.pop_back();
    for (char& c : name)
        if (c < 0x20 || c > 0x7E) c = '?';
    return name;
}

bool HasDeviceOpen(pid_t pid, dev_t device) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(folder.c_str());
    if (fds == nullptr) return false;
    bool found = false;
    while (const dirent* entry = readdir(fds)) {
        if (!IsNumber(entry->d_name)) continue;
        struct stat info {};
        // stat follows the descriptor's link to what it has open.
        if (stat((folder + "/" + entry->d_name).c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
            info.st_rdev == device) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

// The process that holds a flock() on the file `node` (/proc/locks: "1: FLOCK ADVISORY WRITE
// PID MAJ:MIN:INODE 0 EOF"), or 0.
pid_t FlockHolder(const struct stat& node) {
    std::ifstream locks("/proc/locks");
    char expected[64];
    std::snprintf(expected, sizeof expected, "%02x:%02x:%llu", major(node.st_dev),
                  minor(node.st_dev), static_cast<unsigned long long>(node.st_ino));
    std::string line;
    for (std::size_t n = 0; n < kMaxLockLines && std::getline(locks, line); ++n) {
        std::istringstream fields(line);
        std::string id, kind, mode, access, pid, file;
        fields >> id >> kind >> mode >> access >> pid >> file;
        if (kind == "FLOCK" && file == expected) return static_cast<pid_t>(std::atoi(pid.c_str()));
    }
    return 0;
}

std::string NameHolders(const std::vector<DeviceHolder>& holders) {
    std::string names;
    for (std::size_t i = 0; i < holders.size() && i < kMaxNamedHolders; ++i) {
        if (i > 0) names += i + 1 == holders.size() ? " or " : ", ";
        names += "process " + std::to_string(holders[i].pid);
        if (!holders[i].command.empty()) names += " (" + holders[i].command + ")";
    }
    if (holders.size() > kMaxNamedHolders) names += ", ...";
    return names;
}

std::string Busy(const std::string& device) {
    const std::vector<DeviceHolder> holders = FindDeviceHolders(device);
    if (holders.empty()) return "busy: another process holds it";
    return "busy: held by " + NameHolders(holders);
}

// What a file that is no character device is, for the message.
std::string NotATerminal(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return "a directory, not a terminal";
    if (S_ISREG(info.st_mode)) return "a regular file, not a terminal";
    if (S_ISFIFO(info.st_mode)) return "a FIFO, not a terminal";
    if (S_ISSOCK(info.st_mode)) return "a socket, not a terminal";
    return "not a terminal";
}

// Opens the character device as the driver does, without waiting and without becoming its
// controlling terminal, to learn why the driver's open failed.
std::optional<std::string> ProbeCharacterDevice(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (std::optional<std::string> known = DescribeOpenError(error, device)) {
            return error == EBUSY ? Busy(device) : *known;
        }
        return std::nullopt;
    }
    std::optional<std::string> why;
    termios settings{};
    if (!isatty(fd) || tcgetattr(fd, &settings) != 0) {
        why = "a character device, not a terminal";
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        why = Busy(device);
    }
    close(fd);
    return why;
}

}  // namespace

std::string DeviceOf(const PortTarget& target) {
    if (!target.devicePath.empty()) return target.devicePath;
    const int number = std::atoi(target.portName.c_str() + 3);
    const std::string key = platform::PortKey(number);
    char mapped[kMaxMappedPath + 1] = {};
    platform::GetPrivateProfileString("PORTS", key.c_str(), "", mapped, sizeof mapped,
                                      "./sysconfig.ini");
    if (mapped[0] != '\0') return mapped;
    return platform::DefaultPortDevice(number);
}

std::vector<DeviceHolder> FindDeviceHolders(const std::string& device) {
    std::vector<DeviceHolder> holders;
    struct stat node {};
    if (stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return holders;
    const pid_t self = getpid();
    const pid_t locker = FlockHolder(node);
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return holders;
    while (const dirent* entry = readdir(processes)) {
        if (!IsNumber(entry->d_name)) continue;
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid == self || !HasDeviceOpen(pid, node.st_rdev)) continue;
        if (pid == locker) {
            closedir(processes);
            return {{pid, CommandOf(pid)}};
        }
        holders.push_back({pid, CommandOf(pid)});
    }
    closedir(processes);
    return holders;
}

std::string PermissionAdvice(const DeviceAccess& access) {
    const std::string denied = "permission denied; ";
    if (!access.found) return denied + "a folder on its path is closed to " + access.user;
    if (!access.groupMayOpen)
        return denied + "only its owner, " + access.owner +
               ", may open it: give the device a group that may read and write it (such as "
               "dialout) and put " +
               access.user + " in that group";
    if (access.processHasGroup)
        return "permission denied, although " + access.user + " is in its group " + access.group;
    if (access.userListedInGroup)
        return denied + access.user + " was added to the group " + access.group +
               " after logging in: log in again";
    return denied + access.user + " must be in the group " + access.group + " (sudo usermod -aG " +
           access.group + " " + access.user + ", then log in again)";
}

DeviceAccess LookUpAccess(const std::string& device) {
    DeviceAccess access;
    access.user = NameOfUser(geteuid());
    struct stat info {};
    if (stat(device.c_str(), &info) != 0) return access;
    access.found = true;
    access.owner = NameOfUser(info.st_uid);
    access.groupMayOpen = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    access.group = std::to_string(info.st_gid);
    if (const group* entry = getgrgid(info.st_gid)) {
        access.group = entry->gr_name;
        for (char** member = entry->gr_mem; member != nullptr && *member != nullptr; ++member)
            access.userListedInGroup |= access.user == *member;
    }
    if (const passwd* user = getpwuid(geteuid()))
        access.userListedInGroup |= user->pw_gid == info.st_gid;
    access.processHasGroup = ProcessHasGroup(info.st_gid);
    return access;
}

std::optional<std::string> DescribeOpenError(int error, const std::string& device) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
            return "no such device";
        case EACCES:
        case EPERM:
            return PermissionAdvice(LookUpAccess(device));
        case EBUSY:
            return "busy: another process holds it";
        case ENAMETOOLONG:
            return "its path is longer than the system takes";
        default:
            return std::nullopt;
    }
}

std::optional<std::string> FindOpenFailure(const std::string& device) {
    struct stat info {};
    if (stat(device.c_str(), &info) != 0) return DescribeOpenError(errno, device);
    // Only a character device is opened: opening a FIFO or a socket can wait or have effects.
    if (!S_ISCHR(info.st_mode)) return NotATerminal(info);
    return ProbeCharacterDevice(device);
}

std::string OpenFailureMessage(const PortTarget& target, int result) {
    const std::string device = DeviceOf(target);
    std::string what = "cannot open " + (target.devicePath.empty()
                                             ? target.portName + " (" + Shortened(device) + ")"
                                             : Shortened(device));
    std::optional<std::string> why;
    if (result == PINPAD_ERR_PORT) why = FindOpenFailure(device);
    return what + ": " + (why ? *why : ResultCodeText(result));
}

}  // namespace cli
