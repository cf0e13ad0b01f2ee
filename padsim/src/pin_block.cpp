#include "pin_block.h"

#include <algorithm>

#include "pad_crypto.h"

namespace padsim::pin {
namespace {

bool AllDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

char Nibble(int v) { return "0123456789ABCDEF"[v & 15]; }

// ISO 9564 account field: 0000 and the twelve rightmost digits without the check digit.
std::string AccountField(std::string_view account) {
    std::string digits(account.substr(0, account.size() - 1));
    if (digits.size() > 12) digits = digits.substr(digits.size() - 12);
    return "0000" + std::string(12 - digits.size(), '0') + digits;
}

std::string PinField(char control, std::string_view pin) {
    std::string field;
    field += control;
    field += Nibble(static_cast<int>(pin.size()));
    field += pin;
    return field;
}

std::string XorHex(const std::string& a, const std::string& b) {
    auto x = *crypto::HexToBytes(a), y = *crypto::HexToBytes(b);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<char>(x[i] ^ y[i]);
    return x;
}

}  // namespace

bool KnownFormat(char format) {
    return format == kAscii || format == kIso0 || format == kIso1 || format == kIso3 ||
           format == kIbm3624;
}

std::size_t MaxDigits(char format) {
    switch (format) {
        case kAscii:
            return 8;
        case kIbm3624:
            return 16;
        default:
            return 12;
    }
}

bool AccountFits(char format, std::string_view account) {
    switch (format) {
        case kIso0:
        case kIso3:
            return account.size() >= 4 && account.size() <= 20 && AllDigits(account);
        case kIso1:
            return account.size() == 10 && crypto::IsHex(account);
        default:
            return true;
    }
}

std::optional<std::string> ClearBlock(char format, std::string_view pin, std::string_view account,
                                      std::uint8_t fill, std::mt19937& random) {
    if (!KnownFormat(format) || pin.empty() || pin.size() > MaxDigits(format) || !AllDigits(pin) ||
        !AccountFits(format, account))
        return std::nullopt;
    const bool iso = format == kIso0 || format == kIso1 || format == kIso3;
    if (iso && pin.size() < 4) return std::nullopt;
    switch (format) {
        case kIso0: {
            std::string field = PinField('0', pin);
            field.append(16 - field.size(), 'F');
            return XorHex(field, AccountField(account));
        }
        case kIso1: {
            std::string field = PinField('1', pin);
            for (std::size_t i = 0; field.size() < 16; ++i) field += account[i % account.size()];
            return *crypto::HexToBytes(field);
        }
        case kIso3: {
            std::string field = PinField('3', pin);
            std::uniform_int_distribution<int> letter(10, 15);
            while (field.size() < 16) field += Nibble(letter(random));
            return XorHex(field, AccountField(account));
        }
        case kIbm3624: {
            std::string field(pin);
            field.append(16 - field.size(), fill <= 0x0F ? Nibble(fill) : 'F');
            return *crypto::HexToBytes(field);
        }
        default: {  // ASCII: the digits as characters, then the fill code
            std::string block(pin);
            block.append(8 - block.size(), static_cast<char>(fill));
            return block;
        }
    }
}

std::optional<std::string> NaturalPin(std::string_view key, std::string_view validation,
                                      std::string_view table, std::size_t length) {
    auto data = crypto::HexToBytes(validation);
    if (!data || data->size() != 8 || table.size() != 16 || !AllDigits(table) || length == 0 ||
        length > 16)
        return std::nullopt;
    const std::string enciphered = crypto::BytesToHex(crypto::EncryptEcb(key, *data));
    std::string natural;
    for (std::size_t i = 0; i < length; ++i) {
        char c = enciphered[i];
        int v = c <= '9' ? c - '0' : c - 'A' + 10;
        natural += table[static_cast<std::size_t>(v)];
    }
    return natural;
}

std::string Offset(std::string_view pin, std::string_view natural) {
    std::string offset;
    for (std::size_t i = 0; i < pin.size() && i < natural.size(); ++i)
        offset += static_cast<char>('0' + (pin[i] - natural[i] + 10) % 10);
    return offset;
}

}  // namespace padsim::pin
