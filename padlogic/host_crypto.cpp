#include "host_crypto.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "key_parts.h"

namespace padlogic {
namespace {

constexpr std::size_t kBlockBytes = 8;
constexpr std::size_t kBlockHex = 2 * kBlockBytes;
// The routine's direction argument.
constexpr int kEncipher = 0;
constexpr int kDecipher = 1;

using Block = std::array<std::uint8_t, kBlockBytes>;

struct MacName {
    MacType type;
    char code;
    std::string_view word;  // upper case; the tool's word in any case matches
};
constexpr std::array<MacName, 4> kMacNames = {{{MacType::kPboc, '1', "PBOC"},
                                               {MacType::kX99, '2', "X9.9"},
                                               {MacType::kX919, '3', "X9.19"},
                                               {MacType::kIso16609, 'A', "ISO16609"}}};

struct DataName {
    DataMode mode;
    char code;
    bool cbc;
    bool encrypt;
};
constexpr std::array<DataName, 4> kDataNames = {{{DataMode::kEcbEncrypt, '1', false, true},
                                                 {DataMode::kCbcEncrypt, '2', true, true},
                                                 {DataMode::kEcbDecrypt, 'A', false, false},
                                                 {DataMode::kCbcDecrypt, 'B', true, false}}};

// Which key each MAC block is enciphered under: K1 or the whole key.
struct MacRule {
    bool padWith80;   // an 80 byte always follows the message, then zeros
    bool chainWhole;  // every block but the last under the whole key (else under K1)
    bool lastWhole;   // the last block under the whole key (else under K1)
};

std::optional<MacRule> RuleOf(MacType type) {
    switch (type) {
        case MacType::kPboc:
            return MacRule{true, false, true};
        case MacType::kX99:
            return MacRule{false, false, false};
        case MacType::kX919:
            return MacRule{false, false, true};
        case MacType::kIso16609:
            return MacRule{false, true, true};
    }
    return std::nullopt;
}

// The block that 16 hex characters (either case) write; nullopt for any other text.
std::optional<Block> ParseBlock(std::string_view hex) {
    if (hex.size() != kBlockHex) return std::nullopt;
    Block block{};
    for (std::size_t i = 0; i < kBlockBytes; ++i) {
        const int high = HexDigit(hex[2 * i]);
        const int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        block[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return block;
}

void AppendHex(std::string& text, const Block& block) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::uint8_t byte : block) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
}

void XorInto(Block& target, const Block& other) {
    for (std::size_t i = 0; i < kBlockBytes; ++i) target[i] ^= other[i];
}

// One block through the routine under `key` (16, 32 or 48 hex characters, already checked).
// nullopt when the routine reports failure or does not write exactly one block of hex.
std::optional<Block> RunBlock(DesFunction des, std::string_view key, const Block& in,
                              int direction) {
    std::string dataText;
    AppendHex(dataText, in);
    char keyText[PINPAD_DES_RESULT_SIZE] = {};
    // Bounded here too: the routine takes a NUL-terminated key of at most 48 characters.
    std::memcpy(keyText, key.data(), std::min(key.size(), sizeof keyText - 1));
    char output[PINPAD_DES_RESULT_SIZE] = {};
    const int result = des(dataText.c_str(), keyText, output, direction);
    if (result != PINPAD_OK || strnlen(output, sizeof output) != kBlockHex) return std::nullopt;
    return ParseBlock(std::string_view(output, kBlockHex));
}

}  // namespace

std::optional<MacType> MacTypeFromWord(std::string_view word) {
    const std::string upper = ToUpper(word);
    for (const MacName& name : kMacNames) {
        if (upper == name.word) return name.type;
    }
    return std::nullopt;
}

char MacTypeCode(MacType type) {
    for (const MacName& name : kMacNames) {
        if (name.type == type) return name.code;
    }
    return '\0';
}

std::optional<MacType> MacTypeFromCode(char code) {
    for (const MacName& name : kMacNames) {
        if (name.code == code) return name.type;
    }
    return std::nullopt;
}

std::optional<DataMode> DataModeFromWord(std::string_view word, bool encrypt) {
    const std::string upper = ToUpper(word);
    if (upper != "ECB" && upper != "CBC") return std::nullopt;
    const bool cbc = upper == "CBC";
    for (const DataName& name : kDataNames) {
        if (name.cbc == cbc && name.encrypt == encrypt) return name.mode;
    }
    return std::nullopt;
}

char DataModeCode(DataMode mode) {
    for (const DataName& name : kDataNames) {
        if (name.mode == mode) return name.code;
    }
    return '\0';
}

std::optional<DataMode> DataModeFromCode(char code) {
    for (const DataName& name : kDataNames) {
        if (name.code == code) return name.mode;
    }
    return std::nullopt;
}

std::optional<std::string> HostMac(MacType type, std::string_view keyHex,
                                   std::string_view dataBytes, DesFunction des) {
    const auto rule = RuleOf(type);
    if (!rule || des == nullptr || !IsKeyText(keyHex) || dataBytes.empty() ||
        dataBytes.size() > kHostMacMessageMax)
        return std::nullopt;
    const std::string key = ToUpper(keyHex);
    const std::string_view whole = key;
    const std::string_view left = whole.substr(0, kBlockHex);

    std::string message(dataBytes);
    if (rule->padWith80) message += '\x80';
    message.resize((message.size() + kBlockBytes - 1) / kBlockBytes * kBlockBytes, '\0');

    const std::size_t blocks = message.size() / kBlockBytes;
    Block chain{};
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t i = 0; i < kBlockBytes; ++i)
            chain[i] ^= static_cast<std::uint8_t>(message[b * kBlockBytes + i]);
        const bool last = b + 1 == blocks;
        const bool underWhole = last ? rule->lastWhole : rule->chainWhole;
        const auto next = RunBlock(des, underWhole ? whole : left, chain, kEncipher);
        if (!next) return std::nullopt;
        chain = *next;
    }
    std::string mac;
    AppendHex(mac, chain);
    return mac;
}

std::optional<std::string> HostData(DataMode mode, std::string_view keyHex,
                                    std::string_view dataHex, DesFunction des) {
    const DataName* name = nullptr;
    for (const DataName& candidate : kDataNames) {
        if (candidate.mode == mode) name = &candidate;
    }
    if (name == nullptr || des == nullptr || !IsKeyText(keyHex) || dataHex.empty() ||
        dataHex.size() % kBlockHex != 0 || dataHex.size() > kHostDataHexMax || !IsHex(dataHex))
        return std::nullopt;
    const std::string key = ToUpper(keyHex);

    std::string out;
    out.reserve(dataHex.size());
    Block previous{};  // the zero IV, then the last cipher block
    for (std::size_t at = 0; at < dataHex.size(); at += kBlockHex) {
        const auto in = ParseBlock(dataHex.substr(at, kBlockHex));
        if (!in) return std::nullopt;
        std::optional<Block> result;
        if (name->encrypt) {
            Block plain = *in;
            if (name->cbc) XorInto(plain, previous);
            result = RunBlock(des, key, plain, kEncipher);
            if (!result) return std::nullopt;
            previous = *result;
        } else {
            result = RunBlock(des, key, *in, kDecipher);
            if (!result) return std::nullopt;
            if (name->cbc) XorInto(*result, previous);
            previous = *in;
        }
        AppendHex(out, *result);
    }
    return out;
}

}  // namespace padlogic
