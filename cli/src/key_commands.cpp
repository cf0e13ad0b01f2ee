// Key loading in clear and in cipher text, verify-code read and erase, authentication.
#include <ostream>

#include "check_value.h"
#include "hex_text.h"
#include "key_parts.h"
#include "key_requests.h"
#include "key_tables.h"
#include "pad_input.h"
#include "pinpad.h"
#include "step_commands.h"

namespace cli {
namespace {

constexpr std::size_t kKeyReplySize = 128;
constexpr std::size_t kAuthReplySize = 256;

// Fails the step when the pad's verify code does not begin with the expected check value.
void CompareVerifyCode(StepOutcome& outcome, const std::string& verifyCode,
                       const std::string& expected, const std::string& whose) {
    if (expected.empty() ||
        padlogic::ToUpper(verifyCode).rfind(padlogic::ToUpper(expected), 0) == 0)
        return;
    outcome.ok = false;
    outcome.message = "the pad's verify code " + verifyCode + " differs from " + whose + " " +
                      padlogic::ToUpper(expected);
}

CLI::Validator CheckValueText() { return HexText({6, 8}); }

constexpr std::size_t kVerifyCodeLength = 8;
constexpr std::size_t kAuthDataLength = 32;

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
    if (expected.empty() || checkValue.rfind(padlogic::ToUpper(expected), 0) == 0) return true;
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

// Key lengths in bytes, of parts typed on the host and of keys typed on the pad.
std::vector<std::string> KeyLengthWords() {
    std::vector<std::string> words;
    for (int bytes : padlogic::kKeyLengths) words.push_back(std::to_string(bytes));
    for (int bytes : padlogic::kPadEntryKeyLengths) words.push_back(std::to_string(bytes));
    return words;
}

// The length code (1 = 8 bytes ... 6 = 48 bytes) of --length, or of the parts when it is not given.
int LengthCodeOf(int code, int lengthBytes, const std::vector<KeyPart>& parts) {
    if (code == padlogic::kConcatenationCode) {
        if (lengthBytes != 0 && lengthBytes != 24)
            RefuseArgument("--length", "code 33 makes a 24-byte key");
        return 3;
    }
    if (lengthBytes != 0) {
        if (lengthBytes > padlogic::kKeyLengths.back() && !IsPadEntryCode(code))
            RefuseArgument("--length", "32, 40 and 48 are for keys typed on the pad (codes 41-43)");
        return lengthBytes / 8;
    }
    if (parts.empty()) RefuseArgument("--length", "is needed when no parts are given");
    const std::size_t unit = code == padlogic::kInterleaveCode ? 8 : 16;
    const std::size_t size = parts.front().hex.size();
    if (size % unit != 0 || size / unit < 1 || size / unit > 3)
        RefuseArgument("--part", "part 1 of " + std::to_string(size) +
                                     " characters is no key length for this code");
    return static_cast<int>(size / unit);
}

// Echoes a key part typed on the pad until Enter, Escape, the pad's time-out or the deadline.
StepOutcome EchoKeyEntry(StepOutcome outcome, StepContext& context, int seconds) {
    int characters = 0;
    std::string end;
    const bool ended = CollectPadBytes(seconds, [&](unsigned char byte) {
        switch (byte) {
            case kEnterByte:
                end = "enter";
                return true;
            case kEscapeByte:
                end = "escape";
                return true;
            case kPadTimeoutByte:
                end = "pad time-out";
                return true;
            case kBackspaceByte:
                if (characters > 0) {
                    --characters;
                    context.echo << "\b \b" << std::flush;
                }
                return false;
            default:
                ++characters;
                context.echo << EchoCharacter(byte) << std::flush;
                return false;
        }
    });
    context.echo << '\n' << std::flush;
    outcome.reply["characters"] = characters;
    outcome.reply["end"] = ended ? end : "deadline";
    if (!ended) EndPadInput();
    if (end != "enter") {
        outcome.ok = false;
        outcome.message =
            ended ? "the key entry on the pad ended with " + end
                  : "the key entry did not end within " + std::to_string(seconds) + " s";
    }
    return outcome;
}

void AddClearKeyCommand(CLI::App& key, StepSlot& slot) {
    struct Clear {
        std::string index, code, kcv;
        int lengthBytes = 0;
        std::vector<std::string> parts;
        int seconds = 120;
    };
    AddStepCommand<Clear>(
        key, slot, "clear",
        "load a clear key from its parts (codes 30-34), or announce parts typed on the pad (31-34 "
        "without parts combine them; 41-43 take one)",
        [](CLI::App& command, Clear& s) {
            command.add_option("INDEX", s.index, "key index 00-1F")
                ->required()
                ->check(KeyIndex(0x00, 0x1F));
            command.add_option("CODE", s.code, "combination code")
                ->required()
                ->check(OneOf(CombinationCodeWords()));
            command
                .add_option("--length", s.lengthBytes,
                            "key length in bytes (taken from the parts when not given)")
                ->check(OneOf(KeyLengthWords()));
            command
                .add_option("--part", s.parts,
                            "a key part in hex, ':' and its check value optional (repeat per part)")
                ->check(KeyPartText())
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
        },
        [](Clear& s) {
            const int code = static_cast<int>(padlogic::HexByteAt(s.code, 0));
            std::vector<KeyPart> parts;
            for (const std::string& text : s.parts) parts.push_back(SplitPart(text));
            const int lengthCode = LengthCodeOf(code, s.lengthBytes, parts);
            const std::string index = padlogic::ToUpper(s.index);
            if (parts.empty()) {
                if (code == padlogic::kSinglePartCode)
                    RefuseArgument("--part", "code 30 loads the part given with it");
                if (IsPadEntryCode(code) && !s.kcv.empty())
                    RefuseArgument("--kcv",
                                   "a part typed on the pad has no check value to compare");
                const std::string request =
                    padlogic::ClearKeyRequest(index, static_cast<unsigned char>(code), lengthCode);
                return Step{
                    "key clear", true,
                    [request, code, kcv = s.kcv, seconds = s.seconds](StepContext& context) {
                        const bool padEntry = IsPadEntryCode(code);
                        StepOutcome outcome = DownloadClearKey(request, !padEntry);
                        if (!outcome.ok) return outcome;
                        if (padEntry) return EchoKeyEntry(std::move(outcome), context, seconds);
                        CompareVerifyCode(outcome, outcome.reply["verify_code"].get<std::string>(),
                                          kcv, "the expected check value");
                        return outcome;
                    }};
            }
            if (IsPadEntryCode(code))
                RefuseArgument("--part", "codes 41-43 take their part on the pad");
            const std::size_t needed = static_cast<std::size_t>(padlogic::HostParts(code));
            if (parts.size() != needed)
                RefuseArgument("--part", "code " + s.code + " needs " + std::to_string(needed) +
                                             " parts, not " + std::to_string(parts.size()));
            parts.resize(3);
            std::string combined;
            const int combinedResult = padlogic::CombineParts(code, lengthCode, parts[0].hex,
                                                              parts[1].hex, parts[2].hex, combined);
            if (combinedResult != padlogic::kCombinedOk)
                RefuseArgument("--part", "part " + std::to_string(-combinedResult) +
                                             " has the wrong length for code " + s.code +
                                             " and this key length");
            for (std::size_t i = 0; i < parts.size(); ++i) {
                if (!parts[i].kcv.empty() && !padlogic::IsKeyText(parts[i].hex))
                    RefuseArgument("--part", "part " + std::to_string(i + 1) +
                                                 " is no whole key and has no check value");
            }
            if (!s.kcv.empty() && !padlogic::IsKeyText(combined))
                RefuseArgument("--kcv", "the combined key is no whole key and has no check value");
            const std::string request =
                padlogic::ClearKeyRequest(index, static_cast<unsigned char>(code), lengthCode,
                                          parts[0].hex, parts[1].hex, parts[2].hex);
            return Step{"key clear", true, [request, parts, combined, kcv = s.kcv](StepContext&) {
                            // Every check value is compared before anything is sent.
                            StepOutcome outcome;
                            outcome.request = request;
                            for (std::size_t i = 0; i < parts.size(); ++i) {
                                if (parts[i].kcv.empty()) continue;
                                const std::string partValue =
                                    padlogic::CheckValue(PinPad_TriUntriDes, parts[i].hex);
                                if (!CheckValueMatches(outcome, partValue, parts[i].kcv,
                                                       "part " + std::to_string(i + 1)))
                                    return outcome;
                            }
                            const std::string checkValue =
                                padlogic::CheckValue(PinPad_TriUntriDes, combined);
                            if (!CheckValueMatches(outcome, checkValue, kcv, "the combined key"))
                                return outcome;
                            outcome = DownloadClearKey(request, true);
                            if (!outcome.ok) return outcome;
                            if (!checkValue.empty()) outcome.reply["check_value"] = checkValue;
                            CompareVerifyCode(outcome,
                                              outcome.reply["verify_code"].get<std::string>(),
                                              checkValue, "the combined key's check value");
                            return outcome;
                        }};
        });
}

std::vector<std::string> TagWords() {
    std::vector<std::string> words;
    for (const padlogic::KeyTag& tag : padlogic::kKeyTags) words.emplace_back(tag.name);
    return words;
}

void AddCipherKeyCommand(CLI::App& key, StepSlot& slot) {
    struct Cipher {
        std::string decryptIndex, saveIndex, tag, key, decryptKey, cipher, verifyCode, kcv;
        bool noParity = false, noVerify = false;
    };
    AddStepCommand<Cipher>(
        key, slot, "cipher",
        "load a key enciphered under the key at DECRYPT_INDEX: given in clear with --key and "
        "--decrypt-key (parity adjusted, enciphered and checked here) or as --cipher text",
        [](CLI::App& command, Cipher& s) {
            command
                .add_option("DECRYPT_INDEX", s.decryptIndex, "index of the decryption key 00-3F")
                ->required()
                ->check(KeyIndex(0x00, 0x3F));
            command.add_option("SAVE_INDEX", s.saveIndex, "index the key is stored at 00-7F")
                ->required()
                ->check(KeyIndex(0x00, 0x7F));
            command.add_option("TAG", s.tag, "TMK, TPK, TAK, TDK, TDEK, TDDK or TDSK")
                ->required()
                ->check(OneOf(TagWords(), true));
            CLI::Option* clear =
                command.add_option("--key", s.key, "the new key in clear")->check(KeyText());
            CLI::Option* under =
                command
                    .add_option("--decrypt-key", s.decryptKey, "the decryption key's clear value")
                    ->check(KeyText());
            CLI::Option* cipher =
                command.add_option("--cipher", s.cipher, "the new key already enciphered")
                    ->check(HexText({16, 32, 48}));
            command
                .add_option("--verify-code", s.verifyCode,
                            "with --cipher: the key's verify code, 8 hex characters")
                ->check(HexText({8}))
                ->needs(cipher);
            clear->needs(under)->excludes(cipher);
            under->needs(clear);
            command.add_flag("--no-parity", s.noParity,
                             "send the clear key without odd parity adjustment");
            command.add_flag("--no-verify", s.noVerify, "send no verify code with the key");
            command
                .add_option("--kcv", s.kcv,
                            "expected check value of the key (6 or 8 hex characters)")
                ->check(CheckValueText());
        },
        [](Cipher& s) {
            if (s.key.empty() && s.cipher.empty())
                RefuseArgument("--key", "give the key with --key or --cipher");
            if (!s.cipher.empty() && !s.noVerify && s.verifyCode.empty())
                RefuseArgument("--verify-code", "is needed with --cipher (or give --no-verify)");
            const std::string decryptIndex = padlogic::ToUpper(s.decryptIndex),
                              saveIndex = padlogic::ToUpper(s.saveIndex);
            const int tagDigit = padlogic::TagDigit(padlogic::ToUpper(s.tag)).value();
            if (!s.cipher.empty()) {
                const std::string request = padlogic::CipherKeyRequest(
                    decryptIndex, saveIndex, tagDigit, static_cast<int>(s.cipher.size() / 16),
                    padlogic::ToUpper(s.cipher), s.noVerify ? "" : padlogic::ToUpper(s.verifyCode));
                return Step{"key cipher", true, [request, kcv = s.kcv](StepContext&) {
                                return DownloadEncryptKeyChecked(request, kcv);
                            }};
            }
            const std::string clearKey =
                s.noParity ? padlogic::ToUpper(s.key) : padlogic::OddParity(s.key);
            return Step{
                "key cipher", true,
                [=, decryptKey = padlogic::ToUpper(s.decryptKey), noVerify = s.noVerify,
                 kcv = s.kcv](StepContext&) {
                    StepOutcome outcome;
                    const std::string checkValue =
                        padlogic::CheckValue(PinPad_TriUntriDes, clearKey);
                    if (!CheckValueMatches(outcome, checkValue, kcv, "the key")) return outcome;
                    const std::string cipher =
                        padlogic::Encipher(PinPad_TriUntriDes, clearKey, decryptKey);
                    const std::string request = padlogic::CipherKeyRequest(
                        decryptIndex, saveIndex, tagDigit, static_cast<int>(clearKey.size() / 16),
                        cipher, noVerify ? "" : checkValue);
                    outcome = DownloadEncryptKey(request);
                    if (!outcome.ok) return outcome;
                    outcome.reply["cipher"] = cipher;
                    outcome.reply["check_value"] = checkValue;
                    CompareVerifyCode(outcome, outcome.reply["verify_code"].get<std::string>(),
                                      checkValue, "the key's check value");
                    return outcome;
                }};
        });
}

void AddVerifyCodeCommands(CLI::App& key, StepSlot& slot) {
    struct Indexes {
        std::string decryptIndex, saveIndex, kcv;
    };
    const auto declare = [](bool withKcv) {
        return [withKcv](CLI::App& command, Indexes& s) {
            command.add_option("DECRYPT_INDEX", s.decryptIndex, "decryption key index 00-3F")
                ->required()
                ->check(KeyIndex(0x00, 0x3F));
            command.add_option("SAVE_INDEX", s.saveIndex, "index of the key 00-7F")
                ->required()
                ->check(KeyIndex(0x00, 0x7F));
            if (withKcv)
                command.add_option("--kcv", s.kcv, "expected check value (6 or 8 hex characters)")
                    ->check(CheckValueText());
        };
    };
    const auto build = [](bool erase) {
        return [erase](Indexes& s) {
            const std::string dd = padlogic::ToUpper(s.decryptIndex);
            const std::string ss = padlogic::ToUpper(s.saveIndex);
            const std::string request =
                erase ? padlogic::EraseKeyRequest(dd, ss) : padlogic::VerifyCodeRequest(dd, ss);
            return Step{erase ? "key erase" : "key verify-code", true,
                        [request, kcv = s.kcv](StepContext&) {
                            return DownloadEncryptKeyChecked(request, kcv);
                        }};
        };
    };
    AddStepCommand<Indexes>(key, slot, "verify-code",
                            "read the verify code of the key at SAVE_INDEX", declare(true),
                            build(false));
    AddStepCommand<Indexes>(key, slot, "erase", "erase the key at SAVE_INDEX", declare(false),
                            build(true));
}

void AddAuthCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* auth = app.add_subcommand("auth", "authentication set-up and mutual authentication");
    auth->require_subcommand(1);

    struct Init {
        std::string data;
    };
    AddStepCommand<Init>(
        *auth, slot, "init", "set up authentication with 16 bytes of authorization data",
        [](CLI::App& command, Init& s) {
            command.add_option("DATA", s.data, "authorization data, 32 hex characters")
                ->required()
                ->check(HexText({32}, true));
        },
        [](Init& s) {
            return Step{"auth init", true, [data = padlogic::ToUpper(s.data)](StepContext&) {
                            char reply[kAuthReplySize] = {};
                            StepOutcome outcome = DriverOutcome(
                                data, PinPad_InitAuthorization(
                                          data.c_str(), static_cast<unsigned>(data.size()), reply));
                            if (outcome.ok)
                                TakeReplyField(outcome, "data", reply,
                                               Exactly(FieldKind::Hex, kAuthDataLength));
                            return outcome;
                        }};
        });

    struct None {};
    AddStepCommand<None>(
        *auth, slot, "challenge", "fetch the pad's random challenge", [](CLI::App&, None&) {},
        [](None&) {
            return Step{"auth challenge", true, [](StepContext&) {
                            char challenge[kAuthReplySize] = {};
                            StepOutcome outcome = DriverOutcome("", PinPad_GetChallenge(challenge));
                            if (outcome.ok)
                                TakeReplyField(outcome, "challenge", challenge,
                                               Exactly(FieldKind::Hex, kAuthDataLength));
                            return outcome;
                        }};
        });

    struct Mutual {
        std::string index, key;
    };
    AddStepCommand<Mutual>(
        *auth, slot, "mutual",
        "fetch a challenge and run the mutual authentication with the key at INDEX and the "
        "authorization data",
        [](CLI::App& command, Mutual& s) {
            command.add_option("INDEX", s.index, "key index 00-7F")
                ->required()
                ->check(KeyIndex(0x00, 0x7F));
            command.add_option("DATA", s.key, "authorization data (16, 32 or 48 hex characters)")
                ->required()
                ->check(KeyText());
        },
        [](Mutual& s) {
            return Step{
                "auth mutual", true,
                [index = padlogic::ToUpper(s.index), key = padlogic::ToUpper(s.key)](StepContext&) {
                    char challenge[kAuthReplySize] = {};
                    StepOutcome outcome = DriverOutcome("", PinPad_GetChallenge(challenge));
                    // A cut challenge is not answered: the second exchange is not sent.
                    if (!outcome.ok || !TakeReplyField(outcome, "challenge", challenge,
                                                       Exactly(FieldKind::Hex, kAuthDataLength)))
                        return outcome;
                    const std::string random = challenge;
                    char reply[kAuthReplySize] = {};
                    outcome.request = index + random;
                    outcome.result = PinPad_BidirectionalAuthorization(
                        key.c_str(), static_cast<unsigned>(random.size()), index.c_str(),
                        random.c_str(), reply);
                    outcome.ok = *outcome.result == 0;
                    if (outcome.ok)
                        TakeReplyField(outcome, "data", reply,
                                       Exactly(FieldKind::Hex, kAuthDataLength));
                    return outcome;
                }};
        });
}

}  // namespace

void AddKeyCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* key = app.add_subcommand("key", "key loading and verify codes");
    key->require_subcommand(1);
    AddClearKeyCommand(*key, slot);
    AddCipherKeyCommand(*key, slot);
    AddVerifyCodeCommands(*key, slot);
    AddAuthCommands(app, slot);
}

}  // namespace cli
