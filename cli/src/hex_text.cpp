#include "hex_text.h"

#include "key_parts.h"

namespace cli {
bool IsHexText(std::string_view text) { return text.empty() || padlogic::IsHex(text); }

std::string HexToBytes(std::string_view hex) {
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(padlogic::HexByteAt(hex, i)));
    }
    return bytes;
}

std::string BytesToHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (char b : bytes) {
        const auto value = static_cast<unsigned char>(b);
        hex.push_back(kDigits[value >> 4]);
        hex.push_back(kDigits[value & 0x0F]);
    }
    return hex;
}

bool IsPrintable(std::string_view bytes) {
    for (char b : bytes) {
        if (b < 0x20 || b > 0x7E) return false;
    }
    return true;
}

}  // namespace cli
