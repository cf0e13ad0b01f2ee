#include "settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "os_services.h"
#include "profile.h"

namespace lumenord {
namespace {

std::string ReadString(const char* section, const char* key, const char* defaultValue) {
    char value[512];
    platform::GetPrivateProfileString(section, key, defaultValue, value, sizeof value,
                                      kSettingsFile);
    return value;
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
    std::string key = "COM" + std::to_string(portNumber);
    // Room for one character more than a path may have, so that a longer one shows.
    char mapped[kMaxDevicePathLength + 2];
    std::size_t length = platform::GetPrivateProfileString("PORTS", key.c_str(), "", mapped,
                                                           sizeof mapped, kSettingsFile);
    if (length > kMaxDevicePathLength) {
        why = DeviceRefusal::kPathTooLong;
        return {};
    }
    if (length > 0) return mapped;
    // An unreadable file reads as a missing one; it may well map this port elsewhere.
    if (!platform::IsProfileReadable(kSettingsFile)) {
        why = DeviceRefusal::kSettingsUnreadable;
        return {};
    }
    return os::PortDevice(portNumber);
}

// An unreadable settings file gives the default too: a note about it still has somewhere to go.
std::string TimeoutLogDirectory() {
    const char* fallback = os::DefaultTimeoutLogDirectory();
    std::string dir = ReadString("SYSTEM", "TIMEOUTLOGDIR", fallback);
    return dir.empty() ? fallback : dir;
}

int PortNumberFromName(const char* name) {
    if (std::strlen(name) < 4) return 0;
    errno = 0;
    long number = std::strtol(name + 3, nullptr, 10);
    if (errno == ERANGE || number > INT_MAX || number < INT_MIN) return 0;
    return static_cast<int>(number);
}

}  // namespace lumenord
