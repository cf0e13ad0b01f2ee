#include "frame_exchange.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "serial_channel.h"

namespace lumenord {
namespace {

// Bytes of a reply up to and including its status byte: STX, three length digits, status.
constexpr int kReplyHead = 5;

void WriteLengthField(int payloadLength, char* field) {
    int value = payloadLength + 1;
    if (value > 999) value = 0;  // the field has three digits; longer frames carry "000"
    field[0] = static_cast<char>('0' + value / 100);
    field[1] = static_cast<char>('0' + value / 10 % 10);
    field[2] = static_cast<char>('0' + value % 10);
}

int FindStx(const char* bytes, int count) {
    for (int i = 0; i < count; ++i)
        if (bytes[i] == kStx) return i;
    return -1;
}

int LengthFieldValue(const char* field) {
    return 100 * (field[0] - '0') + 10 * (field[1] - '0') + (field[2] - '0');
}

// Cuts the reply out of what the channel received: from the STX up to, not including, the ETX
// and the check characters. Returns the exchange result.
int CutReply(const SerialChannel& channel, char* reply, std::size_t replySize) {
    const char* received = channel.ReceiveBuffer();
    int count = channel.ReceivedCount();
    int stx = FindStx(received, count);
    if (stx < 0) return -4;
    int length = count - stx - 3;
    // A reply cut so short that it carries no status byte is no reply at all.
    if (length < kReplyHead) return -4;
    std::size_t copied = std::min(static_cast<std::size_t>(length), replySize - 1);
    std::memcpy(reply, received + stx, copied);
    reply[copied] = '\0';
    return LengthFieldValue(received + stx + 1);
}

int Exchange(SerialChannel& channel, char command, const char* payload, int length,
             int timeoutSeconds, char* reply, std::size_t replySize) {
    if (reply == nullptr || replySize == 0) return -3;
    if (length < 0 || length > kMaxPayload) return -3;
    if (length >= 1 && (payload == nullptr || payload[0] == '\0')) return -3;
    std::memset(reply, 0, replySize);
    char frame[kFrameWorkArea];
    int frameLength = BuildFrame(command, payload, length, frame);
    channel.ClearReceiveBuffer();
    if (channel.WriteFrame(frame, frameLength) == 0) return 2;
    std::uint16_t read = channel.ReadByEndChar(kEtx, timeoutSeconds);
    if (read == 0) return 3;
    // A time-out does not end the exchange: whatever arrived is looked at.
    return CutReply(channel, reply, replySize);
}

}  // namespace

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

int SendCommand(SerialChannel& channel, char command, const char* payload, int length, char* reply,
                std::size_t replySize) {
    return Exchange(channel, command, payload, length, ReadTimeoutFor(length), reply, replySize);
}

int SendCommandTimed(SerialChannel& channel, char command, const char* payload, int length,
                     int timeoutSeconds, char* reply, std::size_t replySize) {
    // The caller's time-out is a signed byte; values that turn negative end the read at once.
    return Exchange(channel, command, payload, length, static_cast<std::int8_t>(timeoutSeconds),
                    reply, replySize);
}

int ParseStatus(int exchangeResult, const char* reply, char successByte) {
    if (exchangeResult <= 0 || exchangeResult == 2 || exchangeResult == 3) return exchangeResult;
    auto status = static_cast<unsigned char>(reply[4]);
    return status == static_cast<unsigned char>(successByte) ? 1 : status;
}

}  // namespace lumenord
