// What the key management page's downloads send and record, as plain functions: the page reads
// its fields into these inputs, and applies the refusal (message and focus) or the download
// (request, texts shown, key store records). The checks run in the page's fixed order.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "check_value.h"

namespace keys {

// The control a refusal puts the input focus on.
enum class Field {
    kNone,
    kKeyNo,
    kPart1,
    kPart2,
    kPart3,
    kDecipherNo,
    kEncryptNo,
    kClearKey,
    kCipherKey
};

struct Refusal {
    std::string message;  // UTF-8
    Field focus = Field::kNone;
};

struct StoreWrite {
    std::string section;
    std::string key;
    std::string value;
};

inline constexpr const char* kUnsupportedCode =
    "at present ,don't support this combination code please other combination code";

// The two characters of an index field as a number; nullopt unless both are hex digits.
std::optional<int> ParseIndex(const std::string& text);
// A combination code text as its byte: exactly two hex digits, either case.
std::optional<int> ParseCombinationCode(const std::string& text);
// The length code of the selected key length entry (-1: none) for a combination code.
int LengthCode(int code, int lengthPosition);

// ---- Clear-text keys ----

struct ClearKeyInput {
    std::string keyNo;     // key index field
    std::string codeText;  // combination code field
    int lengthPosition = -1;
    std::string parts[3];
    bool onPad = false;  // "Manually input Key": an entry on the pad follows the announcement
};

struct ClearKeyDownload {
    std::string keyIndex;  // KK
    int code = 0;
    int lengthCode = 0;
    std::string request;
    std::string parts[3];  // as sent, or the key mask; shown in the part fields afterwards
    std::string combined;  // the combined clear value (upper-case), or the key mask
    bool withParts = false;
};

std::variant<Refusal, ClearKeyDownload> PlanClearKeyDownload(const ClearKeyInput& input);

// The KEY_MINWEN records of a successful clear-text download.
std::vector<StoreWrite> ClearKeyStoreWrites(const ClearKeyDownload& download);

// The part (1 to 3) that an entry on the pad fills for a combination code.
int EntryPart(int code);
// The characters of a part typed on the pad for a length code: the length entry chosen, "8"
// (code 1) to "48" (code 6).
std::size_t PadEntryLength(int lengthCode);
// The records of a part confirmed on the pad: the part itself and the key mask as the value.
std::vector<StoreWrite> PadEntryStoreWrites(const std::string& keyIndex, int part,
                                            const std::string& text);

// ---- Cipher-text keys ----

struct CipherKeyInput {
    std::string decryptionNo;  // DD field
    std::string saveNo;        // SS field
    std::string tagText;
    int tagPosition = -1;
    int lengthPosition = -1;
    std::string clearKey;
    std::string cipherText;
    std::string operatorVerifyCode;  // the verify code field as the operator left it
    bool parity = true;
    bool withVerify = true;
};

struct CipherKeyDownload {
    std::optional<Refusal> refusal;
    // Texts that the page shows even when a later check refuses: the parity-adjusted clear key
    // and the cipher text computed locally.
    std::optional<std::string> clearKeyField;
    std::optional<std::string> cipherField;
    std::string decryptionIndex;  // DD
    std::string saveIndex;        // SS
    std::string request;
    bool erase = false;
    std::string storedClear;  // what KEY_ENCRYPT records for SS
};

// `decryptionKey(DD)` is the stored clear value of the decryption key (KEY_MINWEN DD_V).
CipherKeyDownload PlanCipherKeyDownload(
    const CipherKeyInput& input, padlogic::DesFunction des,
    const std::function<std::string(const std::string&)>& decryptionKey);

// The records after a successful cipher-text download; `decryptionFirstPart` is DD_1 as stored.
std::vector<StoreWrite> CipherKeyStoreWrites(const CipherKeyDownload& download,
                                             const std::string& tagText,
                                             const std::string& decryptionFirstPart);

// The verify-code read of the key at the save index.
std::variant<Refusal, std::string> PlanVerifyCodeRead(const std::string& decryptionNo,
                                                      const std::string& saveNo);

}  // namespace keys
