#include "settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "os_services.h"
#include "profile.h"
#include "serial_devices.h"

namespace lumenord {
namespace {

// A value that is used whole or not at all: nothing, and `why` says so, when it is longer than
// kMaxDevicePathLength or holds a NUL byte, where the text before it would name another file.
std::optional<std::string> ReadWhole(const char* section, const char* key, const char* defaultValue,
                                     DeviceRefusal& why) {
    // Room for one character more than a value may have, so that a longer one shows.
    char value[kMaxDevicePathLength + 2];
    const std::size_t length = platform::GetPrivateProfileString(section, key, defaultValue, value,
                                                                 sizeof value, kSettingsFile);
    if (length > kMaxDevicePathLength) {
        why = DeviceRefusal::kPathTooLong;
    } else if (std::strlen(value) != length) {
        why = DeviceRefusal::kPathHoldsNul;
    } else {
        return std::string(value, length);
    }
    return std::nullopt;
}

}  // namespace

int ReadTraceSetting() {
    return platform::GetPrivateProfileInt("SYSTEM", "DEBUG", 0, kSettingsFile);
}

bool ReadVerifyCheckSetting() {
    return platform::GetPrivateProfileInt("SYSTEM", "VERIFYCHECK", 1, kSettingsFile) != 0;
}

std::string DevicePathForPort(int portNumber, DeviceRefusal* refusal) {
    DeviceRefusal unused = DeviceRefusal::kNone;
    DeviceRefusal& why = refusal != nullptr ? *refusal : unused;
    why = DeviceRefusal::kNone;
    if (portNumber < 1) return {};
    const std::string key = platform::PortKey(portNumber);
    const std::optional<std::string> mapped = ReadWhole("PORTS", key.c_str(), "", why);
    if (!mapped) return {};
    if (!mapped->empty()) return *mapped;
    // An unreadable file reads as a missing one; it may well map this port elsewhere.
    if (!platform::IsProfileReadable(kSettingsFile)) {
        why = DeviceRefusal::kSettingsUnreadable;
        return {};
    }
    return platform::DefaultPortDevice(portNumber);
}

// An unreadable settings file gives the default too: a note about it still has somewhere to go.
std::string TimeoutLogDirectory() {
    const char* fallback = os::DefaultTimeoutLogDirectory();
    DeviceRefusal ignored = DeviceRefusal::kNone;
    const std::optional<std::string> dir = ReadWhole("SYSTEM", "TIMEOUTLOGDIR", fallback, ignored);
    if (!dir) return {};
    return dir->empty() ? fallback : *dir;
}

int PortNumberFromName(const char* name) {
    if (std::strlen(name) < 4) return 0;
    errno = 0;
    long number = std::strtol(name + 3, nullptr, 10);
    if (errno == ERANGE || number > INT_MAX || number < INT_MIN) return 0;
    return static_cast<int>(number);
}

}  // namespace lumenord
