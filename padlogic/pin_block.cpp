#include "pin_block.h"

#include <array>

#include "key_parts.h"

namespace padlogic {
namespace {

constexpr std::size_t kNibbles = 16;
constexpr int kIsoMinDigits = 4;
constexpr int kIsoMaxDigits = 12;
constexpr int kIbmMaxDigits = 16;
constexpr int kAsciiMaxDigits = 8;

using Nibbles = std::array<int, kNibbles>;

std::optional<Nibbles> ToNibbles(std::string_view hex) {
    if (hex.size() != kNibbles) return std::nullopt;
    Nibbles nibbles{};
    for (std::size_t i = 0; i < kNibbles; ++i) {
        nibbles[i] = HexDigit(hex[i]);
        if (nibbles[i] < 0) return std::nullopt;
    }
    return nibbles;
}

bool IsDigit(int nibble) { return nibble >= 0 && nibble <= 9; }

std::string DigitsOf(const Nibbles& nibbles, std::size_t from, std::size_t count) {
    std::string digits;
    for (std::size_t i = from; i < from + count; ++i) digits += static_cast<char>('0' + nibbles[i]);
    return digits;
}

// ISO formats: control nibble, length nibble, the digits, then fill nibbles that `fillOk` accepts.
template <typename FillOk>
std::optional<std::string> DecodeIso(const Nibbles& field, int control, FillOk fillOk) {
    const int length = field[1];
    if (field[0] != control || length < kIsoMinDigits || length > kIsoMaxDigits)
        return std::nullopt;
    const std::size_t end = 2 + static_cast<std::size_t>(length);
    for (std::size_t i = 2; i < end; ++i) {
        if (!IsDigit(field[i])) return std::nullopt;
    }
    for (std::size_t i = end; i < kNibbles; ++i) {
        if (!fillOk(field[i])) return std::nullopt;
    }
    return DigitsOf(field, 2, static_cast<std::size_t>(length));
}

std::optional<std::string> DecodeIsoWithAccount(const Nibbles& block, std::string_view account,
                                                int control, int lowestFill) {
    const auto accountField = IsoAccountField(account);
    if (!accountField) return std::nullopt;
    Nibbles field = block;
    for (std::size_t i = 0; i < kNibbles; ++i) field[i] ^= HexDigit((*accountField)[i]);
    return DecodeIso(field, control, [lowestFill](int nibble) { return nibble >= lowestFill; });
}

// A PIN of `pinLength` leading digits, or, when the length is unknown, the digits up to the
// first value that is not one.
template <typename Digit>
std::optional<std::string> DecodeLeading(std::size_t units, int pinLength, int maxDigits,
                                         Digit digitAt) {
    if (pinLength < 0 || pinLength > maxDigits) return std::nullopt;
    std::size_t count = static_cast<std::size_t>(pinLength);
    if (count == 0) {
        while (count < units && digitAt(count) >= 0) ++count;
    }
    if (count == 0) return std::nullopt;
    std::string digits;
    for (std::size_t i = 0; i < count; ++i) {
        const int digit = digitAt(i);
        if (digit < 0) return std::nullopt;
        digits += static_cast<char>('0' + digit);
    }
    return digits;
}

}  // namespace

std::optional<std::string> IsoAccountField(std::string_view account) {
    if (account.size() < 2) return std::nullopt;
    for (char c : account) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    std::string_view digits = account.substr(0, account.size() - 1);
    if (digits.size() > 12) digits = digits.substr(digits.size() - 12);
    return "0000" + std::string(12 - digits.size(), '0') + std::string(digits);
}

std::optional<std::string> DecodePinBlock(PinBlockFormat format, std::string_view blockHex,
                                          std::string_view account, int pinLength) {
    const auto block = ToNibbles(blockHex);
    if (!block) return std::nullopt;
    switch (format) {
        case PinBlockFormat::kIso0:
            return DecodeIsoWithAccount(*block, account, 0, 0xF);
        case PinBlockFormat::kIso3:
            return DecodeIsoWithAccount(*block, account, 3, 0xA);
        case PinBlockFormat::kIso1:
            return DecodeIso(*block, 1, [](int) { return true; });
        case PinBlockFormat::kIbm3624:
            return DecodeLeading(kNibbles, pinLength, kIbmMaxDigits, [&](std::size_t i) {
                return IsDigit((*block)[i]) ? (*block)[i] : -1;
            });
        case PinBlockFormat::kAscii:
            return DecodeLeading(kNibbles / 2, pinLength, kAsciiMaxDigits, [&](std::size_t i) {
                const int byte = (*block)[2 * i] * 16 + (*block)[2 * i + 1];
                return byte >= '0' && byte <= '9' ? byte - '0' : -1;
            });
    }
    return std::nullopt;
}

}  // namespace padlogic
