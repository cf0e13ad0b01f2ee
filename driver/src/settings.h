// What the driver takes from ./sysconfig.ini: the trace switch, the reply check switch, the
// device behind each port number, the time-out log's directory; and how a port name becomes a port
// number.
#pragma once

#include <string>

namespace lumenord {

constexpr const char* kSettingsFile = "./sysconfig.ini";
// Names longer than this are refused: the number part would not fit its buffer.
constexpr int kMaxPortNameLength = 15;

// SYSTEM/DEBUG; 0 when the file or key is missing. The frame trace runs only when it is 1.
int ReadTraceSetting();

// SYSTEM/VERIFYCHECK: whether replies' check characters are verified; on unless the value is 0.
bool ReadVerifyCheckSetting();

// The device that port number `portNumber` opens: key COMn of section PORTS, else the system's
// own name for the port (/dev/ttyS(n-1), \\.\COMn); empty for numbers below 1, which open nothing.
std::string DevicePathForPort(int portNumber);

// SYSTEM/TIMEOUTLOGDIR, by default /var/log/halmstrom (C:\halmstrom\ on Windows). The directory
// is never created.
std::string TimeoutLogDirectory();

// The number in "comN": the text from the fourth character on, read the way atol reads it
// (leading digits, 0 when there are none); names shorter than four characters give 0, and so
// do numbers outside the int range.
int PortNumberFromName(const char* name);

}  // namespace lumenord
