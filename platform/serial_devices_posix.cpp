// Serial devices from sysfs: /sys/class/tty for the ports, their device's attributes for driver
// and USB identity, /dev/serial/by-id for the persistent names udev gives them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>
#include <optional>

#include "serial_devices.h"

namespace platform {
namespace {

// sysfs attributes of interest are short (USB strings hold at most 126 characters); anything
// larger is not what we look for.
constexpr std::size_t kMaxAttributeSize = 512;
constexpr std::size_t kMaxTextSize = 128;
constexpr std::size_t kMaxLinkSize = 4096;
constexpr int kMaxLinkHops = 40;
constexpr int kMaxDirectoryEntries = 4096;
constexpr int kMaxUsbAncestors = 12;
constexpr int kMaxSerialCoreLevels = 3;

// A path inside the root: its components below the root, and where that is in this file system.
struct Resolved {
    std::vector<std::string> parts;
    std::string path;
};

std::string Join(const std::string& root, const std::vector<std::string>& parts) {
    std::string path = root;
    for (const std::string& part : parts) path += "/" + part;
    return path.empty() ? "/" : path;
}

std::optional<std::string> ReadLink(const std::string& path) {
    std::string target(kMaxLinkSize, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    return target;
}

void PushComponents(std::deque<std::string>& queue, const std::string& path) {
    std::deque<std::string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) components.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    queue.insert(queue.begin(), components.begin(), components.end());
}

// Resolves `relative` below `root` the way the kernel would with `root` as the file system root,
// except that a ".." above the root fails instead of staying there: a link leading out of the
// tree is not followed. The last component must exist.
std::optional<Resolved> ResolveInside(const std::string& root, const std::string& relative) {
    Resolved resolved;
    std::deque<std::string> pending;
    PushComponents(pending, relative);
    int hops = 0;
    while (!pending.empty()) {
        const std::string component = pending.front();
        pending.pop_front();
        if (component == ".") continue;
        if (component == "..") {
            if (resolved.parts.empty()) return std::nullopt;
            resolved.parts.pop_back();
            continue;
        }
        resolved.parts.push_back(component);
        const std::string path = Join(root, resolved.parts);
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) return std::nullopt;
        if (!S_ISLNK(info.st_mode)) continue;
        const std::optional<std::string> target = ReadLink(path);
        if (!target || ++hops > kMaxLinkHops) return std::nullopt;
        resolved.parts.pop_back();
        if (target->front() == '/') resolved.parts.clear();
        PushComponents(pending, *target);
    }
    resolved.path = Join(root, resolved.parts);
    return resolved;
}

bool IsValidUtf8Sequence(const std::string& text, std::size_t at, std::size_t length) {
    if (at + length > text.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
    }
    return true;
}

// One line of printable text: control bytes and broken UTF-8 become '?', blanks around trimmed.
std::string PrintableLine(const std::string& raw) {
    std::string text;
    for (std::size_t at = 0; at < raw.size() && raw[at] != '\n' && text.size() < kMaxTextSize;) {
        const auto byte = static_cast<unsigned char>(raw[at]);
        const std::size_t length = byte < 0x80                   ? 1
                                   : byte >= 0xF0 && byte < 0xF5 ? 4
                                   : byte >= 0xE0                ? 3
                                   : byte >= 0xC2 && byte < 0xE0 ? 2
                                                                 : 0;
        if (length == 1 && byte >= 0x20 && byte != 0x7F) {
            text += raw[at];
        } else if (length > 1 && IsValidUtf8Sequence(raw, at, length)) {
            text += raw.substr(at, length);
            at += length;
            continue;
        } else {
            text += '?';
        }
        ++at;
    }
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The content of a regular file of at most kMaxAttributeSize bytes, opened without following a
// final link and without blocking (a FIFO planted in the tree is not a regular file).
std::optional<std::string> ReadAttribute(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> content;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::string data(kMaxAttributeSize + 1, '\0');
        std::size_t filled = 0;
        while (filled < data.size()) {
            const ssize_t got = read(fd, data.data() + filled, data.size() - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                if (got == 0) content.emplace();
                break;
            }
            filled += static_cast<std::size_t>(got);
        }
        if (content && filled <= kMaxAttributeSize) {
            data.resize(filled);
            content = data;
        } else {
            content.reset();
        }
    }
    close(fd);
    return content;
}

std::string ReadText(const std::string& path) {
    const std::optional<std::string> raw = ReadAttribute(path);
    return raw ? PrintableLine(*raw) : std::string{};
}

std::string HexId(const std::string& path) {
    std::string id = ReadText(path);
    if (id.size() != 4 || !std::all_of(id.begin(), id.end(), [](char c) { return isxdigit(c); }))
        return {};
    std::transform(id.begin(), id.end(), id.begin(), [](char c) { return tolower(c); });
    return id;
}

// A directory entry that names one thing: printable, no '/', not hidden, not absurdly long.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name.size() <= 255 && name[0] != '.' &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return c > 0x20 && c < 0x7F && c != '/'; });
}

std::vector<std::string> DirectoryNames(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) return names;
    for (int entries = 0; entries < kMaxDirectoryEntries; ++entries) {
        const dirent* entry = readdir(directory);
        if (entry == nullptr) break;
        if (IsPlainName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    closedir(directory);
    return names;
}

// The node name below /dev that the kernel gives the terminal (DEVNAME of its uevent), or the
// class entry's own name: plain components only.
std::string DeviceNodeName(const std::string& ttyPath, const std::string& name) {
    const std::optional<std::string> uevent = ReadAttribute(ttyPath + "/uevent");
    if (!uevent) return name;
    const std::string key = "DEVNAME=";
    std::size_t at = uevent->find(key);
    while (at != std::string::npos && at != 0 && (*uevent)[at - 1] != '\n')
        at = uevent->find(key, at + 1);
    if (at == std::string::npos) return name;
    const std::size_t begin = at + key.size();
    const std::string devname = uevent->substr(begin, uevent->find('\n', begin) - begin);
    std::deque<std::string> components;
    PushComponents(components, devname);
    const bool plain = !components.empty() && devname.front() != '/' &&
                       std::all_of(components.begin(), components.end(), IsPlainName);
    return plain ? devname : name;
}

// The driver of the port's hardware. Newer kernels put a port and its controller of the generic
// serial core ("port", "ctrl" on bus serial-base) between the hardware device and the tty; the
// driver the operator knows is the one above them.
std::string DriverName(const std::string& root, Resolved device) {
    for (int level = 0; level < kMaxSerialCoreLevels && device.parts.size() > 3; ++level) {
        const std::optional<std::string> target = ReadLink(Join(root, device.parts) + "/driver");
        if (!target) return {};
        if (target->find("/bus/serial-base/") == std::string::npos) {
            const std::string name = target->substr(target->rfind('/') + 1);
            return IsPlainName(name) ? PrintableLine(name) : std::string{};
        }
        device.parts.pop_back();
    }
    return {};
}

// The USB device a port belongs to is the nearest ancestor of its device in sysfs that has a
// vendor id; the search stays below /sys/devices.
void ReadUsbIdentity(const std::string& root, Resolved device, SerialDevice& out) {
    for (int level = 0; level < kMaxUsbAncestors && device.parts.size() > 3; ++level) {
        const std::string path = Join(root, device.parts);
        const std::string vendor = HexId(path + "/idVendor");
        if (!vendor.empty()) {
            out.vendorId = vendor;
            out.productId = HexId(path + "/idProduct");
            out.manufacturer = ReadText(path + "/manufacturer");
            out.product = ReadText(path + "/product");
            out.serialNumber = ReadText(path + "/serial");
            return;
        }
        device.parts.pop_back();
    }
}

bool IsUnder(const Resolved& path, const std::vector<std::string>& prefix) {
    return path.parts.size() > prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), path.parts.begin());
}

std::optional<SerialDevice> ReadPort(const std::string& root, const std::string& name) {
    const std::optional<Resolved> tty = ResolveInside(root, "sys/class/tty/" + name);
    if (!tty || !IsUnder(*tty, {"sys"})) return std::nullopt;
    // Virtual terminals, pseudo-terminals and the console have no device behind them.
    const std::optional<Resolved> device = ResolveInside(root, Join("", tty->parts) + "/device");
    if (!device || !IsUnder(*device, {"sys", "devices"})) return std::nullopt;
    // A legacy port the kernel reserves without finding a UART reports type 0 (unknown).
    if (ReadText(tty->path + "/type") == "0") return std::nullopt;
    const std::string nodeName = DeviceNodeName(tty->path, name);
    const std::optional<Resolved> node = ResolveInside(root, "dev/" + nodeName);
    struct stat info {};
    if (!node || !IsUnder(*node, {"dev"}) || stat(node->path.c_str(), &info) != 0 ||
        S_ISDIR(info.st_mode))
        return std::nullopt;
    SerialDevice port;
    port.node = "/dev/" + nodeName;
    port.driver = DriverName(root, *device);
    ReadUsbIdentity(root, *device, port);
    return port;
}

// Compares names with their digit runs as numbers, so that ttyS2 comes before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isdigit(static_cast<unsigned char>(a[i])) &&
            isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t endA = i, endB = j;
            while (endA < a.size() && isdigit(static_cast<unsigned char>(a[endA]))) ++endA;
            while (endB < b.size() && isdigit(static_cast<unsigned char>(b[endB]))) ++endB;
            const std::string numberA = a.substr(i, endA - i), numberB = b.substr(j, endB - j);
            const std::size_t zerosA = numberA.find_first_not_of('0'),
                              zerosB = numberB.find_first_not_of('0');
            const std::string digitsA = zerosA == std::string::npos ? "" : numberA.substr(zerosA);
            const std::string digitsB = zerosB == std::string::npos ? "" : numberB.substr(zerosB);
            if (digitsA.size() != digitsB.size()) return digitsA.size() < digitsB.size();
            if (digitsA != digitsB) return digitsA < digitsB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices(const std::string& root) {
    std::string base = root;
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::vector<SerialDevice> devices;
    std::map<std::string, std::size_t> byNodePath;
    for (const std::string& name : DirectoryNames(base + "/sys/class/tty")) {
        std::optional<SerialDevice> port = ReadPort(base, name);
        if (!port) continue;
        const std::optional<Resolved> node = ResolveInside(base, port->node.substr(1));
        if (!node || byNodePath.count(node->path) != 0) continue;
        byNodePath[node->path] = devices.size();
        devices.push_back(std::move(*port));
    }
    const std::string byId = "dev/serial/by-id/", byIdFolder = base + "/" + byId;
    const std::string byIdFromRoot = "/" + byId;
    for (const std::string& link : DirectoryNames(byIdFolder)) {
        const std::optional<Resolved> target = ResolveInside(base, byId + link);
        if (!target) continue;
        const auto found = byNodePath.find(target->path);
        if (found != byNodePath.end())
            devices[found->second].byIdLinks.push_back(byIdFromRoot + link);
    }
    for (SerialDevice& device : devices)
        std::sort(device.byIdLinks.begin(), device.byIdLinks.end());
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return NaturalLess(a.node, b.node);
    });
    return devices;
}

std::string DefaultPortDevice(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace platform
