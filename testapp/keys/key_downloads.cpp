#include "key_downloads.h"

#include <algorithm>

#include "key_parts.h"
#include "key_requests.h"
#include "key_tables.h"

namespace keys {
namespace {

using padlogic::kKeyMask;

// Fields are read into fixed buffers of 128 bytes: longer texts are cut, never overrun.
constexpr std::size_t kPartLimit = 127;
constexpr std::size_t kRequestLimit = 255;
// A tag typed rather than chosen stands at no position of the tag list, and the record has
// always carried the digit of position -1 for it.
constexpr int kTypedTagDigit = 1;

const char* const kPartNames[3] = {"first", "second", "third"};
const Field kPartFields[3] = {Field::kPart1, Field::kPart2, Field::kPart3};

// The save indexes per tag, by the beginning of the tag text; the last row takes every other
// tag. A master key keeps the index shown when it is below the end of its list, every other tag
// when it is from the start of its list on.
struct TagIndexes {
    std::string_view prefix;
    int first;
    int last;
};
constexpr TagIndexes kTagIndexes[] = {{padlogic::kMasterKeyTag, 0x10, 0x3F},
                                      {"TDSK", 0x40, 0x7F},
                                      {padlogic::kEraseTag, 0x20, 0x7F},
                                      {"", 0x30, 0x7F}};

std::string Cut(const std::string& text, std::size_t limit) { return text.substr(0, limit); }

bool StartsWith(const std::string& text, std::string_view prefix) {
    return std::string_view(text).substr(0, prefix.size()) == prefix;
}

std::string HexIndex(int index) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[(index >> 4) & 0xF], kDigits[index & 0xF]};
}

Refusal NotLongEnough(int part) {
    return {std::string("in the ") + kPartNames[part] + (part == 0 ? " part" : "  part") +
                " clear test key length is not long enough",
            kPartFields[part]};
}

Refusal LengthError(int part) {
    return {std::string("in the ") + kPartNames[part] + " part clear test key length error",
            kPartFields[part]};
}

Refusal CantBeVacant(int part, Field focus) {
    return {std::string("in the ") + kPartNames[part] + "  part clear text key can't be vacant",
            focus};
}

// Code 33 takes three parts of exactly 16 characters; the messages of parts 2 and 3 carry
// full-width parentheses, and none of them moves the focus.
Refusal SixteenCharacters(int part) {
    static const char* const kTexts[3] = {
        "in the first part clear test key length is 8 bytes(16 character)",
        "in the second part clear test key length is 8 bytes\uFF0816 character\uFF09",
        "in the third part clear test key length is 8 bytes\uFF0816 character\uFF09"};
    return {kTexts[part], Field::kNone};
}

// The refusal of a part that the code needs and the operator left out.
std::optional<Refusal> MissingPart(int code, const std::array<std::string, 3>& parts) {
    switch (code) {
        case padlogic::kThreePartXorCode:
            if (parts[1].empty()) return CantBeVacant(1, Field::kPart2);
            if (parts[2].empty()) return CantBeVacant(2, Field::kPart3);
            break;
        case padlogic::kInterleaveCode:
            if (parts[1].empty()) return CantBeVacant(1, Field::kNone);
            break;
        case padlogic::kConcatenationCode:
            for (int i = 0; i < 3; ++i) {
                if (parts[i].size() != 16) return SixteenCharacters(i);
            }
            break;
        case padlogic::kTwoPartXorCode:
            if (parts[1].empty()) return NotLongEnough(1);
            break;
    }
    return std::nullopt;
}

// The checks and combination of the parts that travel in the request; the parts a code does
// not take travel empty.
std::optional<Refusal> CheckParts(int code, int lengthCode, std::array<std::string, 3>& parts,
                                  std::string& combined) {
    const int used = padlogic::HostParts(code);
    if (used == 0) return Refusal{kUnsupportedCode, Field::kNone};
    for (int i = used; i < 3; ++i) parts[i].clear();
    if (auto refusal = MissingPart(code, parts)) return refusal;
    const int result =
        padlogic::CombineParts(code, lengthCode, parts[0], parts[1], parts[2], combined);
    if (result < 0) {
        const int part = -result - 1;
        return code == padlogic::kTwoPartXorCode ? LengthError(part) : NotLongEnough(part);
    }
    combined = padlogic::ToUpper(combined);
    return std::nullopt;
}

// The announcement of a key typed on the pad: codes the pad cannot take that way are refused.
bool TakesNoParts(int code, bool onPad) {
    if (code == padlogic::kNoPartsCode || code == padlogic::kSinglePartCode) return false;
    return !onPad || (code != padlogic::kThreePartXorCode && code != padlogic::kInterleaveCode);
}

}  // namespace

std::optional<int> ParseIndex(const std::string& text) {
    return ParseCombinationCode(text.substr(0, 2));
}

std::optional<int> ParseCombinationCode(const std::string& text) {
    if (text.size() != 2 || !padlogic::IsHex(text)) return std::nullopt;
    return static_cast<int>(padlogic::HexByteAt(text, 0));
}

int LengthCode(int code, int lengthPosition) {
    return lengthPosition + (code == padlogic::kConcatenationCode ? 3 : 1);
}

ClearKeyLayout LayoutOfCode(int code) {
    ClearKeyLayout layout;
    const int used = padlogic::HostParts(code);
    layout.onPad = used == 0;
    for (int i = 0; i < 3; ++i) {
        layout.enabled[i] = layout.onPad ? i + 1 == EntryPart(code) : i < used;
        layout.cleared[i] = layout.onPad || i >= used;
    }
    if (code == padlogic::kConcatenationCode) layout.partLimit = 16;
    return layout;
}

std::vector<int> KeyLengthsOfCode(std::optional<int> code) {
    if (code == padlogic::kConcatenationCode) return {24};
    std::vector<int> lengths(padlogic::kKeyLengths.begin(), padlogic::kKeyLengths.end());
    if (code && padlogic::IsPadEntryCode(*code)) {
        lengths.insert(lengths.end(), padlogic::kPadEntryKeyLengths.begin(),
                       padlogic::kPadEntryKeyLengths.end());
    }
    return lengths;
}

int PartTypingLimit(std::optional<int> code, int lengthEntry) {
    const bool listed = lengthEntry >= 0 && lengthEntry <= 2;
    if (code == padlogic::kConcatenationCode) return 16;
    if (code == padlogic::kInterleaveCode) return listed ? 8 * (lengthEntry + 1) : 16;
    return listed ? 16 * (lengthEntry + 1) : 48;
}

RecalledKey RecallClearKey(const std::array<std::string, 3>& parts, std::optional<int> loadedWith) {
    RecalledKey key{padlogic::kSinglePartCode, 0, 0};
    // A code on record that these parts do not fill was written before they were replaced.
    const int taken = loadedWith ? padlogic::HostParts(*loadedWith) : 0;
    const bool filled =
        taken > 0 && std::all_of(parts.begin(), parts.begin() + taken,
                                 [](const std::string& part) { return !part.empty(); });
    if (filled) {
        key = {*loadedWith, taken, 0, true};
        // The parts of 33 always make a 24-byte key, the only length its list holds.
        if (key.code == padlogic::kConcatenationCode) return key;
    } else if (!parts[0].empty() && !parts[1].empty() && !parts[2].empty()) {
        key = {padlogic::kThreePartXorCode, 3, 0};
    } else if (!parts[0].empty() && !parts[1].empty()) {
        key = {padlogic::kInterleaveCode, 2, 0};
    }
    // Part 1's length tells the key length: 16, 32 or 48 characters, 8 to 24 for interleaved.
    const std::size_t unit = key.code == padlogic::kInterleaveCode ? 8 : 16;
    const std::size_t size = parts[0].size();
    key.lengthEntry = size == unit ? 0 : size == 2 * unit ? 1 : 2;
    return key;
}

PartCheckValues CheckValuesOf(padlogic::DesFunction des, std::optional<int> code,
                              int lengthPosition, const std::array<std::string, 3>& parts) {
    PartCheckValues values;
    for (int i = 0; i < 3; ++i) values.parts[i] = padlogic::CheckValue(des, parts[i]);
    std::string combined;
    if (code && padlogic::CombineParts(*code, LengthCode(*code, lengthPosition), parts[0], parts[1],
                                       parts[2], combined) == padlogic::kCombinedOk) {
        values.combined = padlogic::CheckValue(des, combined);
    }
    return values;
}

std::variant<Refusal, ClearKeyDownload> PlanClearKeyDownload(const ClearKeyInput& input) {
    ClearKeyDownload download;
    download.keyIndex = input.keyNo.substr(0, 2);
    const std::string& kk = download.keyIndex;
    if (kk.empty()) {
        return Refusal{"vacant key no. is forbidden(value range : 00 - 1F)", Field::kKeyNo};
    }
    const bool validIndex = kk.size() == 2 && (kk[0] == '0' || kk[0] == '1') &&
                            ((kk[1] >= '0' && kk[1] <= '9') || (kk[1] >= 'A' && kk[1] <= 'F'));
    if (!validIndex) return Refusal{"invalid key no.(value range:00-1F)", Field::kKeyNo};
    // A code text that is no hexadecimal byte names no combination the pad knows.
    if (!input.code) return Refusal{kUnsupportedCode, Field::kNone};
    const int code = *input.code;
    download.code = code;
    download.lengthCode = LengthCode(code, input.lengthPosition);
    // Parts typed here travel only with the codes below 40. From 44 on no entry on the pad
    // follows the download either: the pad combines what it holds, as for 31-34 without parts.
    const bool hostCode = code < padlogic::kNoPartsCode;
    download.recorded = hostCode || (!input.onPad && code > padlogic::kLastPadEntryCode);

    for (int i = 0; i < 3; ++i) download.parts[i] = Cut(input.parts[i], kPartLimit);
    const std::string& part1 = download.parts[0];
    download.withParts = !part1.empty() && !padlogic::IsMasked(part1) && hostCode;
    const auto codeCharacter = static_cast<unsigned char>(code);
    if (download.withParts) {
        if (input.onPad && code == padlogic::kSinglePartCode) {
            return Refusal{kUnsupportedCode, Field::kNone};
        }
        if (auto refusal = CheckParts(code, download.lengthCode, download.parts, download.combined))
            return *refusal;
        download.request =
            padlogic::ClearKeyRequest(kk, codeCharacter, download.lengthCode, download.parts[0],
                                      download.parts[1], download.parts[2]);
        if (download.request.size() > kRequestLimit) {
            return Refusal{"the key parts are too long for one request(at most 255 characters)",
                           Field::kPart1};
        }
        return download;
    }
    if (!TakesNoParts(code, input.onPad)) return Refusal{kUnsupportedCode, Field::kNone};
    download.request = padlogic::ClearKeyRequest(kk, codeCharacter, download.lengthCode);
    for (std::string& part : download.parts) part = kKeyMask;
    download.combined = kKeyMask;
    return download;
}

padlogic::KeyRecords ClearKeyRecords(const ClearKeyDownload& download) {
    return padlogic::KeyRecords().ClearKey(download.keyIndex, download.parts, download.combined,
                                           download.code);
}

bool VerifyCodeDiffers(padlogic::DesFunction des, const ClearKeyDownload& download,
                       const std::string& verifyCode) {
    if (!download.withParts || verifyCode.empty()) return false;
    const std::string expected = padlogic::CheckValue(des, download.combined);
    return !expected.empty() && padlogic::ToUpper(verifyCode) != expected;
}

int EntryPart(int code) {
    if (code == padlogic::kNoPartsCode || code == padlogic::kFirstPadEntryCode) return 1;
    return code == padlogic::kFirstPadEntryCode + 1 ? 2 : 3;
}

padlogic::KeyRecords PadEntryRecords(const std::string& keyIndex, int code,
                                     const std::string& text) {
    return padlogic::KeyRecords().PadPart(keyIndex, EntryPart(code), text, code);
}

SaveIndexes SaveIndexesOf(const std::string& tagText, const std::string& shownIndex) {
    const std::string shown = shownIndex.substr(0, 2);
    const std::optional<int> index = ParseIndex(shown);
    const TagIndexes* row = std::begin(kTagIndexes);
    while (!StartsWith(tagText, row->prefix)) ++row;
    const bool kept = index && (row->prefix == padlogic::kMasterKeyTag ? *index <= row->last
                                                                       : *index >= row->first);
    return {row->first, row->last, kept ? shown : HexIndex(row->first),
            row->prefix == padlogic::kEraseTag};
}

int CipherLengthEntry(std::size_t keyCharacters) {
    return keyCharacters == 32 ? 1 : keyCharacters == 48 ? 2 : 0;
}

int CipherTypingLimit(int lengthEntry) {
    return lengthEntry == 0 ? 16 : lengthEntry == 2 ? 48 : 32;
}

CipherKeyDownload PlanCipherKeyDownload(const CipherKeyInput& input, padlogic::DesFunction des,
                                        const padlogic::KeyStore& store) {
    CipherKeyDownload download;
    auto refuse = [&download](std::string message, Field focus) {
        download.refusal = Refusal{std::move(message), focus};
        return download;
    };
    download.decryptionIndex = input.decryptionNo.substr(0, 2);
    download.saveIndex = input.saveNo.substr(0, 2);
    const std::string& dd = download.decryptionIndex;
    const std::string& ss = download.saveIndex;
    if (dd.empty()) {
        return refuse("decryption key no.won't be vacantvalue range:00-3F", Field::kDecipherNo);
    }
    const std::optional<int> ddValue = ParseIndex(dd);
    if (!ddValue || *ddValue > 0x3F) {
        return refuse("invalid decryption key no. value range:00-3F", Field::kDecipherNo);
    }
    if (ss.empty())
        return refuse("save key no.won't be vacant value range:00-7F", Field::kEncryptNo);
    const std::optional<int> ssValue = ParseIndex(ss);
    if (!ssValue || *ssValue > 0x7F) {
        return refuse("invalid decryption key no value range:00-7F", Field::kEncryptNo);
    }
    if (StartsWith(input.tagText, padlogic::kEraseTag)) {
        download.erase = true;
        download.request = padlogic::EraseKeyRequest(dd, ss);
        return download;
    }

    std::string clear = Cut(input.clearKey, kPartLimit);
    // A recalled key mask is no clear key: the operator types the cipher text instead.
    if (padlogic::IsMasked(clear)) clear.clear();
    if (!clear.empty() && !padlogic::IsHex(clear)) {
        return refuse("the clear text key must be hexadecimal(0-9,A-F)", Field::kClearKey);
    }
    if (!clear.empty() && input.parity) {
        clear = padlogic::OddParity(clear);
        download.clearKeyField = clear;
    }
    std::string cipher;
    std::string verifyCode;
    if (!clear.empty()) {
        // The key mask, or a part typed on the pad that is no key, leaves no clear value.
        const std::string decryptionValue = store.ClearKeyValue(dd);
        if (decryptionValue.empty()) {
            return refuse("No input cleartext Key,must be input ciphertext key", Field::kCipherKey);
        }
        if (des == nullptr) return refuse("failure in selecting function PinPad_TriUntriDes()", {});
        cipher = padlogic::Encipher(des, clear, decryptionValue);
        download.cipherField = cipher;
        if (input.withVerify) verifyCode = padlogic::CheckValue(des, clear);
    } else {
        cipher = Cut(input.cipherText, kPartLimit);
        if (input.withVerify) {
            verifyCode = input.operatorVerifyCode;
            if (verifyCode.size() != 8) {
                return refuse("Verify code is must input(8 bytes)", Field::kCipherKey);
            }
        }
        clear = kKeyMask;
    }
    if (cipher.empty()) return refuse("key won't be vacant", Field::kCipherKey);
    if (input.lengthPosition < 0) return refuse("wrong key length", Field::kNone);
    if (cipher.size() != 16u * static_cast<unsigned>(input.lengthPosition + 1)) {
        return refuse("key length is not enough", Field::kCipherKey);
    }
    download.request = padlogic::CipherKeyRequest(dd, ss, input.tagDigit.value_or(kTypedTagDigit),
                                                  input.lengthPosition + 1, cipher, verifyCode);
    download.storedClear = clear;
    return download;
}

std::variant<Refusal, std::string> PlanVerifyCodeRead(const std::string& decryptionNo,
                                                      const std::string& saveNo) {
    const std::string dd = decryptionNo.substr(0, 2);
    const std::string ss = saveNo.substr(0, 2);
    if (dd.empty()) {
        return Refusal{"decryption key no.won't be vacantvalue range:00-3F", Field::kDecipherNo};
    }
    if (ss.empty()) {
        return Refusal{"save key no.won't be vacant value range:00-7F", Field::kEncryptNo};
    }
    const std::optional<int> ssValue = ParseIndex(ss);
    if (!ssValue || *ssValue > 0x7F) {
        return Refusal{"invalid decryption key no value range:00-7F", Field::kEncryptNo};
    }
    return padlogic::VerifyCodeRequest(dd, ss);
}

}  // namespace keys
