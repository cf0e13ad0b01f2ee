// Windows names its serial ports COMn and offers no sysfs; the device list stays empty there
// until a SetupAPI counterpart is written.
#include "serial_devices.h"

namespace platform {

std::vector<SerialDevice> ListSerialDevices(const std::string&) { return {}; }

std::string DefaultPortDevice(int portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

}  // namespace platform
