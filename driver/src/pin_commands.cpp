// The PIN entry, PIN value, MAC and data encryption exports: commands '6' to '9'.
#include <cstring>

#include "command_support.h"
#include "des_engine.h"
#include "pinpad.h"

namespace lumenord {
namespace {

constexpr std::size_t kMacLength = PINPAD_MAC_SIZE - 1;
constexpr std::size_t kMacHeader = 3;
// From this input length on, the message bytes after the header travel as hexadecimal text.
constexpr unsigned int kMacHexFrom = 999;
// The longest input is the longest whose expansion, 2 x length - 3 bytes, still fits a request.
static_assert(PINPAD_MAC_INPUT_MAX == (PINPAD_DATA_REQUEST_MAX + kMacHeader) / 2);

int EnablePin(const char* params, unsigned int length) {
    if (params == nullptr || length == 0 || params[0] == '\0') return PINPAD_ERR_ARGUMENT;
    RequestBuffer<PINPAD_REQUEST_MAX> payload;
    if (!payload.Append(params, length)) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    char reply[kSmallReplyBuffer];
    int result = ParseStatus(Transact('6', payload.Bytes(), payload.Length(), reply), 'f');
    // Whatever went wrong on the host side, the caller learns that no entry was started.
    return result < 0 ? PINPAD_ERR_NO_REPLY : result;
}

int GetPinValue(const char* params, unsigned int length, int timeoutSeconds, char* output) {
    if (output == nullptr) return PINPAD_ERR_ARGUMENT;
    // The pad's own entry time-out goes up to PINPAD_PIN_TIMEOUT_MAX seconds.
    if (timeoutSeconds < 1 || timeoutSeconds > PINPAD_PIN_TIMEOUT_MAX) return PINPAD_ERR_ARGUMENT;
    RequestBuffer<PINPAD_REQUEST_MAX> payload;
    if (length > 0 && (params == nullptr || !payload.Append(params, length)))
        return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    char reply[kPinReplyBuffer];
    ExchangeResult exchange =
        SendCommandTimed(Context().channel, '7', payload.Bytes(), payload.Length(), timeoutSeconds,
                         reply, sizeof reply);
    int result = ParseStatus(exchange, 'g');
    if (result != PINPAD_OK) return result;
    if (!ReplyDataWhole(exchange, sizeof reply)) return PINPAD_ERR_NO_REPLY;
    CopyReplyData(reply, sizeof reply, 0, static_cast<std::size_t>(exchange.dataLength), output);
    return PINPAD_OK;
}

// The MAC payload: unchanged below 999 bytes, otherwise the header followed by every message
// byte as two upper-case hexadecimal characters.
void BuildMacPayload(const char* input, unsigned int length,
                     RequestBuffer<PINPAD_DATA_REQUEST_MAX>& payload) {
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
        return PINPAD_ERR_ARGUMENT;
    if (length > PINPAD_MAC_INPUT_MAX) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    RequestBuffer<PINPAD_DATA_REQUEST_MAX> payload;
    BuildMacPayload(input, length, payload);
    char reply[kLargeReplyBuffer];
    int result = ParseStatus(Transact('8', payload.Bytes(), payload.Length(), reply), 'h');
    if (result != PINPAD_OK) return result;
    CopyReplyData(reply, sizeof reply, 0, kMacLength, output);
    return PINPAD_OK;
}

int EncryptData(const char* request, unsigned int length, char* output) {
    if (output == nullptr || request == nullptr || length == 0 || request[0] == '\0')
        return PINPAD_ERR_ARGUMENT;
    RequestBuffer<PINPAD_DATA_REQUEST_MAX> payload;
    if (!payload.Append(request, length)) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    char reply[kLargeReplyBuffer];
    ExchangeResult exchange = Transact('9', payload.Bytes(), payload.Length(), reply);
    int result = ParseStatus(exchange, 'i');
    if (result != PINPAD_OK) return result;
    if (!ReplyDataWhole(exchange, sizeof reply)) return PINPAD_ERR_NO_REPLY;
    CopyReplyData(reply, sizeof reply, 0, static_cast<std::size_t>(exchange.dataLength), output);
    return PINPAD_OK;
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
