#include "serial_channel.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "pinpad.h"
#include "serial_port.h"
#include "settings.h"
#include "ticks.h"
#include "trace.h"

namespace lumenord {
namespace {

// Longest wait of one pass of an end-byte read, so that the host's messages keep flowing.
constexpr std::uint32_t kPassWaitMs = 10;
// The same where nothing is to be pumped: the wait ends anyway when bytes come, the line hangs
// up or the host cancels, so that only the time-out is left to look at.
constexpr std::uint32_t kUnpumpedPassWaitMs = 1000;
// Longest wait of one pass of a counted read.
constexpr std::uint32_t kCountPollMs = 70;
// How long a write may stall for room in the output queue before the rest of the frame is dropped.
constexpr std::uint32_t kWriteWaitMs = 1000;
// Longer time-outs than a day are taken as a day, so that the millisecond limit cannot wrap.
constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;
// Bytes taken per read while a reply that outgrew the receive buffer is read to its end.
constexpr int kDrainChunk = 512;
// The frame trace's note for a wait that the host cancelled.
constexpr const char* kCancelNote = "Wait cancelled by the host";

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

std::uint8_t* AsBytes(char* bytes) { return reinterpret_cast<std::uint8_t*>(bytes); }

// The time-out log's note for a device that the settings forbid to open.
const char* RefusalNote(DeviceRefusal refusal) {
    switch (refusal) {
        case DeviceRefusal::kPathTooLong:
            return "EnablePort:DevicePathTooLong";
        case DeviceRefusal::kPathHoldsNul:
            return "EnablePort:DevicePathHoldsNul";
        default:
            return "EnablePort:SettingsUnreadable";
    }
}

}  // namespace

std::uint32_t SerialChannel::PassSlice() const {
    return m_hooks.pumpWanted != nullptr && m_hooks.pumpWanted() ? kPassWaitMs
                                                                 : kUnpumpedPassWaitMs;
}

SerialChannel::SerialChannel(WaitHooks hooks)
    : m_hooks(hooks), m_traceEnabled(ReadTraceSetting()) {}

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
    // The settings are read now, so that a changed sysconfig.ini takes effect at the next open.
    DeviceRefusal refusal = DeviceRefusal::kNone;
    std::string device = DevicePathForPort(m_portNumber, &refusal);
    if (refusal != DeviceRefusal::kNone) {
        TimeoutLog(RefusalNote(refusal), 0);
        return 0;
    }
    m_verifyChecks = ReadVerifyCheckSetting();
    LineSettings settings{m_baudRate, m_parityCode, m_dataBitsCode, m_stopBitsCode};
    m_port = SerialPort::Open(device.c_str(), settings);
    if (!m_port) return 0;
    m_open = 1;
    return 1;
}

int SerialChannel::Close() {
    m_port.reset();
    m_open = 0;
    m_keptCount = 0;
    return 1;
}

void SerialChannel::ClearReceiveBuffer() {
    std::memset(m_receiveBuffer, 0, sizeof m_receiveBuffer);
    m_receivedCount = 0;
}

void SerialChannel::Purge() {
    if (m_port) m_port->PurgeOutput();
}

void SerialChannel::DiscardPending() {
    m_keptCount = 0;
    if (m_port) m_port->PurgeInputAndOutput();
}

int SerialChannel::WriteFrame(const char* frame, int length) {
    if (!m_open || !m_port || length <= 0) return 0;
    // The trace keeps at most a buffer's worth of a frame.
    FrameTrace(TraceDirection::kSend, frame, std::min(length, kBufferSize), TraceEnabled());
    // The read that follows notes a hang-up or a cancel itself; any other loss is the write's.
    if (!WriteAll(reinterpret_cast<const std::uint8_t*>(frame), length) && !m_port->HungUp() &&
        !WaitsCancelled())
        NoteFailure(LUMENORD_FAILURE_WRITE_FAILED);
    return length;
}

bool SerialChannel::WriteAll(const std::uint8_t* bytes, int length) {
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
        if (result == WriteResult::kFailed) return false;
        // A line that takes nothing for a whole wait loses the rest of the frame; the missing
        // reply tells the caller. So does a cancel.
        PumpMessages();
        if (WaitsCancelled() || LimitPassed(stalledSince, kWriteWaitMs)) return false;
        if (m_port->WaitForOutput(PassWait(stalledSince, kWriteWaitMs, kPassWaitMs)) ==
            WaitResult::kHangUp)
            return false;
    }
    return true;
}

void SerialChannel::TakeKept(int count) {
    count = std::min({count, m_keptCount, kBufferSize - m_receivedCount});
    std::memcpy(m_receiveBuffer + m_receivedCount, m_kept, static_cast<std::size_t>(count));
    m_receivedCount += count;
    m_keptCount -= count;
    std::memmove(m_kept, m_kept + count, static_cast<std::size_t>(m_keptCount));
}

std::uint16_t SerialChannel::EndTimeout(const char* note) {
    Purge();
    TimeoutLog(note, 0);
    return kEndTimeout;
}

void SerialChannel::NoteCancel() {
    FrameTraceNote(kCancelNote, TraceEnabled());
    NoteFailure(LUMENORD_FAILURE_CANCELLED);
}

std::uint16_t SerialChannel::Cancelled() {
    Purge();
    NoteCancel();
    TimeoutLog("sReadByEndChar:Cancelled", 0);
    return kEndTimeout;
}

std::uint16_t SerialChannel::LineGone() {
    NoteFailure(LUMENORD_FAILURE_LINE_HUNG_UP);
    ClearReceiveBuffer();
    // No time-out ran: the note says what happened.
    TimeoutLog("sReadByEndChar:LineGone", 0);
    return kEndTimeout;
}

std::uint16_t SerialChannel::ReplyComplete(int length) {
    // What came behind the reply (a key echo sent right after it) waits for PollReadCount.
    int behind = m_receivedCount - length;
    if (behind > 0) {
        int room = static_cast<int>(sizeof m_kept) - m_keptCount;
        std::memcpy(m_kept + m_keptCount, m_receiveBuffer + length,
                    static_cast<std::size_t>(std::min(behind, room)));
        m_keptCount += std::min(behind, room);
        std::memset(m_receiveBuffer + length, 0, static_cast<std::size_t>(behind));
    }
    m_receivedCount = length;
    // No purge here: the reply shows that the request went out, and the next command purges
    // both queues before it writes anyway.
    FrameTrace(TraceDirection::kReceive, m_receiveBuffer, m_receivedCount, TraceEnabled());
    return static_cast<std::uint16_t>(length);
}

bool SerialChannel::DrainToEnd(char endByte, std::uint64_t start, std::uint32_t limitMs) {
    int afterEnd = -1;  // bytes seen after the end byte; -1 until it comes
    std::uint8_t chunk[kDrainChunk];
    while (!LimitPassed(start, limitMs)) {
        PumpMessages();
        if (WaitsCancelled()) return false;
        int wait = PassWait(start, limitMs, PassSlice());
        WaitResult ready = m_port->WaitForInput(wait);
        if (ready == WaitResult::kHangUp) return false;
        if (ready != WaitResult::kReady) continue;  // the next pass sees a cancel
        int got = m_port->Read(chunk, kDrainChunk);
        if (got == 0) {
            if (m_port->HungUp()) return false;
            m_port->Pause(wait);  // woken with nothing to take: no spinning
        }
        for (int i = 0; i < got; ++i) {
            if (afterEnd >= 0)
                ++afterEnd;
            else if (chunk[i] == static_cast<std::uint8_t>(endByte))
                afterEnd = 0;
            if (afterEnd >= 2) return true;
        }
    }
    return false;
}

std::uint16_t SerialChannel::ReadByEndChar(char endByte, int timeoutSeconds, ReplyEnd replyEnd) {
    // One deadline for the whole read, however late its first byte comes.
    const std::uint32_t limitMs = LimitMs(timeoutSeconds);
    const std::uint64_t start = platform::MonotonicMs();
    ClearReceiveBuffer();
    if (!m_port) return LineGone();
    for (;;) {
        if (m_receivedCount > 0) {
            int end = replyEnd(m_receiveBuffer, m_receivedCount);
            if (end > 0) return ReplyComplete(end);
            if (m_receivedCount == kBufferSize) {
                // Too long for the buffer: the rest is read and dropped, so that it cannot pass
                // for key presses or the next reply.
                if (DrainToEnd(endByte, start, limitMs)) return ReplyComplete(kBufferSize);
                if (m_port->HungUp()) return LineGone();
                if (WaitsCancelled()) return Cancelled();
                return EndTimeout("AsynReadByEndChar01:TimeOut");
            }
        }
        PumpMessages();
        if (WaitsCancelled()) return Cancelled();
        if (LimitPassed(start, limitMs))
            return EndTimeout(m_receivedCount > 0 ? "AsynReadByEndChar01:TimeOut"
                                                  : "sReadByEndChar:TimeOut");
        int wait = PassWait(start, limitMs, PassSlice());
        WaitResult ready = m_port->WaitForInput(wait);
        if (ready == WaitResult::kHangUp) return LineGone();
        if (ready != WaitResult::kReady) continue;  // the next pass sees a cancel
        // One read takes everything queued, as far as the buffer has room.
        int got =
            m_port->Read(AsBytes(m_receiveBuffer + m_receivedCount), kBufferSize - m_receivedCount);
        if (got == 0) {
            if (m_port->HungUp()) return LineGone();
            m_port->Pause(wait);  // woken with nothing to take: no spinning
        }
        m_receivedCount += got;
    }
}

std::uint16_t SerialChannel::PollReadCount(std::uint16_t count, std::int16_t timeoutSeconds) {
    const int wanted = std::clamp<int>(count, 1, kBufferSize);
    const std::uint32_t limitMs = LimitMs(timeoutSeconds);
    const std::uint64_t start = platform::MonotonicMs();
    ClearReceiveBuffer();
    for (;;) {
        if (m_keptCount >= wanted) {
            TakeKept(wanted);
            return static_cast<std::uint16_t>(wanted);
        }
        PumpMessages();
        if (WaitsCancelled()) {
            NoteCancel();
            return kCountTimeout;
        }
        if (LimitPassed(start, limitMs) || !m_port) {
            Purge();
            NoteFailure(m_port && m_port->HungUp() ? LUMENORD_FAILURE_LINE_HUNG_UP
                                                   : LUMENORD_FAILURE_NO_REPLY);
            return kCountTimeout;
        }
        int wait = PassWait(start, limitMs, kCountPollMs);
        WaitResult ready = m_port->WaitForInput(wait);
        if (ready == WaitResult::kIdle || ready == WaitResult::kCancelled) continue;
        int got = ready == WaitResult::kReady
                      ? m_port->Read(AsBytes(m_kept + m_keptCount), kBufferSize - m_keptCount)
                      : 0;
        m_keptCount += got;
        // A gone line (or a wake-up with nothing to take) waits out the pass instead of spinning.
        if (got == 0) m_port->Pause(wait);
    }
}

}  // namespace lumenord
