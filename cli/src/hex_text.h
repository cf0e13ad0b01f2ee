// Hexadecimal text as the pad's requests carry it: checks, case and byte conversion.
#pragma once

#include <string>
#include <string_view>

namespace cli {

bool IsHexText(std::string_view text);
std::string UpperCase(std::string_view text);
// Two hexadecimal characters a byte; the caller has checked the text with IsHexText and an
// even length.
std::string HexToBytes(std::string_view hex);
std::string BytesToHex(std::string_view bytes);
// The text itself when every byte is printable ASCII, else its bytes as hexadecimal.
bool IsPrintable(std::string_view bytes);

}  // namespace cli
