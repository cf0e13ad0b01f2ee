#include "key_downloads.h"

#include "key_parts.h"
#include "key_requests.h"

namespace keys {
namespace {

using padlogic::kKeyMask;

// Fields are read into fixed buffers of 128 bytes: longer texts are cut, never overrun.
constexpr std::size_t kPartLimit = 127;
constexpr std::size_t kRequestLimit = 255;

const char* const kPartNames[3] = {"first", "second", "third"};
const Field kPartFields[3] = {Field::kPart1, Field::kPart2, Field::kPart3};

std::string Cut(const std::string& text, std::size_t limit) { return text.substr(0, limit); }

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

// The checks and combination of the parts that travel in the request.
std::optional<Refusal> CheckParts(int code, int lengthCode, std::string (&parts)[3],
                                  std::string& combined) {
    switch (code) {
        case 0x30:
            parts[1].clear();
            parts[2].clear();
            break;
        case 0x31:
            if (parts[1].empty()) return CantBeVacant(1, Field::kPart2);
            if (parts[2].empty()) return CantBeVacant(2, Field::kPart3);
            break;
        case 0x32:
            if (parts[1].empty()) return CantBeVacant(1, Field::kNone);
            parts[2].clear();
            break;
        case 0x33:
            for (int i = 0; i < 3; ++i) {
                if (parts[i].size() != 16) return SixteenCharacters(i);
            }
            break;
        case 0x34:
            if (parts[1].empty()) return NotLongEnough(1);
            parts[2].clear();
            break;
        default:
            return Refusal{kUnsupportedCode, Field::kNone};
    }
    const int result =
        padlogic::CombineParts(code, lengthCode, parts[0], parts[1], parts[2], combined);
    if (result < 0) {
        const int part = -result - 1;
        return code == 0x34 ? LengthError(part) : NotLongEnough(part);
    }
    combined = padlogic::ToUpper(combined);
    return std::nullopt;
}

int TagDigit(int tagPosition) { return tagPosition < 2 ? tagPosition + 2 : tagPosition + 3; }

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::optional<int> ParseIndex(const std::string& text) {
    return ParseCombinationCode(text.substr(0, 2));
}

std::optional<int> ParseCombinationCode(const std::string& text) {
    if (text.size() != 2 || !padlogic::IsHex(text)) return std::nullopt;
    return static_cast<int>(padlogic::HexByteAt(text, 0));
}

int LengthCode(int code, int lengthPosition) { return lengthPosition + (code == 0x33 ? 3 : 1); }

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
    const std::optional<int> code = ParseCombinationCode(input.codeText);
    if (!code) return Refusal{kUnsupportedCode, Field::kNone};
    download.code = *code;
    const int lengthCode = LengthCode(*code, input.lengthPosition);
    download.lengthCode = lengthCode;

    for (int i = 0; i < 3; ++i) download.parts[i] = Cut(input.parts[i], kPartLimit);
    const std::string& part1 = download.parts[0];
    download.withParts = !part1.empty() && !padlogic::IsMasked(part1) && *code < 0x40;
    if (download.withParts) {
        if (input.onPad && *code == 0x30) return Refusal{kUnsupportedCode, Field::kNone};
        if (auto refusal = CheckParts(*code, lengthCode, download.parts, download.combined)) {
            return *refusal;
        }
        download.request =
            padlogic::ClearKeyRequest(kk, static_cast<unsigned char>(*code), lengthCode,
                                      download.parts[0], download.parts[1], download.parts[2]);
        if (download.request.size() > kRequestLimit) {
            return Refusal{"the key parts are too long for one request(at most 255 characters)",
                           Field::kPart1};
        }
        return download;
    }
    const bool unsupported =
        *code == 0x40 || *code == 0x30 || (input.onPad && (*code == 0x31 || *code == 0x32));
    if (unsupported) return Refusal{kUnsupportedCode, Field::kNone};
    download.request = padlogic::ClearKeyRequest(kk, static_cast<unsigned char>(*code), lengthCode);
    for (std::string& part : download.parts) part = kKeyMask;
    download.combined = kKeyMask;
    return download;
}

std::vector<StoreWrite> ClearKeyStoreWrites(const ClearKeyDownload& download) {
    const std::string& kk = download.keyIndex;
    return {{"KEY_MINWEN", kk + "_1", download.parts[0]},
            {"KEY_MINWEN", kk + "_2", download.parts[1]},
            {"KEY_MINWEN", kk + "_3", download.parts[2]},
            {"KEY_MINWEN", kk + "_V", download.combined}};
}

int EntryPart(int code) {
    if (code == 0x40 || code == 0x41) return 1;
    return code == 0x42 ? 2 : 3;
}

std::size_t PadEntryLength(int lengthCode) {
    return lengthCode > 0 ? 8 * static_cast<std::size_t>(lengthCode) : 0;
}

std::vector<StoreWrite> PadEntryStoreWrites(const std::string& keyIndex, int part,
                                            const std::string& text) {
    return {{"KEY_MINWEN", keyIndex + "_" + std::to_string(part), text},
            {"KEY_MINWEN", keyIndex + "_V", std::string(kKeyMask)}};
}

CipherKeyDownload PlanCipherKeyDownload(
    const CipherKeyInput& input, padlogic::DesFunction des,
    const std::function<std::string(const std::string&)>& decryptionKey) {
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
    if (StartsWith(input.tagText, "NOK")) {
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
        const std::string decryptionValue = decryptionKey(dd);
        if (decryptionValue.empty() || padlogic::IsMasked(decryptionValue)) {
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
    download.request = padlogic::CipherKeyRequest(dd, ss, TagDigit(input.tagPosition),
                                                  input.lengthPosition + 1, cipher, verifyCode);
    download.storedClear = clear;
    return download;
}

std::vector<StoreWrite> CipherKeyStoreWrites(const CipherKeyDownload& download,
                                             const std::string& tagText,
                                             const std::string& decryptionFirstPart) {
    const std::string& dd = download.decryptionIndex;
    const std::string& ss = download.saveIndex;
    std::vector<StoreWrite> writes = {{"KEY_ENCRYPT", ss, download.storedClear}};
    if (ParseIndex(ss) == ParseIndex(dd) && !decryptionFirstPart.empty()) {
        for (const char* suffix : {"_1", "_2", "_3"})
            writes.push_back({"KEY_MINWEN", dd + suffix, ""});
    }
    // A terminal master key at 00-1F also serves as a decryption key held in clear.
    if (ParseIndex(ss).value_or(0x80) <= 0x1F && tagText == "TMK") {
        writes.push_back({"KEY_MINWEN", ss + "_1", download.storedClear});
        writes.push_back({"KEY_MINWEN", ss + "_V", download.storedClear});
        writes.push_back({"KEY_MINWEN", ss + "_2", ""});
        writes.push_back({"KEY_MINWEN", ss + "_3", ""});
    }
    return writes;
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
