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

constexpr int kPayloadBuffer = 256;
constexpr int kReplyBuffer = 256;
constexpr unsigned char kLowBattery = 0xE0;

// One setting command: the export's own copy of the payload, the exchange, the status rule.
int RunSettingCommand(char command, char successByte, const char* bytes, unsigned int length) {
    if (length > static_cast<unsigned int>(kPayloadBuffer)) return -3;
    if (PortEnabled == 0) return -1;
    char payload[kPayloadBuffer];
    std::memcpy(payload, bytes, length);
    char reply[kReplyBuffer];
    return ParseStatus(SendCommand(Context().channel, command, payload, static_cast<int>(length),
                                   reply, sizeof reply),
                       successByte);
}

int EnablePort(const char* portName, int baudRate, const char* parity, const char* dataBits,
               const char* stopBits) {
    if (portName == nullptr || portName[0] == '\0') return -3;
    if (parity == nullptr || dataBits == nullptr || stopBits == nullptr) return -3;
    if (std::strlen(portName) > static_cast<std::size_t>(kMaxPortNameLength)) return -3;
    SerialChannel& channel = Context().channel;
    channel.Close();
    channel.SetParameters(PortNumberFromName(portName), baudRate,
                          static_cast<std::uint8_t>(*parity), static_cast<std::uint8_t>(*dataBits),
                          static_cast<std::uint8_t>(*stopBits));
    int opened = channel.Open();
    PortEnabled = 1;
    return opened == 1 ? 0 : -1;
}

int GetCustInfo(char* output) {
    if (output == nullptr) return -3;
    if (PortEnabled == 0) return -1;
    char reply[kReplyBuffer];
    ExchangeResult exchange = SendCommand(Context().channel, '3', "", 0, reply, sizeof reply);
    // The low-battery status comes with valid data.
    if (exchange.failure != 0 || exchange.status != kLowBattery) {
        int result = ParseStatus(exchange, 'c');
        if (result != 0) return result;
    }
    if (!ReplyDataWhole(exchange, sizeof reply)) return kNoReply;
    // The data as they came, without a terminating zero.
    std::memcpy(output, reply + kReplyData, static_cast<std::size_t>(exchange.dataLength));
    return exchange.status == kLowBattery ? kLowBattery : 0;
}

int ReadOneByte(unsigned char* output) {
    if (output == nullptr) return -3;
    SerialChannel& channel = Context().channel;
    *output = 0;
    if (!channel.IsOpen()) return -1;
    auto result = static_cast<std::int16_t>(channel.PollReadCount(1, 1));
    if (result <= 0) return -1;
    *output = static_cast<unsigned char>(channel.ReceiveBuffer()[0]);
    return 0;
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
        return closed == 1 ? 0 : -2;
    });
}

PINPAD_API int PINPAD_CALL PinPad_SetCustInfo(const char* info, unsigned int length) {
    if (info == nullptr) return -3;
    return Guarded([&] { return lumenord::RunSettingCommand('3', 'c', info, length); });
}

PINPAD_API int PINPAD_CALL PinPad_GetCustInfo(char* output) {
    return Guarded([&] { return lumenord::GetCustInfo(output); });
}

PINPAD_API int PINPAD_CALL PinPad_SetKeyboardValue(const char* value, unsigned int length) {
    if (value == nullptr || value[0] == '\0') return -3;
    return Guarded([&] { return lumenord::RunSettingCommand('4', 'd', value, length); });
}

PINPAD_API int PINPAD_CALL PinPad_SetControlCode(const char* code, unsigned int length) {
    if (code == nullptr) return -3;
    return Guarded([&] { return lumenord::RunSettingCommand('5', 'e', code, length); });
}

PINPAD_API int PINPAD_CALL PinPad_ReadOneByte(unsigned char* output) {
    return Guarded([&] { return lumenord::ReadOneByte(output); });
}

}  // extern "C"
