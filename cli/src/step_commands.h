// The subcommands that become steps, by family. Each adds its subcommands to `app`; the one
// that is parsed leaves its step in `slot`.
#pragma once

#include "step_support.h"

namespace cli {

void AddDeviceCommands(CLI::App& app, StepSlot& slot);  // information, keypad, display, card
void AddKeyCommands(CLI::App& app, StepSlot& slot);     // key loading, verify codes, authentication
void AddPinCommands(CLI::App& app, StepSlot& slot);     // PIN entry, renew/verify, MAC, data
void AddLocalCommands(CLI::App& app, StepSlot& slot);   // local DES
void AddPortCommands(CLI::App& app, StepSlot& slot);    // serial devices present

inline void AddStepCommands(CLI::App& app, StepSlot& slot) {
    AddDeviceCommands(app, slot);
    AddKeyCommands(app, slot);
    AddPinCommands(app, slot);
    AddLocalCommands(app, slot);
    AddPortCommands(app, slot);
}

}  // namespace cli
