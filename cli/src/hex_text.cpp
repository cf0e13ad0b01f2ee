#include "hex_text.h"

#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

#include "key_parts.h"

namespace cli {
namespace {

// The length of the UTF-8 character at `i`, or 0 when the bytes there are no well-formed
// character, or encode an ASCII or C1 control character (below U+00A0).
std::size_t Utf8CharacterAt(std::string_view text, std::size_t i) {
    const auto decoded = DecodeUtf8(text.substr(i));
    return decoded && decoded->first >= 0xA0 ? decoded->second : 0;
}

// " (N characters)": the length of a text a message shows cut.
std::string CharacterCount(std::string_view text) {
    return " (" + std::to_string(text.size()) + " characters)";
}

}  // namespace

std::optional<std::pair<char32_t, std::size_t>> DecodeUtf8(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return std::pair{char32_t{lead}, std::size_t{1}};
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    return std::pair{value, length};
}

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

std::string Shortened(std::string_view text) {
    if (text.size() <= kQuotedCharacters) return std::string(text);
    return std::string(text.substr(0, kQuotedCharacters)) + "..." + CharacterCount(text);
}

std::string Quoted(std::string_view text) {
    if (text.size() <= kQuotedCharacters) return "'" + std::string(text) + "'";
    return "'" + std::string(text.substr(0, kQuotedCharacters)) + "...'" + CharacterCount(text);
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

}  // namespace cli
