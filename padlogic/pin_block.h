// Reading the PIN digits back out of a clear PIN block, for the formats whose layout is public.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace padlogic {

enum class PinBlockFormat {
    kAscii,    // the digits as characters, then the pad's fill byte
    kIso0,     // ISO 9564 format 0: 0, length, digits, F fill, XOR the account field
    kIso1,     // ISO 9564 format 1: 1, length, digits, transaction fill
    kIso3,     // ISO 9564 format 3: 3, length, digits, A-F fill, XOR the account field
    kIbm3624,  // the digits, then a fill nibble
};

// The PIN digits that the 8-byte clear block `blockHex` (16 hexadecimal characters, either case)
// carries, or nullopt when the block does not follow the layout of `format`.
// `account`: the account number the block was built with (formats 0 and 3; at least two digits,
// the last one being the check digit). `pinLength`: the PIN length that the pad reported beside
// the block, or 0 when unknown; the IBM 3624 and ASCII blocks do not carry their length, so
// without it their PIN runs to the first fill that is not a digit.
std::optional<std::string> DecodePinBlock(PinBlockFormat format, std::string_view blockHex,
                                          std::string_view account = {}, int pinLength = 0);

// The 16-nibble ISO 9564 account field: four zeros and the twelve rightmost digits of the account
// without its check digit, zero-filled on the left. nullopt for an account that is not digits or
// has fewer than two.
std::optional<std::string> IsoAccountField(std::string_view account);

}  // namespace padlogic
