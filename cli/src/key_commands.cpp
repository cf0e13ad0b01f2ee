// Key loading in clear and in cipher text, verify-code read and erase, authentication.
#include "hex_text.h"
#include "pinpad.h"
#include "step_commands.h"

namespace cli {
namespace {

constexpr std::size_t kKeyReplySize = 128;
constexpr std::size_t kAuthReplySize = 256;

// Fails the step when the pad's verify code does not begin with the expected check value.
void CompareVerifyCode(StepOutcome& outcome, const std::string& verifyCode,
                       const std::string& expected, const std::string& whose) {
    if (expected.empty() || UpperCase(verifyCode).rfind(UpperCase(expected), 0) == 0) return;
    outcome.ok = false;
    outcome.message = "the pad's verify code " + verifyCode + " differs from " + whose + " " +
                      UpperCase(expected);
}

CLI::Validator CheckValueText() { return HexText({6, 8}); }

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
            // Tag digit 0 with length digit 0 reads the verify code; with 1 and sixteen zeros it
            // erases the key.
            const std::string request =
                UpperCase(s.decryptIndex + s.saveIndex) + (erase ? "010000000000000000" : "00");
            return Step{erase ? "key erase" : "key verify-code", true,
                        [request, kcv = s.kcv](StepContext&) {
                            char verifyCode[kKeyReplySize] = {};
                            StepOutcome outcome = DriverOutcome(
                                request, PinPad_DownloadEncryptKey(
                                             request.c_str(), static_cast<unsigned>(request.size()),
                                             verifyCode));
                            if (!outcome.ok) return outcome;
                            outcome.reply["verify_code"] = std::string(verifyCode);
                            CompareVerifyCode(outcome, verifyCode, kcv, "the expected check value");
                            return outcome;
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
                ->check(HexText({32}));
        },
        [](Init& s) {
            return Step{"auth init", true, [data = UpperCase(s.data)](StepContext&) {
                            char reply[kAuthReplySize] = {};
                            StepOutcome outcome = DriverOutcome(
                                data, PinPad_InitAuthorization(
                                          data.c_str(), static_cast<unsigned>(data.size()), reply));
                            if (outcome.ok) outcome.reply["data"] = std::string(reply);
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
                            if (outcome.ok) outcome.reply["challenge"] = std::string(challenge);
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
                ->check(HexText({16, 32, 48}));
        },
        [](Mutual& s) {
            return Step{"auth mutual", true,
                        [index = UpperCase(s.index), key = UpperCase(s.key)](StepContext&) {
                            char challenge[kAuthReplySize] = {};
                            StepOutcome outcome = DriverOutcome("", PinPad_GetChallenge(challenge));
                            if (!outcome.ok) return outcome;
                            const std::string random = challenge;
                            outcome.reply["challenge"] = random;
                            char reply[kAuthReplySize] = {};
                            outcome.request = index + random;
                            outcome.result = PinPad_BidirectionalAuthorization(
                                key.c_str(), static_cast<unsigned>(random.size()), index.c_str(),
                                random.c_str(), reply);
                            outcome.ok = *outcome.result == 0;
                            if (outcome.ok) outcome.reply["data"] = std::string(reply);
                            return outcome;
                        }};
        });
}

}  // namespace

void AddKeyCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* key = app.add_subcommand("key", "key loading and verify codes");
    key->require_subcommand(1);
    AddVerifyCodeCommands(*key, slot);
    AddAuthCommands(app, slot);
}

}  // namespace cli
