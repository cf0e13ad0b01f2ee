#include "hex_text.h"

#include <cstdio>

#include "key_parts.h"

namespace cli {
namespace {

// The length of the UTF-8 character at `i`, or 0 when the bytes there are no well-formed
// character or encode a C1 control character (U+0080 to U+009F).
std::size_t Utf8CharacterAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) -> unsigned {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
    };
    const unsigned lead = byte(0);
    unsigned low = 0x80, high = 0xBF;
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2) low = 0xA0;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

bool IsHexText(std::string_view text) { return text.empty() || padlogic::IsHex(text); }

bool IsDecimalText(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

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

std::string EscapeText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            escaped.push_back(static_cast<char>(byte));
            ++i;
            continue;
        }
        if (const std::size_t length = Utf8CharacterAt(text, i); length > 0) {
            escaped.append(text.substr(i, length));
            i += length;
            continue;
        }
        switch (byte) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            default: {
                char code[5];
                std::snprintf(code, sizeof code, "\\x%02X", byte);
                escaped += code;
            }
        }
        ++i;
    }
    return escaped;
}

std::string Quoted(std::string_view text) {
    if (text.size() <= kQuotedCharacters) return "'" + std::string(text) + "'";
    return "'" + std::string(text.substr(0, kQuotedCharacters)) + "...' (" +
           std::to_string(text.size()) + " characters)";
}

}  // namespace cli
