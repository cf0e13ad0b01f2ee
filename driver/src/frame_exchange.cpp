#include "frame_exchange.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "driver_context.h"
#include "serial_channel.h"
#include "trace.h"

namespace lumenord {
namespace {

// Bytes of a reply up to and including its status byte: STX, three length digits, status.
constexpr int kReplyHead = 5;
// Bytes after the ETX: the two check characters.
constexpr int kCheckLength = 2;

void WriteLengthField(int payloadLength, char* field) {
    int value = payloadLength + 1;
    if (value > 999) value = 0;  // the field has three digits; longer frames carry "000"
    field[0] = static_cast<char>('0' + value / 100);
    field[1] = static_cast<char>('0' + value / 10 % 10);
    field[2] = static_cast<char>('0' + value % 10);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of a three-digit length field ("000" gives 0), or -1 when it is not three digits.
int LengthFieldValue(const char* field) {
    if (!IsDigit(field[0]) || !IsDigit(field[1]) || !IsDigit(field[2])) return -1;
    return 100 * (field[0] - '0') + 10 * (field[1] - '0') + (field[2] - '0');
}

int FindByte(const char* bytes, int from, int count, char byte) {
    if (from >= count) return -1;
    const void* found = std::memchr(bytes + from, byte, static_cast<std::size_t>(count - from));
    return found == nullptr ? -1 : static_cast<int>(static_cast<const char*>(found) - bytes);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

unsigned char CheckOf(const char* bytes, int from, int through) {
    unsigned char check = 0;
    for (int i = from; i <= through; ++i) check ^= static_cast<unsigned char>(bytes[i]);
    return check;
}

// A reply frame found among the received bytes.
struct ReplyFrame {
    int stx = 0;
    int dataLength = 0;
    unsigned char status = 0;
};

// Why received bytes are no sound reply frame: the frame trace's words and the reason for
// Lumenord_LastFailure. A null `why` is a sound frame.
struct Fault {
    const char* why = nullptr;
    int reason = LUMENORD_FAILURE_NONE;
};

// Why the bytes from `stx` on are no sound reply frame, or no fault when they are one (`frame`
// then describes it). `why` holds the text when it has to be composed.
Fault JudgeFrameAt(const char* bytes, int count, int stx, bool verifyCheck, ReplyFrame* frame,
                   char (&why)[96]) {
    constexpr int kCut = LUMENORD_FAILURE_CUT_REPLY;
    constexpr int kMalformed = LUMENORD_FAILURE_MALFORMED_REPLY;
    if (count - stx < kReplyHead) return {"cut short before its status byte", kCut};
    int field = LengthFieldValue(bytes + stx + 1);
    if (field < 0) return {"its length field is not three digits", kMalformed};
    int etx = field > 0 ? stx + 4 + field : FindByte(bytes, stx + kReplyHead, count, kEtx);
    if (etx < 0 || etx >= count) return {"cut short before its ETX", kCut};
    if (bytes[etx] != kEtx) return {"no ETX where its length field puts it", kMalformed};
    if (count - etx - 1 < kCheckLength) return {"cut short before its check characters", kCut};
    const char* check = bytes + etx + 1;
    int high = HexValue(check[0]), low = HexValue(check[1]);
    unsigned char computed = CheckOf(bytes, stx + 1, etx);
    if (verifyCheck && (high < 0 || low < 0 || (high << 4 | low) != computed)) {
        std::snprintf(why, sizeof why, "check characters %.2s, the bytes give %02X", check,
                      computed);
        return {why, LUMENORD_FAILURE_BAD_CHECK};
    }
    frame->stx = stx;
    frame->dataLength = etx - stx - kReplyHead;
    frame->status = static_cast<unsigned char>(bytes[stx + 4]);
    return {};
}

// Finds the sound reply frame among what the channel received: the first STX that starts one
// (an STX in the line noise before it does not). Otherwise returns why the first STX does not,
// or "no STX" when there is none: nothing came at all, or only noise.
Fault FindReplyFrame(const SerialChannel& channel, ReplyFrame* frame, char (&why)[96]) {
    const char* received = channel.ReceiveBuffer();
    int count = channel.ReceivedCount();
    Fault firstFault;
    char laterWhy[96];
    for (int stx = FindByte(received, 0, count, kStx); stx >= 0;
         stx = FindByte(received, stx + 1, count, kStx)) {
        Fault fault = JudgeFrameAt(received, count, stx, channel.VerifyChecks(), frame,
                                   firstFault.why == nullptr ? why : laterWhy);
        if (fault.why == nullptr) return fault;
        if (firstFault.why == nullptr) firstFault = fault;
    }
    if (firstFault.why != nullptr) return firstFault;
    return {"no STX", count == 0 ? LUMENORD_FAILURE_NO_REPLY : LUMENORD_FAILURE_MALFORMED_REPLY};
}

long long WallClockMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// Tells the host's frame monitor about one frame; returns when the frame was seen (steady clock)
// for the round trip of the reply that follows.
std::chrono::steady_clock::time_point ReportFrame(const FrameMonitorHook& hook, int direction,
                                                  const char* bytes, int length, int status,
                                                  std::chrono::steady_clock::time_point sentAt) {
    auto now = std::chrono::steady_clock::now();
    Lumenord_Frame frame{};
    frame.direction = direction;
    frame.bytes = reinterpret_cast<const unsigned char*>(bytes);
    frame.length = length;
    frame.timeMicroseconds = WallClockMicroseconds();
    frame.status = status;
    if (direction == LUMENORD_FRAME_RECEIVED) {
        auto roundTrip = std::chrono::duration_cast<std::chrono::microseconds>(now - sentAt);
        frame.roundTripMicroseconds = static_cast<int>(
            std::min<long long>(roundTrip.count(), std::numeric_limits<int>::max()));
    }
    hook.monitor(hook.context, &frame);
    return now;
}

// Reports what the read gave: the sound reply frame itself, or (status -1) all bytes received.
void ReportReply(const FrameMonitorHook& hook, const SerialChannel& channel,
                 const ReplyFrame* found, std::chrono::steady_clock::time_point sentAt) {
    if (found != nullptr) {
        int length = kReplyHead + found->dataLength + 1 + kCheckLength;
        ReportFrame(hook, LUMENORD_FRAME_RECEIVED, channel.ReceiveBuffer() + found->stx, length,
                    found->status, sentAt);
    } else {
        ReportFrame(hook, LUMENORD_FRAME_RECEIVED, channel.ReceiveBuffer(), channel.ReceivedCount(),
                    -1, sentAt);
    }
}

ExchangeResult Failure(int code) {
    ExchangeResult result;
    result.failure = code;
    return result;
}

ExchangeResult Exchange(SerialChannel& channel, char command, const char* payload, int length,
                        int timeoutSeconds, char* reply, std::size_t replySize) {
    if (reply == nullptr || replySize == 0) return Failure(PINPAD_ERR_ARGUMENT);
    if (length < 0 || length > kMaxPayload) return Failure(PINPAD_ERR_ARGUMENT);
    if (length >= 1 && (payload == nullptr || payload[0] == '\0'))
        return Failure(PINPAD_ERR_ARGUMENT);
    std::memset(reply, 0, replySize);
    // A cancelled driver sends nothing: a request now could open an input mode on the pad
    // that no one would close.
    if (WaitsCancelled()) {
        FrameTraceNote("Wait cancelled by the host: request not sent", channel.TraceEnabled());
        NoteFailure(LUMENORD_FAILURE_CANCELLED);
        return Failure(PINPAD_ERR_NO_REPLY);
    }
    char frame[kFrameWorkArea];
    int frameLength = BuildFrame(command, payload, length, frame);
    // A reply that came after its own request gave up must not answer this one.
    channel.DiscardPending();
    if (channel.WriteFrame(frame, frameLength) == 0) {
        NoteFailure(LUMENORD_FAILURE_PORT_NOT_OPEN);
        return Failure(PINPAD_ERR_NOT_WRITTEN);
    }
    FrameMonitorHook monitor = InstalledFrameMonitor();
    std::chrono::steady_clock::time_point sentAt{};
    if (monitor.monitor != nullptr)
        sentAt = ReportFrame(monitor, LUMENORD_FRAME_SENT, frame, frameLength, -1, sentAt);
    std::uint16_t read = channel.ReadByEndChar(kEtx, timeoutSeconds, &ReplyFrameEnd);
    // A time-out does not end the exchange: whatever arrived is looked at.
    ReplyFrame found;
    char why[96];
    Fault fault = FindReplyFrame(channel, &found, why);
    if (fault.why != nullptr && read == SerialChannel::kBufferSize)
        fault = {"longer than the receive buffer", LUMENORD_FAILURE_REPLY_TOO_LONG};
    // Noted before the monitor hears of the reply, so that it can ask why. A hang-up or a
    // cancel that ended the read was noted first and stays.
    if (fault.why != nullptr) NoteFailure(fault.reason);
    if (monitor.monitor != nullptr)
        ReportReply(monitor, channel, fault.why == nullptr ? &found : nullptr, sentAt);
    if (fault.why != nullptr) {
        // A read that ended on a whole frame has traced it; say why it counts for nothing.
        if (read != SerialChannel::kEndTimeout) {
            char note[128];
            std::snprintf(note, sizeof note, "Reply refused: %s", fault.why);
            FrameTraceNote(note, channel.TraceEnabled());
        }
        return Failure(PINPAD_ERR_NO_REPLY);
    }
    std::size_t copied =
        std::min(static_cast<std::size_t>(kReplyHead + found.dataLength), replySize - 1);
    std::memcpy(reply, channel.ReceiveBuffer() + found.stx, copied);
    ExchangeResult result;
    result.status = found.status;
    result.dataLength = found.dataLength;
    return result;
}

}  // namespace

int ReplyFrameEnd(const char* bytes, int count) {
    int stx = FindByte(bytes, 0, count, kStx);
    if (stx < 0 || count - stx < kReplyHead) return 0;
    int field = LengthFieldValue(bytes + stx + 1);
    int etx = field > 0 ? stx + 4 + field : -1;
    if (etx >= count) return 0;  // the length field puts the ETX further on
    if (etx < 0 || bytes[etx] != kEtx) etx = FindByte(bytes, stx + kReplyHead, count, kEtx);
    if (etx < 0 || count - etx - 1 < kCheckLength) return 0;
    return etx + 1 + kCheckLength;
}

int BuildFrame(char command, const char* payload, int length, char* frame) {
    frame[0] = kStx;
    WriteLengthField(length, frame + 1);
    frame[4] = command;
    if (length > 0) std::memcpy(frame + 5, payload, static_cast<std::size_t>(length));
    frame[5 + length] = kEtx;
    unsigned char check = 0;
    for (int i = 1; i <= 5 + length; ++i) check ^= static_cast<unsigned char>(frame[i]);
    char text[3];
    std::snprintf(text, sizeof text, "%02X", check);
    frame[6 + length] = text[0];
    frame[7 + length] = text[1];
    return length + 8;
}

int ReadTimeoutFor(int length) {
    // Two seconds more for every further 64 bytes, from four. Kept as a plain int: as a signed
    // byte it would wrap for payloads of 3971 bytes and more.
    int steps = (length - 3) / 64;
    return 2 * (steps + 2);
}

ExchangeResult SendCommand(SerialChannel& channel, char command, const char* payload, int length,
                           char* reply, std::size_t replySize) {
    return Exchange(channel, command, payload, length, ReadTimeoutFor(length), reply, replySize);
}

ExchangeResult SendCommandTimed(SerialChannel& channel, char command, const char* payload,
                                int length, int timeoutSeconds, char* reply,
                                std::size_t replySize) {
    return Exchange(channel, command, payload, length, timeoutSeconds, reply, replySize);
}

int ParseStatus(const ExchangeResult& exchange, char successByte) {
    if (exchange.failure != PINPAD_OK) return exchange.failure;
    if (exchange.status == static_cast<unsigned char>(successByte)) return PINPAD_OK;
    if (exchange.status != 0) return exchange.status;
    NoteFailure(LUMENORD_FAILURE_MALFORMED_REPLY);
    return PINPAD_ERR_NO_REPLY;
}

}  // namespace lumenord
