// The port, customer information, keyboard value, control code and single-byte exports.
#include <cstdint>
#include <cstring>

#include "command_support.h"
#include "driver_context.h"
#include "frame_exchange.h"
#include "pinpad.h"
#include "settings.h"

namespace lumenord {
namespace {

// One setting command: the export's own copy of the payload, the exchange, the status rule.
int RunSettingCommand(char command, char successByte, const char* bytes, unsigned int length) {
    RequestBuffer<PINPAD_REQUEST_MAX> payload;
    if (!payload.Append(bytes, length)) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    char reply[kSmallReplyBuffer];
    return ParseStatus(Transact(command, payload.Bytes(), payload.Length(), reply), successByte);
}

int EnablePort(const char* portName, int baudRate, const char* parity, const char* dataBits,
               const char* stopBits) {
    if (portName == nullptr || portName[0] == '\0') return PINPAD_ERR_ARGUMENT;
    if (parity == nullptr || dataBits == nullptr || stopBits == nullptr) return PINPAD_ERR_ARGUMENT;
    // Longer names are refused: the number part would not fit its buffer.
    if (std::strlen(portName) > PINPAD_PORT_NAME_MAX) return PINPAD_ERR_ARGUMENT;
    SerialChannel& channel = Context().channel;
    channel.Close();
    channel.SetParameters(PortNumberFromName(portName), baudRate,
                          static_cast<std::uint8_t>(*parity), static_cast<std::uint8_t>(*dataBits),
                          static_cast<std::uint8_t>(*stopBits));
    int opened = channel.Open();
    PortEnabled = 1;
    if (opened != 1) {
        NoteFailure(LUMENORD_FAILURE_OPEN_FAILED);
        return PINPAD_ERR_PORT;
    }
    return PINPAD_OK;
}

int GetCustInfo(char* output) {
    if (output == nullptr) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    char reply[kSmallReplyBuffer];
    ExchangeResult exchange = Transact('3', "", 0, reply);
    // The low-battery status comes with valid data.
    const bool lowBattery = exchange.failure == PINPAD_OK && exchange.status == PINPAD_LOW_BATTERY;
    if (!lowBattery) {
        int result = ParseStatus(exchange, 'c');
        if (result != PINPAD_OK) return result;
    }
    if (!ReplyDataWhole(exchange, sizeof reply)) return PINPAD_ERR_NO_REPLY;
    // The data as they came, without a terminating zero.
    std::memcpy(output, reply + kReplyData, static_cast<std::size_t>(exchange.dataLength));
    return lowBattery ? PINPAD_LOW_BATTERY : PINPAD_OK;
}

int ReadOneByte(unsigned char* output) {
    if (output == nullptr) return PINPAD_ERR_ARGUMENT;
    SerialChannel& channel = Context().channel;
    *output = 0;
    if (!channel.IsOpen()) return PINPAD_ERR_PORT;
    auto result = static_cast<std::int16_t>(channel.PollReadCount(1, 1));
    if (result <= 0) return WaitsCancelled() ? PINPAD_ERR_NO_REPLY : PINPAD_ERR_PORT;
    *output = static_cast<unsigned char>(channel.ReceiveBuffer()[0]);
    return PINPAD_OK;
}

}  // namespace
}  // namespace lumenord

using lumenord::Guarded;

extern "C" {

PINPAD_API int PINPAD_CALL PinPad_EnablePort(const char* portName, int baudRate, const char* parity,
                                             const char* dataBits, const char* stopBits) {
    return Guarded(
        [&] { return lumenord::EnablePort(portName, baudRate, parity, dataBits, stopBits); });
}

PINPAD_API int PINPAD_CALL PinPad_DisablePort(void) {
    return Guarded([] {
        int closed = lumenord::Context().channel.Close();
        lumenord::PortEnabled = 0;
        return closed == 1 ? PINPAD_OK : PINPAD_ERR_CLOSE;
    });
}

PINPAD_API int PINPAD_CALL PinPad_SetCustInfo(const char* info, unsigned int length) {
    return Guarded([&] {
        if (info == nullptr) return PINPAD_ERR_ARGUMENT;
        return lumenord::RunSettingCommand('3', 'c', info, length);
    });
}

PINPAD_API int PINPAD_CALL PinPad_GetCustInfo(char* output) {
    return Guarded([&] { return lumenord::GetCustInfo(output); });
}

PINPAD_API int PINPAD_CALL PinPad_SetKeyboardValue(const char* value, unsigned int length) {
    return Guarded([&] {
        if (value == nullptr || value[0] == '\0') return PINPAD_ERR_ARGUMENT;
        return lumenord::RunSettingCommand('4', 'd', value, length);
    });
}

PINPAD_API int PINPAD_CALL PinPad_SetControlCode(const char* code, unsigned int length) {
    return Guarded([&] {
        if (code == nullptr) return PINPAD_ERR_ARGUMENT;
        return lumenord::RunSettingCommand('5', 'e', code, length);
    });
}

PINPAD_API int PINPAD_CALL PinPad_ReadOneByte(unsigned char* output) {
    return Guarded([&] { return lumenord::ReadOneByte(output); });
}

}  // extern "C"
