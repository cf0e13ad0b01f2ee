// The operating system's serial port behind the SerialChannel: open and claim a device
// exclusively, set its line, move bytes, and wait for input with a deadline. One backend per
// system, chosen by the build (serial_port_posix.cpp, serial_port_win32.cpp).
#pragma once

#include <cstdint>
#include <memory>

namespace lumenord {

// Line parameters as the caller gave them; the numeric codes are mapped when the port opens.
struct LineSettings {
    int baudRate = 9600;
    std::uint8_t parityCode = 0;    // 1 odd, 2 even, other none
    std::uint8_t dataBitsCode = 0;  // 7 seven, other eight
    std::uint8_t stopBitsCode = 0;  // 2 two, other one
};

// The baud rates a port opens at as requested; every other rate opens at 9600.
inline constexpr int kListedBaudRates[] = {300,   600,   1200,  2400,  4800,  9600,
                                           19200, 38400, 56000, 57600, 115200};

// The rate a requested baud rate opens at: the listed rates unchanged, every other one 9600.
int EffectiveBaudRate(int requested);

enum class Parity { kNone, kOdd, kEven };

// The character frame that the codes select.
struct CharacterFrame {
    int dataBits;
    Parity parity;
    int stopBits;
};
CharacterFrame CharacterFrameFor(const LineSettings& settings);

enum class WaitResult {
    kReady,      // input is queued
    kIdle,       // the wait ran out with nothing queued
    kHangUp,     // the other end is gone; nothing more will come
    kCancelled,  // the host cancelled the driver's waits (Lumenord_CancelWait)
};

// The wake-up behind Lumenord_CancelWait: while raised, every wait of every port ends at once.
// Raising it is safe from a signal handler and from any thread; it stays raised until lowered,
// so that a cancel that comes just before a wait begins still ends that wait.
void RaiseCancelWake();
void LowerCancelWake();

enum class WriteResult { kWritten, kFull, kFailed };

class SerialPort {
public:
    // Opens and configures `device`; null when it is missing, already claimed or not a
    // configurable serial line.
    static std::unique_ptr<SerialPort> Open(const char* device, const LineSettings& settings);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Waits at most `maxMs` for input; returns as soon as a byte is queued or the line is gone.
    WaitResult WaitForInput(int maxMs);
    // Takes up to `max` queued bytes in one call and returns how many; 0 when none could be
    // taken (HungUp tells whether the line is gone).
    int Read(std::uint8_t* bytes, int max);
    // Writes as many of the bytes as the output queue takes at once (`*written`), or reports
    // that it has no room for any.
    WriteResult Write(const std::uint8_t* bytes, int length, int* written);
    // Waits at most `maxMs` for room in the output queue.
    WaitResult WaitForOutput(int maxMs);
    // Waits `ms` whatever the line does (for waits that queued input cannot end); a cancel ends
    // it early.
    void Pause(int ms);
    // Discards output not yet sent.
    void PurgeOutput();
    // Discards input not yet read and output not yet sent.
    void PurgeInputAndOutput();
    bool HungUp() const { return m_hungUp; }

private:
    // The system's side of the open port; each backend defines it.
    struct Device;
    explicit SerialPort(std::unique_ptr<Device> device);

    std::unique_ptr<Device> m_device;
    bool m_hungUp = false;
};

}  // namespace lumenord
