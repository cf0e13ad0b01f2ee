// What the run does with the step that an interrupt signal cut short: the signal handler has
// cancelled the driver's waits, so the step ended at once; here it is marked interrupted, and
// an input mode it may have left open on the pad is closed.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "step.h"

namespace cli {

// How long closing the pad's input may take after an interrupt.
inline constexpr std::chrono::milliseconds kInputCloseLimit{1000};

// Whether `operation` may leave the pad in an input mode (PIN entry, key entry, clear-text
// keypad, a PIN read that waits for the entry) when it is cut short.
bool MayLeaveInputOpen(const std::string& operation);

// A step cut short by the interrupt fails with "interrupted"; when it may have left an input
// mode open, control code "032" closes it, given at most `closeLimit`. A step that had already
// succeeded stays as it is.
void SettleInterruptedStep(const Step& step, StepOutcome& outcome,
                           std::chrono::milliseconds closeLimit = kInputCloseLimit);

// Runs `call` (driver calls) with the driver's cancel lowered, raising it again after `limit` at
// the latest so that it cannot hold the tool; the cancel is raised again when it returns. What
// `call` returned.
int CallAfterInterrupt(std::chrono::milliseconds limit, const std::function<int()>& call);

// Sends "032" through CallAfterInterrupt. The driver's result.
int CloseInputAfterInterrupt(std::chrono::milliseconds limit);

}  // namespace cli
