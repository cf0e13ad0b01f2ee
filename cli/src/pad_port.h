// The pad's serial port for one run of the tool: opened at the first step that needs the pad,
// by port name through ./sysconfig.ini as the driver does, or by device path.
#pragma once

#include <string>

namespace cli {

struct PortTarget {
    std::string portName = "com1";  // "comN": the driver maps it through ./sysconfig.ini
    std::string devicePath;         // when set, this device is opened instead of portName
    int baudRate = 9600;
};

class PadPort {
public:
    explicit PadPort(PortTarget target) : m_target(std::move(target)) {}
    ~PadPort();
    PadPort(const PadPort&) = delete;
    PadPort& operator=(const PadPort&) = delete;

    // Opens the port unless it is open; the driver's result (0 opened). A failed open is tried
    // again by the next call.
    int EnsureOpen();
    // Closes and opens again at another speed (after the pad's own speed was changed).
    int Reopen(int baudRate);
    void Close();
    // What the port is, for messages: "com2" or the device path.
    std::string Describe() const;
    const PortTarget& Target() const { return m_target; }

private:
    int OpenNamed(const char* portName);
    int OpenDevice();

    PortTarget m_target;
    bool m_open = false;
};

}  // namespace cli
