#include "key_parts.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>

#include "key_tables.h"

namespace padlogic {
namespace {

void AppendHexByte(std::string& out, unsigned value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[(value >> 4) & 0xF];
    out += kDigits[value & 0xF];
}

// XOR over the length of the first part; the length rule is the callers'.
int XorParts(const std::string_view* parts, int count, int lengthCode, std::string& combined) {
    const bool lengthRule = lengthCode >= 1 && lengthCode <= 3;
    for (int i = 0; i < count; ++i) {
        const std::size_t size = parts[i].size();
        if (lengthRule ? size != 16u * static_cast<unsigned>(lengthCode) : size < parts[0].size()) {
            return -(i + 1);
        }
    }
    std::string out;
    for (std::size_t byte = 0; byte < parts[0].size() / 2; ++byte) {
        unsigned value = 0;
        for (int i = 0; i < count; ++i) value ^= HexByteAt(parts[i], 2 * byte);
        AppendHexByte(out, value);
    }
    combined = std::move(out);
    return kCombinedOk;
}

// Bytewise XOR of three (or two) parts into upper-case hex. With length code L of 1 to 3 every
// part must be 16·L characters long; with another length code the parts combine over the length
// of part 1, and a part shorter than part 1 is refused rather than read past its end.
int XorThreeParts(std::string_view part1, std::string_view part2, std::string_view part3,
                  int lengthCode, std::string& combined) {
    const std::array<std::string_view, 3> parts = {part1, part2, part3};
    return XorParts(parts.data(), 3, lengthCode, combined);
}

int XorTwoParts(std::string_view part1, std::string_view part2, int lengthCode,
                std::string& combined) {
    const std::array<std::string_view, 2> parts = {part1, part2};
    return XorParts(parts.data(), 2, lengthCode, combined);
}

// 8-character chunks of the two parts taken alternately, characters as typed. Both parts must be
// 8·L characters long for L of 1 to 3; another length code checks nothing and combines nothing.
int InterleaveTwoParts(std::string_view part1, std::string_view part2, int lengthCode,
                       std::string& combined) {
    if (lengthCode < 1 || lengthCode > 3) return kCombinedOk;
    const std::size_t size = 8u * static_cast<unsigned>(lengthCode);
    if (part1.size() != size) return -1;
    if (part2.size() != size) return -2;
    std::string out;
    for (std::size_t at = 0; at < size; at += 8) {
        out += part1.substr(at, 8);
        out += part2.substr(at, 8);
    }
    combined = std::move(out);
    return kCombinedOk;
}

}  // namespace

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsMasked(std::string_view key) { return key.substr(0, 8) == kKeyMask.substr(0, 8); }

bool IsHex(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return HexDigit(c) >= 0; });
}

bool IsKeyText(std::string_view text) {
    return (text.size() == 16 || text.size() == 32 || text.size() == 48) && IsHex(text);
}

std::string ToUpper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

unsigned HexByteAt(std::string_view text, std::size_t at) {
    unsigned value = 0;
    for (std::size_t i = at; i < at + 2 && i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) break;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

int CombineParts(int code, int lengthCode, std::string_view part1, std::string_view part2,
                 std::string_view part3, std::string& combined) {
    switch (code) {
        case kSinglePartCode:
            combined = std::string(part1);
            return kCombinedOk;
        case kThreePartXorCode:
            return XorThreeParts(part1, part2, part3, lengthCode, combined);
        case kInterleaveCode:
            return InterleaveTwoParts(part1, part2, lengthCode, combined);
        case kConcatenationCode: {
            const std::array<std::string_view, 3> parts = {part1, part2, part3};
            for (int i = 0; i < 3; ++i) {
                if (parts[i].size() != 16) return -(i + 1);
            }
            combined = std::string(part1) + std::string(part2) + std::string(part3);
            return kCombinedOk;
        }
        case kTwoPartXorCode:
            return XorTwoParts(part1, part2, lengthCode, combined);
        default:
            return kNotCombinable;
    }
}

std::string OddParity(std::string_view hex) {
    std::string out;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
        unsigned value = HexByteAt(hex, at);
        if (std::popcount(value) % 2 == 0) value ^= 1u;
        AppendHexByte(out, value);
    }
    return out;
}

}  // namespace padlogic
