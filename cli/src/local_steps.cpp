// The driver's local DES and triple DES, which needs no pad.
#include "hex_text.h"
#include "key_parts.h"
#include "pinpad.h"
#include "step_commands.h"

namespace cli {
namespace {

struct Des {
    bool encrypt = true;
    std::string data{}, key{};
};

void DeclareDes(CLI::App& command, Des& s) {
    command.add_option("DATA", s.data, "16, 32 or 48 hex characters")
        ->required()
        ->check(HexText({16, 32, 48}));
    AddKeyOption(command, "KEY", s.key, "16, 32 or 48 hex characters (@FILE, -)", "key")
        ->required();
}

StepOutcome RunDes(const Des& s, StepContext&) {
    char output[PINPAD_DES_RESULT_SIZE] = {};
    StepOutcome outcome;
    outcome.request = padlogic::ToUpper(s.data);
    outcome.ok = true;
    PinPad_TriUntriDes(s.data.c_str(), s.key.c_str(), output, s.encrypt ? 0 : 1);
    outcome.reply["data"] = std::string(output);
    return outcome;
}

Step BuildDes(const Des& s) {
    Step step = MakeStep(s.encrypt ? "des encrypt" : "des decrypt", RunDes, s);
    step.needsPad = false;
    return step;
}

}  // namespace

void AddLocalCommands(CLI::App& app, StepSlot& slot) {
    CLI::App* des = app.add_subcommand("des", "local DES / triple DES (ECB), no pad needed");
    des->require_subcommand(1);
    AddStepCommand(*des, slot, "encrypt",
                   "encipher 1-3 blocks under a single, double or triple key", DeclareDes, BuildDes,
                   {.encrypt = true});
    AddStepCommand(*des, slot, "decrypt",
                   "decipher 1-3 blocks under a single, double or triple key", DeclareDes, BuildDes,
                   {.encrypt = false});
}

}  // namespace cli
