// Status bytes the simulated pad replies with, and small parsing helpers its commands share.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace padsim::status {

inline constexpr std::uint8_t kOk = 0;  // replaced by the command's success byte
inline constexpr std::uint8_t kBccError = 0x31;
inline constexpr std::uint8_t kFormatError = 0x32;
inline constexpr std::uint8_t kCommandKeyError = 0x33;
inline constexpr std::uint8_t kLengthError = 0x34;
inline constexpr std::uint8_t kLowBattery = 0xE0;
inline constexpr std::uint8_t kNotImk = 0xE1;
inline constexpr std::uint8_t kNotTmk = 0xE2;
inline constexpr std::uint8_t kWrongKeyLength = 0xE3;
inline constexpr std::uint8_t kNoKeyIndex = 0xE4;
inline constexpr std::uint8_t kNoSuchKey = 0xE5;
inline constexpr std::uint8_t kParityError = 0xE6;
inline constexpr std::uint8_t kKeyCheckError = 0xE7;
inline constexpr std::uint8_t kCommandLength = 0xE8;
inline constexpr std::uint8_t kIllegalData = 0xE9;
inline constexpr std::uint8_t kWrongParameter = 0xEB;
inline constexpr std::uint8_t kCertificationFailure = 0xEC;
inline constexpr std::uint8_t kCertificationLocked = 0xED;
inline constexpr std::uint8_t kEntryOvertime = 0xEE;

// Card conditions, sent as the card status character.
inline constexpr char kCardDone = '0';
inline constexpr char kNoCard = 'A';
inline constexpr char kCardNotPoweredUp = 'C';
inline constexpr char kCardTypeUnsupported = 'D';

}  // namespace padsim::status

namespace padsim {

// Two hex characters as a key index (either case); nullopt for anything else.
inline std::optional<int> ParseIndex(std::string_view text) {
    if (text.size() < 2) return std::nullopt;
    int value = 0;
    for (char c : text.substr(0, 2)) {
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
        if (v < 0) return std::nullopt;
        value = value * 16 + v;
    }
    return value;
}

// Two decimal digits; nullopt otherwise.
inline std::optional<int> ParseDecimal2(std::string_view text) {
    if (text.size() < 2 || text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9')
        return std::nullopt;
    return (text[0] - '0') * 10 + (text[1] - '0');
}

}  // namespace padsim
