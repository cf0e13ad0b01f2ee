#include <cstdlib>
#include <string>

#include "profile_text.h"
#include "serial_devices.h"

namespace platform {
namespace {

// The device that key COMN of section PORTS names; nothing where the key is missing or empty.
std::optional<std::string> MappedDevice(std::string_view settings, int portNumber) {
    std::optional<std::string> device = FindProfileValue(settings, "PORTS", PortKey(portNumber));
    if (device && device->empty()) return std::nullopt;
    return device;
}

}  // namespace

std::string PortKey(int portNumber) { return "COM" + std::to_string(portNumber); }

std::string SerialDeviceRoot() {
    const char* root = std::getenv("LUMENORD_DEVICE_ROOT");
    return root != nullptr && *root != '\0' ? root : "/";
}

std::string PortDevicePath(std::string_view settings, int portNumber) {
    return MappedDevice(settings, portNumber).value_or(DefaultPortDevice(portNumber));
}

std::vector<std::pair<int, std::string>> MappedPorts(std::string_view settings, int maxPort) {
    std::vector<std::pair<int, std::string>> mapped;
    for (int port = 1; port <= maxPort; ++port) {
        if (std::optional<std::string> device = MappedDevice(settings, port))
            mapped.emplace_back(port, std::move(*device));
    }
    return mapped;
}

std::vector<int> PortsOpening(std::string_view settings, const SerialDevice& device, int maxPort) {
    std::vector<int> ports;
    for (int port = 1; port <= maxPort; ++port)
        if (NamesDevice(device, PortDevicePath(settings, port))) ports.push_back(port);
    return ports;
}

}  // namespace platform
