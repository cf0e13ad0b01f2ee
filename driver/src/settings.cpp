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

std::string DevicePathForPort(int portNumber) {
    if (portNumber < 1) return {};
    std::string key = "COM" + std::to_string(portNumber);
    std::string mapped = ReadString("PORTS", key.c_str(), "");
    if (!mapped.empty()) return mapped;
    return os::PortDevice(portNumber);
}

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
