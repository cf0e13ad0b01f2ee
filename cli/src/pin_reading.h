// PIN block formats as the pad names them, the account that goes with them, and the local
// deciphering and decoding of a PIN block read from the pad.
#pragma once

#include <optional>
#include <string>

#include "pin_block.h"
#include "step_support.h"

namespace cli {

struct PinFormat {
    std::string name;    // "iso0", ...
    char typeCharacter;  // what the request carries: '@', ' ', '!', '#', '0'
    bool sendsAccount;   // ISO formats 0, 1 and 3 carry an account or transcode number
    padlogic::PinBlockFormat block;
    int maxPinLength;  // the most digits the pad takes for a PIN in this format
};

// The most digits the pad takes for a PIN in any format.
inline constexpr int kMaxPinLength = 16;

// The format of a name checked by AddPinFormatOption.
PinFormat PinFormatNamed(const std::string& name);
void AddPinFormatOption(CLI::App& command, std::string& format, bool withDefault);
void AddAccountOption(CLI::App& command, std::string& account);
// Refuses an account that the format cannot take: 4 to 20 digits for ISO 0 and 3, a transcode
// number of 10 hex characters for ISO 1.
void CheckAccount(const PinFormat& format, const std::string& account);

struct PinDecoding {
    std::string key;  // the PIN key in clear
    std::optional<PinFormat> format;
    std::string account;
};

// Deciphers the reply's "pin_block" under the key into "clear_block" and, when the format is
// known, decodes it into "pin"; both masked, their values among the step's secrets. A block that
// does not decode fails the step.
void DecodePinReply(StepOutcome& outcome, const PinDecoding& decoding);

}  // namespace cli
