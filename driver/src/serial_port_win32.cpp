// Win32 backend of SerialPort: a COM port opened for overlapped I/O with no sharing. A read takes
// what is queued at once; a wait for input is a one-byte read that the system completes the
// moment a byte arrives, so every wait sleeps on the port's read or write event, the cancel
// event, or the calling thread's window messages, and ends by its deadline. No request outlives the
// call that made it, except a write in flight, whose bytes the port keeps.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "serial_port.h"

namespace lumenord {
namespace {

constexpr DWORD kQueueBytes = 10000;
constexpr DWORD kWriteTimeoutMs = 5000;
// A read that the system leaves pending although something is queued gets this long before it
// is cancelled; a cancelled request gets this long to come back.
constexpr DWORD kPendingReadMs = 10;
constexpr DWORD kCancelMs = 1000;
constexpr int kReadArea = 4096;
constexpr int kWriteArea = 4096;

// How a read of the device ended.
enum class ReadResult { kByte, kNone, kFailed };

// A read returns at once with what is queued; a write may take five seconds in all.
COMMTIMEOUTS StandingTimeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    return t;
}

// A read returns at once with what is queued, or with nothing queued as soon as one byte
// arrives, at the latest after `ms`.
COMMTIMEOUTS FirstByteTimeouts(DWORD ms) {
    COMMTIMEOUTS t = StandingTimeouts();
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = std::max<DWORD>(ms, 1);
    return t;
}

BYTE ParityValue(Parity parity) {
    switch (parity) {
        case Parity::kOdd:
            return ODDPARITY;
        case Parity::kEven:
            return EVENPARITY;
        case Parity::kNone:
            break;
    }
    return NOPARITY;
}

// The event behind the cancel: set while a cancel is raised. Made when the library is loaded, so
// that raising a cancel (from a console control handler, say) never has to make it.
class CancelEvent {
public:
    CancelEvent() : m_event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~CancelEvent() {
        if (m_event != nullptr) CloseHandle(m_event);
    }
    CancelEvent(const CancelEvent&) = delete;
    CancelEvent& operator=(const CancelEvent&) = delete;

    HANDLE Handle() const { return m_event; }
    bool Raised() const {
        return m_event != nullptr && WaitForSingleObject(m_event, 0) == WAIT_OBJECT_0;
    }

private:
    HANDLE m_event;
};

CancelEvent g_cancelEvent;

// What ended a wait for an event or a message.
enum class Woken { kEvent, kCancel, kOther };

// Waits at most `ms` for `event` (none: for nothing but the time), a cancel or a window message
// of the calling thread, so that a host's window stays served while the driver waits.
Woken WaitForEventOrMessage(HANDLE event, int ms) {
    HANDLE handles[2];
    DWORD count = 0;
    if (event != nullptr) handles[count++] = event;
    const DWORD cancelAt = count;
    if (g_cancelEvent.Handle() != nullptr) handles[count++] = g_cancelEvent.Handle();
    const DWORD result = MsgWaitForMultipleObjectsEx(count, count > 0 ? handles : nullptr,
                                                     static_cast<DWORD>(std::max(ms, 0)),
                                                     QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (event != nullptr && result == WAIT_OBJECT_0) return Woken::kEvent;
    if (cancelAt < count && result == WAIT_OBJECT_0 + cancelAt) return Woken::kCancel;
    return Woken::kOther;
}

// The device's name as CreateFileW takes it, converted from the ANSI code page as CreateFileA
// converts it; empty when it does not convert. A name whose full path has MAX_PATH characters or
// more (a [PORTS] mapping may have up to 511) is given the "\\?\" form, which has no such limit.
// That form takes a path as it stands, so it is made from the full path, which the system makes
// as for any name: absolute, with backslashes; "\\.\" device names become "\\?\" ones,
// shares "\\?\UNC\".
std::wstring DeviceName(const char* device) {
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, device, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring name(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, device, -1, name.data(), length) !=
        length)
        return {};
    name.resize(static_cast<std::size_t>(length - 1));
    std::vector<wchar_t> full(name.size() + MAX_PATH);
    DWORD got = 0;
    while ((got = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(),
                                   nullptr)) >= full.size())
        full.resize(got + 1);
    if (got == 0) return {};
    if (got < MAX_PATH) return name;
    const std::wstring path(full.data(), got);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (path.rfind(L"\\\\.\\", 0) == 0) return L"\\\\?\\" + path.substr(4);
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

bool MessagesWaiting() {
    return MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
           WAIT_OBJECT_0;
}

}  // namespace

struct SerialPort::Device {
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED readBlock{};
    OVERLAPPED writeBlock{};
    // The byte a wait for input took; the next read hands it out first.
    std::uint8_t heldByte = 0;
    bool holding = false;
    bool writing = false;       // a write is in flight from writeArea
    bool requestStuck = false;  // a cancelled request never came back: its buffers stay ours
    std::uint8_t readArea[kReadArea];
    std::uint8_t writeArea[kWriteArea];

    ~Device() {
        if (readBlock.hEvent != nullptr) CloseHandle(readBlock.hEvent);
        if (writeBlock.hEvent != nullptr) CloseHandle(writeBlock.hEvent);
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }

    // Lets the request on `block` finish within `ms`, cancels it after that, and reports its
    // outcome once the system has let go of its buffer.
    bool Finish(OVERLAPPED* block, DWORD ms, DWORD* count, DWORD* error) {
        *count = 0;
        *error = ERROR_SUCCESS;
        if (WaitForSingleObject(block->hEvent, ms) != WAIT_OBJECT_0) {
            CancelIoEx(handle, block);
            if (WaitForSingleObject(block->hEvent, kCancelMs) != WAIT_OBJECT_0) {
                requestStuck = true;
                *error = ERROR_IO_INCOMPLETE;
                return false;
            }
        }
        if (GetOverlappedResult(handle, block, count, FALSE)) return true;
        *error = GetLastError();
        return false;
    }

    // Bytes in the input queue, the one a wait took included; false when the device is gone.
    // Clears line errors too, so that a driver that stops reads after one goes on.
    bool Queued(int* count) {
        DWORD errors = 0;
        COMSTAT status{};
        *count = 0;
        if (!ClearCommError(handle, &errors, &status)) return false;
        *count = static_cast<int>(std::min<DWORD>(status.cbInQue, kReadArea)) + (holding ? 1 : 0);
        return true;
    }

    // Reads up to `want` bytes into readArea; the standing time-outs make it return at once.
    ReadResult ReadQueued(int want, DWORD* count) {
        if (!ReadFile(handle, readArea, static_cast<DWORD>(want), nullptr, &readBlock) &&
            GetLastError() != ERROR_IO_PENDING)
            return ReadFailure(GetLastError());
        DWORD error = ERROR_SUCCESS;
        if (!Finish(&readBlock, kPendingReadMs, count, &error) && *count == 0)
            return ReadFailure(error);
        return *count > 0 ? ReadResult::kByte : ReadResult::kNone;
    }

    // A read cancelled here, or aborted by a driver that stops reads after a line error (the
    // DCB's fAbortOnError), leaves the port working once the error is cleared; every other
    // failure means the device is gone.
    ReadResult ReadFailure(DWORD error) {
        if (error != ERROR_OPERATION_ABORTED || requestStuck) return ReadResult::kFailed;
        DWORD errors = 0;
        return ClearCommError(handle, &errors, nullptr) ? ReadResult::kNone : ReadResult::kFailed;
    }

    // The outcome of the write in flight, if it has come back; false while it is still going.
    bool CollectWrite(DWORD ms) {
        if (!writing) return true;
        if (WaitForSingleObject(writeBlock.hEvent, ms) != WAIT_OBJECT_0) return false;
        DWORD count = 0;
        GetOverlappedResult(handle, &writeBlock, &count, FALSE);  // a failed write is not reported
        writing = false;
        return true;
    }

    // Gives back every request still running, before the buffers go away.
    bool Quiesce() {
        if (writing) {
            CancelIoEx(handle, &writeBlock);
            if (!CollectWrite(kCancelMs)) requestStuck = true;
        }
        return !requestStuck;
    }
};

SerialPort::SerialPort(std::unique_ptr<Device> device) : m_device(std::move(device)) {}

std::unique_ptr<SerialPort> SerialPort::Open(const char* device, const LineSettings& settings) {
    if (device == nullptr || device[0] == '\0') return nullptr;
    const std::wstring name = DeviceName(device);
    if (name.empty()) return nullptr;
    // No sharing: a second open of the same port fails until this one is closed.
    HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    auto port = std::make_unique<Device>();
    port->handle = handle;

    // Every field of the line state stays as the system reports it except these four.
    DCB line{};
    line.DCBlength = sizeof line;
    GetCommState(handle, &line);
    const CharacterFrame frame = CharacterFrameFor(settings);
    line.BaudRate = static_cast<DWORD>(EffectiveBaudRate(settings.baudRate));
    line.Parity = ParityValue(frame.parity);
    line.ByteSize = static_cast<BYTE>(frame.dataBits);
    line.StopBits = frame.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;

    COMMTIMEOUTS timeouts = StandingTimeouts();
    SetCommTimeouts(handle, &timeouts);
    port->readBlock.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    port->writeBlock.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!SetCommState(handle, &line) || !SetupComm(handle, kQueueBytes, kQueueBytes) ||
        port->readBlock.hEvent == nullptr || port->writeBlock.hEvent == nullptr)
        return nullptr;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(port)));
}

SerialPort::~SerialPort() {
    // A request the system never gave back keeps its buffers for good rather than have it
    // write into freed memory.
    if (!m_device->Quiesce()) {
        CloseHandle(m_device->handle);
        (void)m_device.release();
    }
}

WaitResult SerialPort::WaitForInput(int maxMs) {
    if (m_hungUp) return WaitResult::kHangUp;
    Device& port = *m_device;
    int queued = 0;
    if (!port.Queued(&queued)) {
        m_hungUp = true;
        return WaitResult::kHangUp;
    }
    if (queued > 0) return WaitResult::kReady;
    if (g_cancelEvent.Raised()) return WaitResult::kCancelled;
    // A message for the host ends the wait; the caller's next pass dispatches it.
    if (maxMs <= 0 || MessagesWaiting()) return WaitResult::kIdle;

    COMMTIMEOUTS timeouts = FirstByteTimeouts(static_cast<DWORD>(maxMs));
    if (!SetCommTimeouts(port.handle, &timeouts)) {
        m_hungUp = true;
        return WaitResult::kHangUp;
    }
    ReadResult read = ReadResult::kNone;
    DWORD count = 0;
    Woken woken = Woken::kOther;
    if (ReadFile(port.handle, port.readArea, 1, nullptr, &port.readBlock) ||
        GetLastError() == ERROR_IO_PENDING) {
        // Whether a byte came, the time ran out, a cancel came or a message is waiting, the read
        // ends here.
        woken = WaitForEventOrMessage(port.readBlock.hEvent, maxMs);
        DWORD error = ERROR_SUCCESS;
        if (!port.Finish(&port.readBlock, 0, &count, &error) && count == 0)
            read = port.ReadFailure(error);
    } else {
        read = port.ReadFailure(GetLastError());
    }
    timeouts = StandingTimeouts();
    SetCommTimeouts(port.handle, &timeouts);
    if (count == 1) {
        port.heldByte = port.readArea[0];
        port.holding = true;
        return WaitResult::kReady;
    }
    if (read == ReadResult::kFailed) {
        m_hungUp = true;
        return WaitResult::kHangUp;
    }
    return woken == Woken::kCancel ? WaitResult::kCancelled : WaitResult::kIdle;
}

int SerialPort::Read(std::uint8_t* bytes, int max) {
    if (m_hungUp || max <= 0) return 0;
    Device& port = *m_device;
    int got = 0;
    if (port.holding) {
        bytes[got++] = port.heldByte;
        port.holding = false;
    }
    if (got == max) return got;
    DWORD count = 0;
    const ReadResult read = port.ReadQueued(std::min(max - got, kReadArea), &count);
    std::memcpy(bytes + got, port.readArea, count);
    got += static_cast<int>(count);
    if (got == 0 && read == ReadResult::kFailed) m_hungUp = true;
    return got;
}

WriteResult SerialPort::Write(const std::uint8_t* bytes, int length, int* written) {
    *written = 0;
    if (m_hungUp) return WriteResult::kFailed;
    Device& port = *m_device;
    // One write at a time: the next waits for room until the one in flight is done.
    if (!port.CollectWrite(0)) return WriteResult::kFull;
    if (length <= 0) return WriteResult::kWritten;
    const int count = std::min(length, kWriteArea);
    std::memcpy(port.writeArea, bytes, static_cast<std::size_t>(count));
    if (!WriteFile(port.handle, port.writeArea, static_cast<DWORD>(count), nullptr,
                   &port.writeBlock) &&
        GetLastError() != ERROR_IO_PENDING) {
        m_hungUp = true;
        return WriteResult::kFailed;
    }
    // The bytes are the system's now; the write's outcome is collected before the next one.
    port.writing = true;
    port.CollectWrite(0);
    *written = count;
    return WriteResult::kWritten;
}

WaitResult SerialPort::WaitForOutput(int maxMs) {
    if (m_hungUp) return WaitResult::kHangUp;
    Device& port = *m_device;
    if (port.CollectWrite(0)) return WaitResult::kReady;
    const Woken woken = WaitForEventOrMessage(port.writeBlock.hEvent, maxMs);
    if (woken == Woken::kCancel) return WaitResult::kCancelled;
    if (woken != Woken::kEvent) return WaitResult::kIdle;
    return port.CollectWrite(0) ? WaitResult::kReady : WaitResult::kIdle;
}

void SerialPort::Pause(int ms) { WaitForEventOrMessage(nullptr, ms); }

void SerialPort::PurgeOutput() { PurgeComm(m_device->handle, PURGE_TXCLEAR); }

void SerialPort::PurgeInputAndOutput() {
    m_device->holding = false;
    PurgeComm(m_device->handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

void RaiseCancelWake() {
    if (g_cancelEvent.Handle() != nullptr) SetEvent(g_cancelEvent.Handle());
}

void LowerCancelWake() {
    if (g_cancelEvent.Handle() != nullptr) ResetEvent(g_cancelEvent.Handle());
}

}  // namespace lumenord
