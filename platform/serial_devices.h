// The serial devices present on this machine, as the operator needs them to pick a port: device
// node, persistent names, driver and, for USB adapters, who made them and their serial number.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

struct SerialDevice {
    std::string node;                    // "/dev/ttyUSB0"
    std::vector<std::string> byIdLinks;  // "/dev/serial/by-id/usb-…", sorted; may be empty
    std::string driver;                  // kernel driver bound to the port ("ftdi_sio", "serial")
    // USB adapters only (empty otherwise): four lower-case hex digits each, and the texts the
    // device reports about itself.
    std::string vendorId, productId, manufacturer, product, serialNumber;
};

// The serial ports under `root` (the file system root: "/" in use, a prepared folder in tests),
// sorted by node: every terminal of the tty class with a hardware device behind it and a node in
// "<root>/dev". Legacy serial ports that the kernel reserves without hardware (type 0) and
// virtual terminals are left out. Links are followed only inside `root`; every attribute read is
// bounded, and texts are cut to one line of printable characters. Nothing found or a root that
// is not there gives an empty list. On systems without sysfs the list is always empty.
std::vector<SerialDevice> ListSerialDevices(const std::string& root = "/");

// The root that ListSerialDevices reads: "/", or the folder that the environment variable
// LUMENORD_DEVICE_ROOT names (a fake tree, for tests of the programs that list devices).
std::string SerialDeviceRoot();

// The key of section PORTS in the settings file that maps port number N: "COMN".
std::string PortKey(int portNumber);

// The device that port number N opens when no setting maps it ("/dev/ttyS(N-1)"; "\\.\COMN"
// on Windows).
std::string DefaultPortDevice(int portNumber);

// The device that port number `portNumber` opens given the text of the settings file: key COMN
// of section PORTS, or the default device where the key is missing or empty.
std::string PortDevicePath(std::string_view settings, int portNumber);

// The ports from 1 to `maxPort` that section PORTS of `settings` maps explicitly, with the
// device each names, in port order.
std::vector<std::pair<int, std::string>> MappedPorts(std::string_view settings, int maxPort);

// The ports from 1 to `maxPort` that open `device`, in order.
std::vector<int> PortsOpening(std::string_view settings, const SerialDevice& device, int maxPort);

// Whether the device path `path` (as written in a settings file: a node or a by-id name) names
// `device`.
inline bool NamesDevice(const SerialDevice& device, const std::string& path) {
    if (path == device.node) return true;
    for (const std::string& link : device.byIdLinks)
        if (path == link) return true;
    return false;
}

}  // namespace platform
