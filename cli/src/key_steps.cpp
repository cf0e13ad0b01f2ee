// Key loading in clear and in cipher text, verify-code read and erase, authentication.
#include <cstring>
#include <ostream>

#include "check_value.h"
#include "hex_text.h"
#include "key_parts.h"
#include "key_requests.h"
#include "key_tables.h"
#include "pad_input.h"
#include "pinpad.h"
#include "secret_input.h"
#include "secrets.h"
#include "step_commands.h"
#include "tool_key_store.h"

namespace cli {
namespace {

// Room to spare over the verify codes and authorization replies the driver writes.
constexpr std::size_t kKeyReplySize = 128;
constexpr std::size_t kAuthReplySize = 256;
static_assert(kKeyReplySize >= PINPAD_VERIFY_CODE_SIZE);
static_assert(kAuthReplySize >= PINPAD_AUTH_REPLY_SIZE);

// Fails the step when the pad's verify code does not begin with the expected check value.
void CompareVerifyCode(StepOutcome& outcome, const std::string& verifyCode,
                       const std::string& expected, const std::string& whose) {
    if (expected.empty()) return;
    const bool matches = padlogic::ToUpper(verifyCode).rfind(padlogic::ToUpper(expected), 0) == 0;
    AddCheck(outcome, "verify_code", padlogic::ToUpper(expected), verifyCode, matches);
    if (matches) return;
    outcome.ok = false;
    outcome.message = "the pad's verify code " + verifyCode + " differs from " + whose + " " +
                      padlogic::ToUpper(expected);
}

CLI::Validator CheckValueText() { return HexText({6, 8}); }

constexpr std::size_t kVerifyCodeLength = 8;
constexpr std::size_t kAuthDataLength = 32;

// What the key store records say was done on the pad, as the program says it.
constexpr const char* kKeyLoaded = "The key was loaded into the pad";
constexpr const char* kKeyCleared = "The key was cleared in the pad";
constexpr const char* kPadPartLoaded = "The key part typed on the pad was loaded";
constexpr const char* kAuthDataInitialized = "The authorization data was initialized on the pad";

// The check value of a key, as the reply field `name`; nothing for text that is no whole key.
void AddCheckValue(StepOutcome& outcome, const std::string& name, const std::string& key) {
    const std::string checkValue = padlogic::CheckValue(PinPad_TriUntriDes, key);
    if (!checkValue.empty()) outcome.reply[name] = checkValue;
}

std::string PartField(int part, const char* suffix = "") {
    return "part" + std::to_string(part) + suffix;
}

// Sends a cipher-text key record (or a verify-code read or erase) and records the verify code
// the pad returns.
StepOutcome DownloadEncryptKey(const std::string& request) {
    char verifyCode[kKeyReplySize] = {};
    StepOutcome outcome = DriverOutcome(
        request, PinPad_DownloadEncryptKey(request.c_str(), static_cast<unsigned>(request.size()),
                                           verifyCode));
    if (outcome.ok)
        TakeReplyField(outcome, "verify_code", verifyCode,
                       Exactly(FieldKind::Hex, kVerifyCodeLength));
    return outcome;
}

// Sends a clear-text key record. The pad may answer it without a verify code; one it sends
// has all its characters.
StepOutcome DownloadClearKey(const std::string& request, bool readsVerifyCode) {
    char verifyCode[kKeyReplySize] = {};
    StepOutcome outcome = DriverOutcome(
        request,
        PinPad_DownloadKey(request.c_str(), static_cast<unsigned>(request.size()), verifyCode, 0));
    if (outcome.ok && readsVerifyCode) {
        const std::string code = verifyCode;
        TakeReplyField(outcome, "verify_code", code,
                       code.empty() ? FieldShape{FieldKind::Hex, 0, 0}
                                    : Exactly(FieldKind::Hex, kVerifyCodeLength));
    }
    return outcome;
}

// Sends the record and fails the step when the verify code differs from the expected one.
StepOutcome DownloadEncryptKeyChecked(const std::string& request, const std::string& expected) {
    StepOutcome outcome = DownloadEncryptKey(request);
    if (outcome.ok) {
        CompareVerifyCode(outcome, outcome.reply["verify_code"].get<std::string>(), expected,
                          "the expected check value");
    }
    return outcome;
}

// Fails the step when the check value computed here does not begin with the expected one.
bool CheckValueMatches(StepOutcome& outcome, const std::string& checkValue,
                       const std::string& expected, const std::string& what) {
    if (expected.empty()) return true;
    const bool matches = checkValue.rfind(padlogic::ToUpper(expected), 0) == 0;
    AddCheck(outcome, "check_value of " + what, padlogic::ToUpper(expected), checkValue, matches);
    if (matches) return true;
    outcome.ok = false;
    outcome.message = "the check value " + checkValue + " of " + what +
                      " differs from the expected " + padlogic::ToUpper(expected) +
                      "; nothing was sent";
    return false;
}

// A key part as given on the command line: hex, optionally followed by ':' and its check value.
struct KeyPart {
    std::string hex;
    std::string kcv;
};

KeyPart SplitPart(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return {padlogic::ToUpper(text), ""};
    return {padlogic::ToUpper(text.substr(0, colon)), padlogic::ToUpper(text.substr(colon + 1))};
}

CLI::Validator KeyPartText() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const KeyPart part = SplitPart(value);
            if (part.hex.empty() || !IsHexText(part.hex)) return "is not a hexadecimal key part";
            const bool hasKcv = value.find(':') != std::string::npos;
            if (hasKcv && ((part.kcv.size() != 6 && part.kcv.size() != 8) || !IsHexText(part.kcv)))
                return "the check value after ':' needs 6 or 8 hex characters";
            return {};
        },
        "HEX[:KCV]");
}

using padlogic::IsPadEntryCode;

// The combination codes the tool loads with: all but the one that takes neither parts nor an
// entry on the pad.
std::vector<std::string> CombinationCodeWords() {
    std::vector<std::string> words;
    for (const padlogic::CombinationCode& entry : padlogic::kCombinationCodes) {
        if (entry.code != padlogic::kNoPartsCode)
            words.push_back(BytesToHex(std::string(1, static_cast<char>(entry.code))));
    }
    return words;
}

// Key lengths in bytes, of parts typed on the host and of keys typed on the pad alike.
std::vector<std::string> KeyLengthWords() {
    std::vector<std::string> words;
    words.reserve(padlogic::kKeyLengths.size());
    for (int bytes : padlogic::kKeyLengths) words.push_back(std::to_string(bytes));
    return words;
}

// The length code of a request counts 8 characters of a part typed on the pad, two a byte, and
// 8 bytes of parts typed on the host.
constexpr int kPadEntryBytesPerLengthCode = 4;
constexpr int kHostBytesPerLengthCode = 8;

// The length code (1, 2, 3; 2, 4, 6 for a key typed on the pad) of --length, or of the parts
// when it is not given.
int LengthCodeOf(int code, int lengthBytes, const std::vector<KeyPart>& parts) {
    if (code == padlogic::kConcatenationCode) {
        if (lengthBytes != 0 && lengthBytes != 24)
            RefuseArgument("--length", "code 33 makes a 24-byte key");
        return 3;
    }
    if (IsPadEntryCode(code) && parts.empty()) {
        if (lengthBytes == 0) RefuseArgument("--length", "is needed when no parts are given");
        return lengthBytes / kPadEntryBytesPerLengthCode;
    }
    if (lengthBytes != 0) return lengthBytes / kHostBytesPerLengthCode;
    if (parts.empty()) RefuseArgument("--length", "is needed when no parts are given");
    const std::size_t unit = code == padlogic::kInterleaveCode ? 8 : 16;
    const std::size_t size = parts.front().hex.size();
    if (size % unit != 0 || size / unit < 1 || size / unit > 3)
        RefuseArgument("--part", "part 1 of " + std::to_string(size) +
                                     " characters is no key length for this code");
    return static_cast<int>(size / unit);
}

// The echo of a key part typed on the pad: a star for each character, a backspace takes the last
// back; Enter, Escape or the pad's time-out end it. The characters are kept for the key store.
struct KeyEntryEcho {
    static constexpr std::size_t kCapacity = 255;  // further characters are not kept
    std::ostream& echo;
    std::string text{};
    std::string end{};

    bool Take(unsigned char byte) {
        if (const char* ending = EntryEndOf(byte)) {
            end = ending;
            return true;
        }
        if (byte != kBackspaceByte) {
            if (text.size() >= kCapacity) return false;
            text += static_cast<char>(byte);
            echo << '*' << std::flush;
        } else if (!text.empty()) {
            text.pop_back();
            echo << "\b \b" << std::flush;
        }
        return false;
    }
};

// A key part typed on the pad: where it goes, and the code that announced it.
struct PadEntry {
    std::string index;
    int part;
    int code;
    int seconds;
};

// Echoes a key part typed on the pad until Enter, Escape, the pad's time-out or the deadline.
// A confirmed part is shown by its check value and recorded as the program records it.
StepOutcome EchoKeyEntry(StepOutcome outcome, StepContext& context, const PadEntry& entryPlan) {
    KeyEntryEcho entry{.echo = context.echo};
    const bool ended = CollectPadBytes(entryPlan.seconds,
                                       [&entry](unsigned char byte) { return entry.Take(byte); });
    context.echo << '\n' << std::flush;
    outcome.reply["characters"] = entry.text.size();
    outcome.reply["end"] = ended ? entry.end : "deadline";
    if (!ended) EndPadInput();
    if (entry.end != "enter") {
        outcome.ok = false;
        outcome.message =
            ended ? "the key entry on the pad ended with " + entry.end
                  : "the key entry did not end within " + std::to_string(entryPlan.seconds) + " s";
        return outcome;
    }
    AddCheckValue(outcome, PartField(entryPlan.part, "_kcv"), entry.text);
    SetSecretField(outcome, PartField(entryPlan.part), EscapeText(entry.text));
    context.keyStore.RecordPadValues(outcome, kPadPartLoaded,
                                     padlogic::KeyRecords().PadPart(entryPlan.index, entryPlan.part,
                                                                    entry.text, entryPlan.code));
    return outcome;
}

struct ClearKeyArguments {
    std::string index, code, kcv;
    int lengthBytes = 0;
    std::vector<std::string> parts;
    int seconds = 120;
};

void DeclareClearKey(CLI::App& command, ClearKeyArguments& s) {
    AddIndexArgument(command, "INDEX", s.index, "key index 00-1F", 0x00, 0x1F);
    command.add_option("CODE", s.code, "combination code")
        ->required()
        ->check(OneOf(CombinationCodeWords()));
    command
        .add_option("--length", s.lengthBytes,
                    "key length in bytes, of the parts or of the key typed on the pad (taken from "
                    "the parts when not given)")
        ->check(OneOf(KeyLengthWords()));
    CLI::Option* parts =
        command.add_option("--part", s.parts,
                           "a key part in hex, ':' and its check value optional (repeat per "
                           "part); @FILE reads it from a file, - from a line of standard input");
    parts->check(KeyPartText())
        ->transform(SecretSource("key part", parts))
        ->expected(1, 3)
        ->allow_extra_args(false);
    command
        .add_option("--kcv", s.kcv,
                    "expected check value of the combined key (6 or 8 hex characters)")
        ->check(CheckValueText());
    command
        .add_option("--entry-timeout", s.seconds,
                    "codes 41-43: seconds to wait for the entry on the pad")
        ->check(WholeNumber(1, 3600))
        ->capture_default_str();
}

// A clear key whose parts are typed on the pad: announced, then echoed (41-43) or combined there
// (31-34).
struct PadPartsPlan {
    std::string request;
    int code;
    std::string kcv;
    PadEntry entry;
};

// The part (1 to 3) that codes 41 to 43 fill.
int EntryPart(int code) { return code - padlogic::kFirstPadEntryCode + 1; }

StepOutcome RunClearKeyFromPad(const PadPartsPlan& plan, StepContext& context) {
    context.runKeys.erase(plan.entry.index);  // combined or typed on the pad: unknown here
    const bool padEntry = IsPadEntryCode(plan.code);
    StepOutcome outcome = DownloadClearKey(plan.request, !padEntry);
    if (!outcome.ok) return outcome;
    if (padEntry) return EchoKeyEntry(std::move(outcome), context, plan.entry);
    CompareVerifyCode(outcome, outcome.reply["verify_code"].get<std::string>(), plan.kcv,
                      "the expected check value");
    if (!outcome.ok) return outcome;
    // The parts were combined on the pad: the host knows none of them.
    const std::string mask(padlogic::kKeyMask);
    context.keyStore.Record(
        outcome, kKeyLoaded,
        padlogic::KeyRecords().ClearKey(plan.entry.index, {mask, mask, mask}, mask, plan.code));
    return outcome;
}

Step BuildClearKeyFromPad(const ClearKeyArguments& s, int code, int lengthCode) {
    if (code == padlogic::kSinglePartCode)
        RefuseArgument("--part", "code 30 loads the part given with it");
    if (IsPadEntryCode(code) && !s.kcv.empty())
        RefuseArgument("--kcv", "a part typed on the pad has no check value to compare");
    const std::string index = padlogic::ToUpper(s.index);
    const std::string request =
        padlogic::ClearKeyRequest(index, static_cast<unsigned char>(code), lengthCode);
    const PadEntry entry{index, IsPadEntryCode(code) ? EntryPart(code) : 1, code, s.seconds};
    return MakeStep("key clear", RunClearKeyFromPad, {request, code, s.kcv, entry});
}

// A clear key from parts typed on the host, each with the check value it may carry.
struct HostPartsPlan {
    std::string index, request, maskedRequest;
    std::vector<KeyPart> parts;
    std::string combined, kcv;
    int code;
};

// Compares every check value given, the parts' and the combined key's, before anything is
// sent; the combined key's check value when all match.
std::optional<std::string> CheckValuesMatch(StepOutcome& outcome, const HostPartsPlan& plan) {
    for (std::size_t i = 0; i < plan.parts.size(); ++i) {
        const KeyPart& part = plan.parts[i];
        if (part.kcv.empty()) continue;
        if (!CheckValueMatches(outcome, padlogic::CheckValue(PinPad_TriUntriDes, part.hex),
                               part.kcv, "part " + std::to_string(i + 1)))
            return std::nullopt;
    }
    const std::string checkValue = padlogic::CheckValue(PinPad_TriUntriDes, plan.combined);
    if (!CheckValueMatches(outcome, checkValue, plan.kcv, "the combined key")) return std::nullopt;
    return checkValue;
}

// Every part that is a whole key by its check value, as "part1_kcv" ...
void AddPartCheckValues(StepOutcome& outcome, const HostPartsPlan& plan) {
    for (std::size_t i = 0; i < plan.parts.size(); ++i) {
        if (!plan.parts[i].hex.empty())
            AddCheckValue(outcome, PartField(static_cast<int>(i) + 1, "_kcv"), plan.parts[i].hex);
    }
}

StepOutcome RunClearKeyFromParts(const HostPartsPlan& plan, StepContext& context) {
    context.runKeys.erase(plan.index);
    StepOutcome outcome;
    outcome.request = plan.request;
    HideRequest(outcome, plan.maskedRequest);
    const std::optional<std::string> checkValue = CheckValuesMatch(outcome, plan);
    if (!checkValue) return outcome;
    Json checks = std::move(outcome.checks);  // the check values compared before sending
    outcome = DownloadClearKey(plan.request, true);
    HideRequest(outcome, plan.maskedRequest);
    outcome.checks = std::move(checks);
    if (!outcome.ok) return outcome;
    AddPartCheckValues(outcome, plan);
    if (!checkValue->empty()) outcome.reply["check_value"] = *checkValue;
    CompareVerifyCode(outcome, outcome.reply["verify_code"].get<std::string>(), *checkValue,
                      "the combined key's check value");
    if (!outcome.ok) return outcome;
    context.runKeys[plan.index] = plan.combined;
    context.keyStore.Record(
        outcome, kKeyLoaded,
        padlogic::KeyRecords().ClearKey(plan.index,
                                        {plan.parts[0].hex, plan.parts[1].hex, plan.parts[2].hex},
                                        plan.combined, plan.code));
    return outcome;
}

// Refuses a check value where there is no whole key to compute one of.
void CheckValuesComputable(const ClearKeyArguments& s, const std::vector<KeyPart>& parts,
                           const std::string& combined) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!parts[i].kcv.empty() && !padlogic::IsKeyText(parts[i].hex))
            RefuseArgument("--part", "part " + std::to_string(i + 1) +
                                         " is no whole key and has no check value");
    }
    if (!s.kcv.empty() && !padlogic::IsKeyText(combined))
        RefuseArgument("--kcv", "the combined key is no whole key and has no check value");
}

Step BuildClearKeyFromParts(const ClearKeyArguments& s, int code, int lengthCode,
                            std::vector<KeyPart> parts) {
    if (IsPadEntryCode(code)) RefuseArgument("--part", "codes 41-43 take their part on the pad");
    const std::size_t needed = static_cast<std::size_t>(padlogic::HostParts(code));
    if (parts.size() != needed)
        RefuseArgument("--part", "code " + s.code + " needs " + std::to_string(needed) +
                                     " parts, not " + std::to_string(parts.size()));
    parts.resize(3);
    std::string combined;
    const int combinedResult = padlogic::CombineParts(code, lengthCode, parts[0].hex, parts[1].hex,
                                                      parts[2].hex, combined);
    if (combinedResult != padlogic::kCombinedOk)
        RefuseArgument("--part", "part " + std::to_string(-combinedResult) +
                                     " has the wrong length for code " + s.code +
                                     " and this key length");
    CheckValuesComputable(s, parts, combined);
    const std::string index = padlogic::ToUpper(s.index);
    const auto codeCharacter = static_cast<unsigned char>(code);
    const std::string request = padlogic::ClearKeyRequest(index, codeCharacter, lengthCode,
                                                          parts[0].hex, parts[1].hex, parts[2].hex);
    const std::string maskedRequest =
        padlogic::ClearKeyRequest(index, codeCharacter, lengthCode, Masked(parts[0].hex),
                                  Masked(parts[1].hex), Masked(parts[2].hex));
    return MakeStep("key clear", RunClearKeyFromParts,
                    {index, request, maskedRequest, parts, combined, s.kcv, code});
}

Step BuildClearKey(const ClearKeyArguments& s) {
    const int code = static_cast<int>(padlogic::HexByteAt(s.code, 0));
    std::vector<KeyPart> parts;
    for (const std::string& text : s.parts) parts.push_back(SplitPart(text));
    const int lengthCode = LengthCodeOf(code, s.lengthBytes, parts);
    if (parts.empty()) return BuildClearKeyFromPad(s, code, lengthCode);
    return BuildClearKeyFromParts(s, code, lengthCode, std::move(parts));
}

std::vector<std::string> TagWords() {
    std::vector<std::string> words;
    words.reserve(padlogic::kKeyTags.size());
    for (const padlogic::KeyTag& tag : padlogic::kKeyTags) words.emplace_back(tag.name);
    return words;
}

struct CipherKeyArguments {
    std::string decryptIndex, saveIndex, tag, key, decryptKey, cipher, verifyCode, kcv;
    bool noParity = false, noVerify = false;
};

void DeclareCipherKey(CLI::App& command, CipherKeyArguments& s) {
    AddIndexArgument(command, "DECRYPT_INDEX", s.decryptIndex, "index of the decryption key 00-3F",
                     0x00, 0x3F);
    AddIndexArgument(command, "SAVE_INDEX", s.saveIndex, "index the key is stored at 00-7F", 0x00,
                     0x7F);
    command.add_option("TAG", s.tag, "TMK, TPK, TAK, TDK, TDEK, TDDK or TDSK")
        ->required()
        ->check(OneOf(TagWords(), true));
    CLI::Option* clear = AddKeyOption(
        command, "--key", s.key,
        "the new key in clear (@FILE: from a file, -: from standard input)", "new key");
    CLI::Option* under =
        AddKeyOption(command, "--decrypt-key", s.decryptKey,
                     "the decryption key's clear value (@FILE, -); when not given, the key "
                     "store's value of the key at DECRYPT_INDEX",
                     "decryption key");
    CLI::Option* cipher =
        command.add_option("--cipher", s.cipher, "the new key already enciphered")
            ->check(HexText({16, 32, 48}));
    command
        .add_option("--verify-code", s.verifyCode,
                    "with --cipher: the key's verify code, 8 hex characters")
        ->check(HexText({8}))
        ->needs(cipher);
    clear->excludes(cipher);
    under->needs(clear);
    command.add_flag("--no-parity", s.noParity, "send the clear key without odd parity adjustment");
    command.add_flag("--no-verify", s.noVerify, "send no verify code with the key");
    command.add_option("--kcv", s.kcv, "expected check value of the key (6 or 8 hex characters)")
        ->check(CheckValueText());
}

// A key record ready to send, and the check value its verify code is to begin with ("": any).
struct CheckedRecord {
    std::string request{}, kcv{};
};

StepOutcome RunCheckedRecord(const CheckedRecord& plan, StepContext&) {
    return DownloadEncryptKeyChecked(plan.request, plan.kcv);
}

// Where a key loaded in cipher text (or erased) goes, and the clear value to record for it: the
// key mask when only its cipher text was given, "" for an erase.
struct CipherRecordPlan {
    std::string decryptIndex, saveIndex, tag, storedClear;
};

// Records the download as the program records it, unless the key store is left alone.
void RecordCipherKey(StepOutcome& outcome, const CipherRecordPlan& plan, const ToolKeyStore& keys,
                     const char* done) {
    const padlogic::KeyStore* store = keys.store();
    if (!store) return;
    const padlogic::KeyRecords records = padlogic::CipherKeyRecords(
        plan.decryptIndex, plan.saveIndex, plan.tag, plan.storedClear, *store);
    keys.Record(outcome, done, records);
}

// A key given as cipher text, checked and recorded by its mask.
struct CipherTextPlan {
    CheckedRecord record;
    CipherRecordPlan keys;
};

StepOutcome RunCipherText(const CipherTextPlan& plan, StepContext& context) {
    context.runKeys.erase(plan.keys.saveIndex);  // only its cipher text is known
    StepOutcome outcome = DownloadEncryptKeyChecked(plan.record.request, plan.record.kcv);
    if (outcome.ok) RecordCipherKey(outcome, plan.keys, context.keyStore, kKeyLoaded);
    return outcome;
}

// A key given in clear, enciphered here under the decryption key's clear value.
struct ClearCipherPlan {
    std::string decryptIndex, saveIndex;
    int tagDigit;
    std::string tag, clearKey, decryptKey, kcv;  // decryptKey "": the key store's
    bool noVerify;
};

StepOutcome RunCipherKeyFromClear(const ClearCipherPlan& plan, StepContext& context) {
    context.runKeys.erase(plan.saveIndex);
    StepOutcome outcome;
    const std::string checkValue = padlogic::CheckValue(PinPad_TriUntriDes, plan.clearKey);
    if (!CheckValueMatches(outcome, checkValue, plan.kcv, "the key")) return outcome;
    std::optional<std::string> decryptKey = plan.decryptKey;
    if (decryptKey->empty()) {
        decryptKey = context.keyStore.KeyValue(outcome, plan.decryptIndex, false, "--decrypt-key");
        if (!decryptKey) {
            outcome.message += "; nothing was sent";
            return outcome;
        }
    }
    const std::string cipher = padlogic::Encipher(PinPad_TriUntriDes, plan.clearKey, *decryptKey);
    const std::string request = padlogic::CipherKeyRequest(
        plan.decryptIndex, plan.saveIndex, plan.tagDigit,
        static_cast<int>(plan.clearKey.size() / 16), cipher, plan.noVerify ? "" : checkValue);
    Json checks = std::move(outcome.checks);  // the key's check value compared before sending
    outcome = DownloadEncryptKey(request);
    outcome.checks = std::move(checks);
    if (!outcome.ok) return outcome;
    outcome.reply["cipher"] = cipher;
    outcome.reply["check_value"] = checkValue;
    CompareVerifyCode(outcome, outcome.reply["verify_code"].get<std::string>(), checkValue,
                      "the key's check value");
    if (outcome.ok) context.runKeys[plan.saveIndex] = plan.clearKey;
    if (outcome.ok)
        RecordCipherKey(outcome, {plan.decryptIndex, plan.saveIndex, plan.tag, plan.clearKey},
                        context.keyStore, kKeyLoaded);
    return outcome;
}

Step BuildCipherKey(const CipherKeyArguments& s) {
    if (s.key.empty() && s.cipher.empty())
        RefuseArgument("--key", "give the key with --key or --cipher");
    if (!s.cipher.empty() && !s.noVerify && s.verifyCode.empty())
        RefuseArgument("--verify-code", "is needed with --cipher (or give --no-verify)");
    const std::string decryptIndex = padlogic::ToUpper(s.decryptIndex),
                      saveIndex = padlogic::ToUpper(s.saveIndex);
    const std::string tag = padlogic::ToUpper(s.tag);
    const int tagDigit = padlogic::TagDigit(tag).value();
    if (!s.cipher.empty()) {
        const std::string request = padlogic::CipherKeyRequest(
            decryptIndex, saveIndex, tagDigit, static_cast<int>(s.cipher.size() / 16),
            padlogic::ToUpper(s.cipher), s.noVerify ? "" : padlogic::ToUpper(s.verifyCode));
        return MakeStep(
            "key cipher", RunCipherText,
            {{request, s.kcv}, {decryptIndex, saveIndex, tag, std::string(padlogic::kKeyMask)}});
    }
    const std::string clearKey = s.noParity ? padlogic::ToUpper(s.key) : padlogic::OddParity(s.key);
    return MakeStep("key cipher", RunCipherKeyFromClear,
                    {decryptIndex, saveIndex, tagDigit, tag, clearKey,
                     padlogic::ToUpper(s.decryptKey), s.kcv, s.noVerify});
}

// The verify-code read (with the check value it may be compared with) and the erase.
struct KeyIndexes {
    bool erase = false;
    std::string decryptIndex{}, saveIndex{}, kcv{};
};

void DeclareKeyIndexes(CLI::App& command, KeyIndexes& s) {
    AddIndexArgument(command, "DECRYPT_INDEX", s.decryptIndex, "decryption key index 00-3F", 0x00,
                     0x3F);
    AddIndexArgument(command, "SAVE_INDEX", s.saveIndex, "index of the key 00-7F", 0x00, 0x7F);
    if (!s.erase)
        command.add_option("--kcv", s.kcv, "expected check value (6 or 8 hex characters)")
            ->check(CheckValueText());
}

StepOutcome RunErase(const CipherTextPlan& plan, StepContext& context) {
    context.runKeys.erase(plan.keys.saveIndex);
    StepOutcome outcome = DownloadEncryptKey(plan.record.request);
    if (outcome.ok) RecordCipherKey(outcome, plan.keys, context.keyStore, kKeyCleared);
    return outcome;
}

Step BuildKeyIndexes(const KeyIndexes& s) {
    const std::string dd = padlogic::ToUpper(s.decryptIndex);
    const std::string ss = padlogic::ToUpper(s.saveIndex);
    if (s.erase)
        return MakeStep(
            "key erase", RunErase,
            {{padlogic::EraseKeyRequest(dd, ss)}, {dd, ss, std::string(padlogic::kEraseTag), ""}});
    return MakeStep("key verify-code", RunCheckedRecord,
                    {padlogic::VerifyCodeRequest(dd, ss), s.kcv});
}

void AddVerifyCodeCommands(CLI::App& key, StepSlot& slot) {
    AddStepCommand(key, slot, "verify-code", "read the verify code of the key at SAVE_INDEX",
                   DeclareKeyIndexes, BuildKeyIndexes, {.erase = false});
    AddStepCommand(key, slot, "erase", "erase the key at SAVE_INDEX", DeclareKeyIndexes,
                   BuildKeyIndexes, {.erase = true});
}

struct AuthInit {
    std::string data;
};

void DeclareAuthInit(CLI::App& command, AuthInit& s) {
    command.add_option("DATA", s.data, "authorization data, 32 hex characters (@FILE, -)")
        ->required()
        ->check(HexText({32}, true))
        ->transform(SecretSource("authorization data"));
}

// The authorization data is a key: shown by its check value, recorded as the program does.
StepOutcome RunAuthInit(const AuthInit& plan, StepContext& context) {
    char reply[kAuthReplySize] = {};
    StepOutcome outcome = DriverOutcome(
        plan.data, PinPad_InitAuthorization(plan.data.c_str(),
                                            static_cast<unsigned>(plan.data.size()), reply));
    HideRequest(outcome, Masked(plan.data));
    const std::string data(reply, strnlen(reply, sizeof reply));
    if (!outcome.ok) return outcome;
    if (TakeSecretReplyField(outcome, "data", data, Exactly(FieldKind::Hex, kAuthDataLength)))
        AddCheckValue(outcome, "check_value", data);
    // The pad holds new data whatever its reply looks like: the record of the data before must
    // not stand in for it. A malformed reply still fails the step.
    context.keyStore.RecordPadValues(outcome, kAuthDataInitialized,
                                     padlogic::KeyRecords().AuthData(data));
    return outcome;
}

Step BuildAuthInit(const AuthInit& s) {
    return MakeStep("auth init", RunAuthInit, {padlogic::ToUpper(s.data)});
}

// Fetches the pad's challenge into the reply; false when it failed or came short.
bool TakeChallenge(StepOutcome& outcome) {
    char challenge[kAuthReplySize] = {};
    outcome = DriverOutcome("", PinPad_GetChallenge(challenge));
    return outcome.ok && TakeReplyField(outcome, "challenge", challenge,
                                        Exactly(FieldKind::Hex, kAuthDataLength));
}

StepOutcome RunAuthChallenge(const NoArguments&, StepContext&) {
    StepOutcome outcome;
    TakeChallenge(outcome);
    return outcome;
}

Step BuildAuthChallenge(const NoArguments& s) {
    return MakeStep("auth challenge", RunAuthChallenge, s);
}

struct AuthMutual {
    std::string index, key;
};

void DeclareAuthMutual(CLI::App& command, AuthMutual& s) {
    AddIndexArgument(command, "INDEX", s.index, "key index 00-7F", 0x00, 0x7F);
    AddKeyOption(command, "DATA", s.key,
                 "authorization data (16, 32 or 48 hex characters; @FILE, -)", "authorization data")
        ->required();
}

StepOutcome RunAuthMutual(const AuthMutual& plan, StepContext&) {
    StepOutcome outcome;
    // A cut challenge is not answered: the second exchange is not sent.
    if (!TakeChallenge(outcome)) return outcome;
    const std::string random = outcome.reply["challenge"].get<std::string>();
    char reply[kAuthReplySize] = {};
    outcome.request = plan.index + random;
    outcome.result =
        PinPad_BidirectionalAuthorization(plan.key.c_str(), static_cast<unsigned>(random.size()),
                                          plan.index.c_str(), random.c_str(), reply);
    outcome.ok = *outcome.result == 0;
    if (outcome.ok)
        TakeReplyField(outcome, "data", reply, Exactly(FieldKind::Hex, kAuthDataLength));
    return outcome;
}

Step BuildAuthMutual(const AuthMutual& s) {
    return MakeStep("auth mutual", RunAuthMutual,
                    {padlogic::ToUpper(s.index), padlogic::ToUpper(s.key)});
}

void AddAuthCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* auth = app.add_subcommand("auth", "authentication set-up and mutual authentication");
    auth->require_subcommand(1);
    AddStepCommand(*auth, slot, "init", "set up authentication with 16 bytes of authorization data",
                   DeclareAuthInit, BuildAuthInit);
    AddStepCommand(*auth, slot, "challenge", "fetch the pad's random challenge", DeclareNoArguments,
                   BuildAuthChallenge);
    AddStepCommand(*auth, slot, "mutual",
                   "fetch a challenge and run the mutual authentication with the key at INDEX and "
                   "the authorization data",
                   DeclareAuthMutual, BuildAuthMutual);
}

}  // namespace

void AddKeyCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* key = app.add_subcommand("key", "key loading and verify codes");
    key->require_subcommand(1);
    AddStepCommand(*key, slot, "clear",
                   "load a clear key from its parts (codes 30-34), or announce parts typed on the "
                   "pad (31-34 without parts combine them; 41-43 take one)",
                   DeclareClearKey, BuildClearKey);
    AddStepCommand(
        *key, slot, "cipher",
        "load a key enciphered under the key at DECRYPT_INDEX: given in clear with --key and "
        "--decrypt-key (parity adjusted, enciphered and checked here) or as --cipher text",
        DeclareCipherKey, BuildCipherKey);
    AddVerifyCodeCommands(*key, slot);
    AddAuthCommands(app, slot);
}

}  // namespace cli
