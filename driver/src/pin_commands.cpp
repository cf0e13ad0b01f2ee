// The PIN entry, PIN value, MAC and data encryption exports: commands '6' to '9'.
#include <cstring>

#include "command_support.h"
#include "des_engine.h"
#include "pinpad.h"

namespace lumenord {
namespace {

constexpr std::size_t kMacLength = 16;
constexpr std::size_t kMacHeader = 3;
// From this input length on, the message bytes after the header travel as hexadecimal text.
constexpr unsigned int kMacHexFrom = 999;
// The longest input whose expansion, 2 x length - 3 bytes, still fits the request work area.
constexpr unsigned int kMaxMacInput = (kMaxPayload + kMacHeader) / 2;

int EnablePin(const char* params, unsigned int length) {
    if (params == nullptr || length == 0 || params[0] == '\0') return kBadArgument;
    RequestBuffer<kSmallBuffer> payload;
    if (!payload.Append(params, length)) return kBadArgument;
    if (PortEnabled == 0) return kPortNotEnabled;
    char reply[kSmallBuffer];
    int routine = Transact('6', payload.Bytes(), payload.Length(), 'f', reply);
    // Whatever went wrong on the host side, the caller learns that no entry was started.
    if (routine < 0) return kNoReply;
    return ExportResult(routine);
}

int GetPinValue(const char* params, unsigned int length, int timeoutSeconds, char* output) {
    if (output == nullptr) return kBadArgument;
    RequestBuffer<kSmallBuffer> payload;
    if (length > 0 && (params == nullptr || !payload.Append(params, length))) return kBadArgument;
    if (PortEnabled == 0) return kPortNotEnabled;
    char reply[kPinReplyBuffer];
    int exchange = SendCommandTimed(Context().channel, '7', payload.Bytes(), payload.Length(),
                                    timeoutSeconds, reply, sizeof reply);
    int routine = ParseStatus(exchange, reply, 'g');
    if (routine != kRoutineSuccess) return routine;
    // The length field counts the status byte; what lies beyond the cut reply is zero.
    CopyReplyData(reply, sizeof reply, 0, static_cast<std::size_t>(exchange - 1), output);
    return 0;
}

// The MAC payload: unchanged below 999 bytes, otherwise the header followed by every message
// byte as two upper-case hexadecimal characters.
void BuildMacPayload(const char* input, unsigned int length, RequestBuffer<kLargeBuffer>& payload) {
    if (length < kMacHexFrom) {
        payload.Append(input, length);
        return;
    }
    payload.Append(input, kMacHeader);
    char hex[2 * 64 + 1];
    for (unsigned int done = kMacHeader; done < length; done += 64) {
        std::size_t chunk = std::min<std::size_t>(64, length - done);
        BytesToHex(reinterpret_cast<const std::uint8_t*>(input + done), chunk, hex);
        payload.Append(hex, 2 * chunk);
    }
}

int MakeMac(const char* input, unsigned int length, char* output) {
    if (output == nullptr || input == nullptr || length == 0 || input[0] == '\0')
        return kBadArgument;
    if (length > kMaxMacInput) return kBadArgument;
    if (PortEnabled == 0) return kPortNotEnabled;
    RequestBuffer<kLargeBuffer> payload;
    BuildMacPayload(input, length, payload);
    char reply[kLargeBuffer];
    int routine = Transact('8', payload.Bytes(), payload.Length(), 'h', reply);
    if (routine != kRoutineSuccess) return routine;
    CopyReplyData(reply, sizeof reply, 0, kMacLength, output);
    return 0;
}

// Reply data of an 'i' reply: as many bytes as the length field says, or, when it reads "000",
// every byte up to the first ETX.
std::size_t EncryptedDataLength(int exchange, const char* reply, std::size_t replySize) {
    if (exchange > 0) return static_cast<std::size_t>(exchange - 1);
    const char* data = reply + kReplyData;
    const void* etx = std::memchr(data, kEtx, ReplyDataCapacity(replySize));
    return etx == nullptr ? ReplyDataCapacity(replySize)
                          : static_cast<std::size_t>(static_cast<const char*>(etx) - data);
}

int EncryptData(const char* request, unsigned int length, char* output) {
    if (output == nullptr || request == nullptr || length == 0 || request[0] == '\0')
        return kBadArgument;
    RequestBuffer<kLargeBuffer> payload;
    if (length > static_cast<unsigned int>(kMaxPayload) || !payload.Append(request, length))
        return kBadArgument;
    if (PortEnabled == 0) return kPortNotEnabled;
    char reply[kLargeBuffer];
    int exchange =
        SendCommand(Context().channel, '9', payload.Bytes(), payload.Length(), reply, sizeof reply);
    if (exchange < 0) return exchange;
    // 2 and 3 without a reply frame mean the request was not written or nothing was read; as
    // length fields of a real reply they go on to the status check like any other length.
    if ((exchange == 2 || exchange == 3) && reply[0] != kStx) return exchange;
    auto status = static_cast<unsigned char>(reply[kReplyData - 1]);
    if (status != 'i') return status;
    CopyReplyData(reply, sizeof reply, 0, EncryptedDataLength(exchange, reply, sizeof reply),
                  output);
    return 0;
}

}  // namespace
}  // namespace lumenord

using lumenord::Guarded;

extern "C" {

PINPAD_API int PINPAD_CALL PinPad_EnablePin(const char* params, unsigned int length) {
    return Guarded([&] { return lumenord::EnablePin(params, length); });
}

PINPAD_API int PINPAD_CALL PinPad_GetPinValue(const char* params, unsigned int length,
                                              int timeoutSeconds, char* output) {
    return Guarded([&] { return lumenord::GetPinValue(params, length, timeoutSeconds, output); });
}

PINPAD_API int PINPAD_CALL PinPad_MakeMac(const char* input, unsigned int length, char* output) {
    return Guarded([&] { return lumenord::MakeMac(input, length, output); });
}

PINPAD_API int PINPAD_CALL PinPad_EncryptData(const char* request, unsigned int length,
                                              char* output) {
    return Guarded([&] { return lumenord::EncryptData(request, length, output); });
}

}  // extern "C"
