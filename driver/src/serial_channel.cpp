#include "serial_channel.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "driver_context.h"
#include "serial_port.h"
#include "settings.h"
#include "ticks.h"
#include "trace.h"

namespace lumenord {
namespace {

// Longest wait of one pass: between end-byte passes, and in the loops that take queued bytes.
constexpr std::uint32_t kPassWaitMs = 10;
// Counted reads: how long a pass waits for the wanted bytes, between polls, and in all.
constexpr std::uint32_t kSettleMs = 50;
constexpr std::uint32_t kCountPollMs = 70;
constexpr std::uint32_t kCountLimitMs = 1000;
// How long a write may stall for room in the output queue before the rest of the frame is dropped.
constexpr std::uint32_t kWriteWaitMs = 1000;
// Longer time-outs than a day are taken as a day, so that the millisecond limit cannot wrap.
constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;

constexpr std::uint16_t kReadPending = static_cast<std::uint16_t>(-12);
constexpr std::uint16_t kReadFailed = static_cast<std::uint16_t>(-13);

std::uint64_t ElapsedSince(std::uint64_t start) { return platform::MonotonicMs() - start; }

bool LimitPassed(std::uint64_t start, std::uint32_t limitMs) {
    return ElapsedSince(start) > limitMs;
}

// The wait of one pass: `slice` at most, and no further than just past the limit.
int PassWait(std::uint64_t start, std::uint32_t limitMs, std::uint32_t slice) {
    std::uint64_t elapsed = ElapsedSince(start);
    std::uint64_t left = elapsed > limitMs ? 0 : limitMs - elapsed + 1;
    return static_cast<int>(std::min<std::uint64_t>(left, slice));
}

std::uint32_t LimitMs(int timeoutSeconds) {
    return static_cast<std::uint32_t>(std::clamp(timeoutSeconds, 0, kMaxTimeoutSeconds)) * 1000u;
}

}  // namespace

SerialChannel::SerialChannel() : m_traceEnabled(ReadTraceSetting()) {}

SerialChannel::~SerialChannel() { Close(); }

void SerialChannel::SetParameters(int portNumber, int baudRate, std::uint8_t parityCode,
                                  std::uint8_t dataBitsCode, std::uint8_t stopBitsCode) {
    m_portNumber = portNumber;
    m_baudRate = baudRate;
    m_parityCode = parityCode;
    m_dataBitsCode = dataBitsCode;
    m_stopBitsCode = stopBitsCode;
}

int SerialChannel::Open() {
    if (m_open) return 1;
    // The port mapping is read now, so that a changed sysconfig.ini takes effect at the next open.
    std::string device = DevicePathForPort(m_portNumber);
    LineSettings settings{m_baudRate, m_parityCode, m_dataBitsCode, m_stopBitsCode};
    m_port = SerialPort::Open(device.c_str(), settings);
    if (!m_port) return 0;
    m_open = 1;
    return 1;
}

int SerialChannel::Close() {
    m_port.reset();
    m_open = 0;
    return 1;
}

void SerialChannel::ClearReceiveBuffer() {
    std::memset(m_receiveBuffer, 0, sizeof m_receiveBuffer);
    m_receivedCount = 0;
}

void SerialChannel::Purge() {
    if (m_port) m_port->PurgeOutput();
}

int SerialChannel::WriteFrame(const char* frame, int length) {
    if (!m_open || !m_port || length <= 0) return 0;
    int kept = std::min(length, kBufferSize);
    std::memcpy(m_sentCopy, frame, static_cast<std::size_t>(kept));
    m_sentCopy[kept] = '\0';
    m_sentLength = kept;
    FrameTrace(TraceDirection::kSend, m_sentCopy, m_sentLength, TraceEnabled());
    WriteAll(reinterpret_cast<const std::uint8_t*>(frame), length);
    return length;
}

void SerialChannel::WriteAll(const std::uint8_t* bytes, int length) {
    // The frame goes out in as few calls as the output queue allows: the line carries the same
    // bytes, and the pad is not woken once per byte.
    std::uint64_t stalledSince = platform::MonotonicMs();
    while (length > 0) {
        int written = 0;
        WriteResult result = m_port->Write(bytes, length, &written);
        if (written > 0) {
            bytes += written;
            length -= written;
            stalledSince = platform::MonotonicMs();
            continue;
        }
        if (result == WriteResult::kFailed) return;
        // A line that takes nothing for a whole wait loses the rest of the frame; the missing
        // reply tells the caller.
        PumpMessages();
        if (LimitPassed(stalledSince, kWriteWaitMs)) return;
        if (m_port->WaitForOutput(PassWait(stalledSince, kWriteWaitMs, kPassWaitMs)) ==
            WaitResult::kHangUp)
            return;
    }
}

void SerialChannel::StoreByte(std::uint8_t byte) {
    // Bytes beyond the buffer are read and dropped, so that the line is still drained.
    if (m_receivedCount >= kBufferSize) return;
    m_receiveBuffer[m_receivedCount++] = static_cast<char>(byte);
}

std::uint16_t SerialChannel::EndTimeout(const char* note) {
    Purge();
    TimeoutLog(note, 0);
    return kEndTimeout;
}

std::uint16_t SerialChannel::LineGone(const char* note) {
    ClearReceiveBuffer();
    return EndTimeout(note);
}

std::uint16_t SerialChannel::AsynReadByEndChar(char endByte, std::uint32_t limitMs) {
    ClearReceiveBuffer();
    if (!m_port || m_port->QueuedCount() == 0) return kNothingQueued;
    const std::uint64_t start = platform::MonotonicMs();
    m_endSeen = false;
    int afterEnd = 0;
    for (;;) {
        PumpMessages();
        if (LimitPassed(start, limitMs)) return EndTimeout("AsynReadByEndChar01:TimeOut");
        int queued = m_port->QueuedCount();
        if (queued == 0) {
            WaitResult wait = m_port->WaitForInput(PassWait(start, limitMs, kPassWaitMs));
            if (wait == WaitResult::kHangUp) return LineGone("AsynReadByEndChar01:TimeOut");
            continue;
        }
        if (LimitPassed(start, limitMs)) return EndTimeout("AsynReadByEndChar02:TimeOut");
        // All queued bytes are taken in one call, then looked at one by one.
        std::uint8_t chunk[kBufferSize];
        int got = 0;
        ReadResult read = m_port->Read(chunk, std::min(queued, kBufferSize), &got);
        if (read == ReadResult::kNone) {
            m_port->WaitForInput(PassWait(start, limitMs, kPassWaitMs));
            continue;
        }
        if (read == ReadResult::kFailed) continue;  // a failed read stores nothing
        for (int i = 0; i < got; ++i) {
            if (m_endSeen) ++afterEnd;
            if (chunk[i] == static_cast<std::uint8_t>(endByte)) m_endSeen = true;
            StoreByte(chunk[i]);
        }
        if (afterEnd >= 2) {
            m_receiveBuffer[m_receivedCount] = '\0';
            Purge();
            return static_cast<std::uint16_t>(m_receivedCount);
        }
    }
}

std::uint16_t SerialChannel::ReadByEndChar(char endByte, int timeoutSeconds) {
    const std::uint32_t limitMs = LimitMs(timeoutSeconds);
    const std::uint64_t start = platform::MonotonicMs();
    for (;;) {
        PumpMessages();
        if (LimitPassed(start, limitMs)) return EndTimeout("sReadByEndChar:TimeOut");
        std::uint16_t result = AsynReadByEndChar(endByte, limitMs);
        if (result == kNothingQueued) {
            if (!m_port ||
                m_port->WaitForInput(PassWait(start, limitMs, kPassWaitMs)) == WaitResult::kHangUp)
                return LineGone("sReadByEndChar:TimeOut");
            continue;
        }
        if (static_cast<std::int16_t>(result) > 0)
            FrameTrace(TraceDirection::kReceive, m_receiveBuffer, m_receivedCount, TraceEnabled());
        return result;
    }
}

void SerialChannel::SettleUntilQueued(std::uint16_t count) {
    const std::uint64_t start = platform::MonotonicMs();
    while (!LimitPassed(start, kSettleMs)) {
        PumpMessages();
        int queued = m_port->QueuedCount();
        if (count > 0 && queued >= count) return;
        int wait = PassWait(start, kSettleMs, kSettleMs);
        if (queued == 0) {
            if (m_port->WaitForInput(wait) == WaitResult::kHangUp) return;
            continue;
        }
        // Some bytes are queued but not enough (or none are wanted): poll() cannot wait for
        // more, so pause briefly.
        m_port->Pause(count > 0 ? std::min(wait, 2) : wait);
    }
}

std::uint16_t SerialChannel::ReadCount(std::uint16_t count) {
    ClearReceiveBuffer();
    if (!m_port || m_port->QueuedCount() == 0) return kNothingQueued;
    const std::uint64_t start = platform::MonotonicMs();
    m_endSeen = false;
    for (;;) {
        if (LimitPassed(start, kCountLimitMs)) {
            Purge();
            return kCountTimeout;
        }
        SettleUntilQueued(count);
        if (count == 0) continue;
        for (int i = 0; i < count; ++i) {
            std::uint8_t byte = 0;
            ReadResult read = m_port->ReadByte(&byte);
            if (read == ReadResult::kNone) return kReadPending;
            if (read == ReadResult::kFailed) return kReadFailed;
            StoreByte(byte);
        }
        if (m_receivedCount >= std::min<int>(count, kBufferSize)) {
            m_endSeen = true;
            m_receiveBuffer[m_receivedCount] = '\0';
            return static_cast<std::uint16_t>(m_receivedCount);
        }
    }
}

std::uint16_t SerialChannel::PollReadCount(std::uint16_t count, std::int16_t timeoutSeconds) {
    const std::uint32_t limitMs = LimitMs(timeoutSeconds);
    const std::uint64_t start = platform::MonotonicMs();
    for (;;) {
        PumpMessages();
        if (LimitPassed(start, limitMs)) {
            Purge();
            return kCountTimeout;
        }
        std::uint16_t result = ReadCount(count);
        if (result != kNothingQueued) return result;
        if (!m_port ||
            m_port->WaitForInput(PassWait(start, limitMs, kCountPollMs)) == WaitResult::kHangUp) {
            Purge();
            return kCountTimeout;
        }
    }
}

}  // namespace lumenord
