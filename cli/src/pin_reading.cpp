#include "pin_reading.h"

#include "hex_text.h"
#include "pinpad.h"
#include "secrets.h"

namespace cli {
namespace {

using padlogic::PinBlockFormat;

const PinFormat kPinFormats[] = {
    {"ascii", '@', false, PinBlockFormat::kAscii, 8},
    {"iso0", ' ', true, PinBlockFormat::kIso0, 12},
    {"iso1", '!', true, PinBlockFormat::kIso1, 12},
    {"iso3", '#', true, PinBlockFormat::kIso3, 12},
    {"ibm3624", '0', false, PinBlockFormat::kIbm3624, kMaxPinLength},
};

}  // namespace

PinFormat PinFormatNamed(const std::string& name) {
    const std::string lower = CLI::detail::to_lower(name);
    for (const PinFormat& format : kPinFormats) {
        if (format.name == lower) return format;
    }
    RefuseArgument("--format", Quoted(name) + " is not a PIN block format");
}

void AddPinFormatOption(CLI::App& command, std::string& format, bool withDefault) {
    CLI::Option* option =
        command.add_option("--format", format, "ascii, iso0, iso1, iso3 or ibm3624")
            ->check(OneOf({"ascii", "iso0", "iso1", "iso3", "ibm3624"}, true));
    if (withDefault) option->capture_default_str();
}

void AddAccountOption(CLI::App& command, std::string& account) {
    command.add_option("--account", account,
                       "ISO 0/3: account number (4-20 digits); ISO 1: transcode number (10)");
}

void CheckAccount(const PinFormat& format, const std::string& account) {
    if (format.name == "iso1") {
        if (account.size() != 10 || !IsHexText(account))
            RefuseArgument("--account", "ISO 1 needs a transcode number of 10 hex characters");
    } else if (format.sendsAccount) {
        if (account.size() < 4 || account.size() > 20 ||
            account.find_first_not_of("0123456789") != std::string::npos)
            RefuseArgument("--account", "ISO 0 and 3 need an account number of 4 to 20 digits");
    }
}

void DecodePinReply(StepOutcome& outcome, const PinDecoding& decoding) {
    const std::string block = outcome.reply["pin_block"].get<std::string>();
    char clear[PINPAD_DES_RESULT_SIZE] = {};
    PinPad_TriUntriDes(block.c_str(), decoding.key.c_str(), clear, 1);
    if (clear[0] == '\0') {
        outcome.ok = false;
        outcome.message = "the reply carries no 16-character PIN block to decipher";
        return;
    }
    SetSecretField(outcome, "clear_block", clear);
    if (!decoding.format) return;
    const std::string lengthText = outcome.reply["length"].get<std::string>();
    const bool lengthKnown =
        lengthText.size() == 2 && lengthText.find_first_not_of("0123456789") == std::string::npos;
    const std::optional<std::string> pin = padlogic::DecodePinBlock(
        decoding.format->block, clear, decoding.account, lengthKnown ? std::stoi(lengthText) : 0);
    if (!pin) {
        outcome.ok = false;
        outcome.message = "the deciphered block is no " + decoding.format->name +
                          " PIN block under this key and account";
        return;
    }
    SetSecretField(outcome, "pin", *pin);
}

}  // namespace cli
