// What the driver takes from ./sysconfig.ini: the trace switch, the reply check switch, the
// device behind each port number, the time-out log's directory; and how a port name becomes a port
// number.
#pragma once

#include <cstddef>
#include <string>

namespace lumenord {

constexpr const char* kSettingsFile = "./sysconfig.ini";

// SYSTEM/DEBUG; 0 when the file or key is missing. The frame trace runs only when it is 1.
int ReadTraceSetting();

// SYSTEM/VERIFYCHECK: whether replies' check characters are verified; on unless the value is 0.
bool ReadVerifyCheckSetting();

// The longest device path that a port may be mapped to, and the longest time-out log directory.
constexpr std::size_t kMaxDevicePathLength = 511;

// Why a port number's device is not to be opened although the number is valid.
enum class DeviceRefusal {
    kNone,
    kPathTooLong,         // its mapping is longer than kMaxDevicePathLength
    kPathHoldsNul,        // its mapping holds a NUL byte: the text before it is another path
    kSettingsUnreadable,  // ./sysconfig.ini exists but does not read whole: it may map the port
};

// The device that port number `portNumber` opens: key COMn of section PORTS, else the system's
// own name for the port (/dev/ttyS(n-1), \\.\COMn); empty for numbers below 1, which open nothing.
// Empty too where the settings forbid any device, and `refusal` (when given) then says why: a
// mapping is never cut, and the system's name never stands in for a mapping that could not be
// read.
std::string DevicePathForPort(int portNumber, DeviceRefusal* refusal = nullptr);

// SYSTEM/TIMEOUTLOGDIR, by default /var/log/halmstrom (C:\halmstrom\ on Windows). The directory
// is never created. Empty, so that nothing is logged, when the value is too long or holds a NUL
// byte: the cut text would name another directory.
std::string TimeoutLogDirectory();

// The number in "comN": the text from the fourth character on, read the way atol reads it
// (leading digits, 0 when there are none); names shorter than four characters give 0, and so
// do numbers outside the int range.
int PortNumberFromName(const char* name);

}  // namespace lumenord
