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
// The longest wait for a PIN value: the pad's own entry time-out goes up to 255 seconds.
constexpr int kMaxPinTimeoutSeconds = 255;

int EnablePin(const char* params, unsigned int length) {
    if (params == nullptr || length == 0 || params[0] == '\0') return kBadArgument;
    RequestBuffer<kSmallBuffer> payload;
    if (!payload.Append(params, length)) return kBadArgument;
    if (PortEnabled == 0) return kPortNotEnabled;
    char reply[kSmallBuffer];
    int result = ParseStatus(Transact('6', payload.Bytes(), payload.Length(), reply), 'f');
    // Whatever went wrong on the host side, the caller learns that no entry was started.
    return result < 0 ? kNoReply : result;
}

int GetPinValue(const char* params, unsigned int length, int timeoutSeconds, char* output) {
    if (output == nullptr) return kBadArgument;
    if (timeoutSeconds < 1 || timeoutSeconds > kMaxPinTimeoutSeconds) return kBadArgument;
    RequestBuffer<kSmallBuffer> payload;
    if (length > 0 && (params == nullptr || !payload.Append(params, length))) return kBadArgument;
    if (PortEnabled == 0) return kPortNotEnabled;
    char reply[kPinReplyBuffer];
    ExchangeResult exchange =
        SendCommandTimed(Context().channel, '7', payload.Bytes(), payload.Length(), timeoutSeconds,
                         reply, sizeof reply);
    int result = ParseStatus(exchange, 'g');
    if (result != 0) return result;
    if (!ReplyDataWhole(exchange, sizeof reply)) return kNoReply;
    CopyReplyData(reply, sizeof reply, 0, static_cast<std::size_t>(exchange.dataLength), output);
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
    int result = ParseStatus(Transact('8', payload.Bytes(), payload.Length(), reply), 'h');
    if (result != 0) return result;
    CopyReplyData(reply, sizeof reply, 0, kMacLength, output);
    return 0;
}

int EncryptData(const char* request, unsigned int length, char* output) {
    if (output == nullptr || request == nullptr || length == 0 || request[0] == '\0')
        return kBadArgument;
    RequestBuffer<kLargeBuffer> payload;
    if (length > static_cast<unsigned int>(kMaxPayload) || !payload.Append(request, length))
        return kBadArgument;
    if (PortEnabled == 0) return kPortNotEnabled;
    char reply[kLargeBuffer];
    ExchangeResult exchange = Transact('9', payload.Bytes(), payload.Length(), reply);
    int result = ParseStatus(exchange, 'i');
    if (result != 0) return result;
    if (!ReplyDataWhole(exchange, sizeof reply)) return kNoReply;
    CopyReplyData(reply, sizeof reply, 0, static_cast<std::size_t>(exchange.dataLength), output);
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
