// The IC card and display exports: commands '@', 'A' and ';'.
#include <cstring>

#include "command_support.h"
#include "pinpad.h"

namespace lumenord {
namespace {

// Where a card reply keeps its done flag ('0' = done); the card's answer follows it. When the
// flag is not '0', the card status is the fourth data character in both layouts.
struct CardReplyLayout {
    char command;
    char successByte;
    std::size_t doneFlag;
};
constexpr CardReplyLayout kControlReply{'@', 'p', 3};  // three header characters, status
constexpr CardReplyLayout kAccessReply{'A', 'q', 0};   // flag, answer
constexpr std::size_t kCardStatus = 3;

// Sends a card request, a text sent with its string length, and takes the card's answer.
int CardCommand(const CardReplyLayout& layout, const char* request, char* output) {
    if (request == nullptr || output == nullptr) return PINPAD_ERR_ARGUMENT;
    RequestBuffer<PINPAD_CARD_REQUEST_MAX> payload;
    if (!payload.Append(request, strnlen(request, PINPAD_CARD_REQUEST_MAX + 1)))
        return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    char reply[kCardReplyBuffer];
    ExchangeResult exchange = Transact(layout.command, payload.Bytes(), payload.Length(), reply);
    int result = ParseStatus(exchange, layout.successByte);
    if (result != PINPAD_OK) return result;
    if (!ReplyDataWhole(exchange, sizeof reply)) return PINPAD_ERR_NO_REPLY;
    const char* data = reply + kReplyData;
    const auto dataLength = static_cast<std::size_t>(exchange.dataLength);
    if (dataLength <= layout.doneFlag || data[layout.doneFlag] != '0') {
        // A status character that the reply does not carry (or a zero one) must not read as
        // success.
        const auto status =
            dataLength > kCardStatus ? static_cast<unsigned char>(data[kCardStatus]) : 0;
        if (status != 0) return status;
        NoteFailure(LUMENORD_FAILURE_MALFORMED_REPLY);
        return PINPAD_ERR_NO_REPLY;
    }
    // The flag is inside the data (checked above), so the answer's length cannot wrap.
    const std::size_t answerFrom = layout.doneFlag + 1;
    CopyReplyData(reply, sizeof reply, answerFrom, dataLength - answerFrom, output);
    return PINPAD_OK;
}

int DispInfoLcd(const char* record, int length) {
    if (record == nullptr || length < 0 || length > PINPAD_DATA_REQUEST_MAX)
        return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    // The record is sent from the caller's bytes; PINPAD_LOW_BATTERY is handed on as it is.
    char reply[kSmallReplyBuffer];
    return ParseStatus(Transact(';', record, length, reply), 'k');
}

}  // namespace
}  // namespace lumenord

using lumenord::Guarded;

extern "C" {

PINPAD_API int PINPAD_CALL PinPad_IC_Control(const char* request, char* output) {
    return Guarded([&] { return lumenord::CardCommand(lumenord::kControlReply, request, output); });
}

PINPAD_API int PINPAD_CALL PinPad_IC_Access(const char* request, char* output) {
    return Guarded([&] { return lumenord::CardCommand(lumenord::kAccessReply, request, output); });
}

PINPAD_API int PINPAD_CALL PinPad_DispInfoLcd(const char* record, int length) {
    return Guarded([&] { return lumenord::DispInfoLcd(record, length); });
}

}  // extern "C"
