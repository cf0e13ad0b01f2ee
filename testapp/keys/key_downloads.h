// The rules of the key management page as plain functions: how each combination code and tag
// sets up the fields, what the downloads send and record. The page reads its fields into these
// inputs, and applies the refusal (message and focus) or the download (request, texts shown, key
// store records). The checks run in the page's fixed order.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "check_value.h"
#include "key_store.h"

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

inline constexpr const char* kUnsupportedCode =
    "at present ,don't support this combination code please other combination code";

// The two characters of an index field as a number; nullopt unless both are hex digits.
std::optional<int> ParseIndex(const std::string& text);
// A combination code typed rather than chosen, as its byte: exactly two hex digits, either case.
std::optional<int> ParseCombinationCode(const std::string& text);
// The length code of the selected key length entry (-1: none) for a combination code.
int LengthCode(int code, int lengthPosition);

// ---- Clear-text keys ----

// How a chosen combination code sets up the clear-key half.
struct ClearKeyLayout {
    bool onPad = false;  // "Manually input Key" instead of the download
    std::array<bool, 3> enabled{};
    std::array<bool, 3> cleared{};
    int partLimit = 0;  // a fixed typing limit of the parts; 0: the key length's
};
ClearKeyLayout LayoutOfCode(int code);

// The key length list (in bytes) for the chosen code; nullopt (typed) gets the usual one.
std::vector<int> KeyLengthsOfCode(std::optional<int> code);

// The typing limit of the part fields for the chosen code (nullopt: typed) and length entry.
int PartTypingLimit(std::optional<int> code, int lengthEntry);

// What the recalled parts of a key index choose: the code, how many part fields to enable (0:
// leave them) and the key length entry, of the list of lengths that the code has when
// `recorded` (the code is the one on record), else of the list shown.
struct RecalledKey {
    int code = 0;
    int enabledParts = 0;
    int lengthEntry = 0;
    bool recorded = false;
};
// `loadedWith`: the code on record for the key. It is chosen again when it takes parts typed
// here and each of them is on record; otherwise the number of parts chooses: three 31, two 32,
// else 30.
RecalledKey RecallClearKey(const std::array<std::string, 3>& parts, std::optional<int> loadedWith);

// The check values beside the part fields: each part's, and the combined key's when the code
// (nullopt: none) combines the parts at this length.
struct PartCheckValues {
    std::array<std::string, 3> parts;
    std::string combined;
};
PartCheckValues CheckValuesOf(padlogic::DesFunction des, std::optional<int> code,
                              int lengthPosition, const std::array<std::string, 3>& parts);

struct ClearKeyInput {
    std::string keyNo;        // key index field
    std::optional<int> code;  // combination code; nullopt for text that is no hex byte
    int lengthPosition = -1;
    std::array<std::string, 3> parts;
    bool onPad = false;  // "Manually input Key": an entry on the pad follows the announcement
};

struct ClearKeyDownload {
    std::string keyIndex;  // KK
    int code = 0;
    int lengthCode = 0;
    std::string request;
    std::array<std::string, 3> parts;  // as sent, or the key mask; shown in the fields afterwards
    std::string combined;              // the combined clear value (upper-case), or the key mask
    bool withParts = false;
    bool recorded = false;  // the key store keeps it; a key typed on the pad is kept by its entry
};

std::variant<Refusal, ClearKeyDownload> PlanClearKeyDownload(const ClearKeyInput& input);

// The records of a successful clear-text download: the parts, the combined value and the code.
padlogic::KeyRecords ClearKeyRecords(const ClearKeyDownload& download);

// True when the pad's verify code differs from the check value of the combined key; false when
// they agree or either is unknown (a key typed on the pad, no DES entry).
bool VerifyCodeDiffers(padlogic::DesFunction des, const ClearKeyDownload& download,
                       const std::string& verifyCode);

// The part (1 to 3) that an entry on the pad fills for a combination code.
int EntryPart(int code);
// The records of a part confirmed on the pad after the announcement with `code`: the part as
// the pad sent it, the key mask as the value, and the code.
padlogic::KeyRecords PadEntryRecords(const std::string& keyIndex, int code,
                                     const std::string& text);

// ---- Cipher-text keys ----

// The save indexes a tag may use, and the index shown after the tag changed: the one shown
// before when it is one of them.
struct SaveIndexes {
    int first = 0;
    int last = 0;
    std::string shown;
    bool erase = false;  // the erase choice: no key fields
};
SaveIndexes SaveIndexesOf(const std::string& tagText, const std::string& shownIndex);

// The key length entry that fits a recalled clear key, and the typing limit of the key fields
// for a key length entry.
int CipherLengthEntry(std::size_t keyCharacters);
int CipherTypingLimit(int lengthEntry);

struct CipherKeyInput {
    std::string decryptionNo;  // DD field
    std::string saveNo;        // SS field
    std::string tagText;
    std::optional<int> tagDigit;  // of the chosen tag; nullopt for a tag typed rather than chosen
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
    std::string storedClear;  // the clear value recorded for SS
};

// The clear value of the decryption key comes from `store`.
CipherKeyDownload PlanCipherKeyDownload(const CipherKeyInput& input, padlogic::DesFunction des,
                                        const padlogic::KeyStore& store);

// The verify-code read of the key at the save index.
std::variant<Refusal, std::string> PlanVerifyCodeRead(const std::string& decryptionNo,
                                                      const std::string& saveNo);

}  // namespace keys
