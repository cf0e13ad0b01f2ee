// PIN blocks as the pad builds them before enciphering, and the IBM 3624 PIN offset.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace padsim::pin {

// PIN type characters of the entry and value requests.
inline constexpr char kAscii = '@';
inline constexpr char kIso0 = ' ';
inline constexpr char kIso1 = '!';
inline constexpr char kIso3 = '#';
inline constexpr char kIbm3624 = '0';

bool KnownFormat(char format);
// Longest PIN the format carries.
std::size_t MaxDigits(char format);
// Whether the account (transcode for format 1) suits the format; formats without one take "".
bool AccountFits(char format, std::string_view account);

// The 8-byte clear PIN block, or nullopt when PIN or account do not suit the format.
// `fill` is the pad's PIN fill code (IBM 3624 and ASCII); `random` fills format 3.
std::optional<std::string> ClearBlock(char format, std::string_view pin, std::string_view account,
                                      std::uint8_t fill, std::mt19937& random);

// IBM 3624: the natural PIN of `length` digits from the validation data (16 hex characters)
// enciphered under `key` and decimalised with `table` (16 decimal digits).
std::optional<std::string> NaturalPin(std::string_view key, std::string_view validation,
                                      std::string_view table, std::size_t length);
// Offset digits: (PIN digit - natural digit) mod 10, position by position.
std::string Offset(std::string_view pin, std::string_view natural);

}  // namespace padsim::pin
