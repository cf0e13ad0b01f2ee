// Hexadecimal text as the pad's requests carry it: the check that lets the empty text pass, and
// byte conversion.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// Only the characters 0-9, A-F, a-f (the empty text too).
bool IsHexText(std::string_view text);
// Two hexadecimal characters a byte; the caller has checked the text with IsHexText and an
// even length.
std::string HexToBytes(std::string_view hex);
std::string BytesToHex(std::string_view bytes);
// Every byte printable ASCII.
bool IsPrintable(std::string_view bytes);

}  // namespace cli
