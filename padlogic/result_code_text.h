// The operator texts for the driver's nonzero result codes and for the reasons behind them,
// shared by the test program and the command-line tool.
#pragma once

#include <cstddef>

namespace padlogic {

// The buffer a result text is copied into: every text with its NUL fits.
inline constexpr std::size_t kResultTextSize = 100;

// Copies the text for `code` (with its NUL) into `buffer`, which holds at least kResultTextSize
// bytes, and returns `buffer`. Values without a text of their own give "Other error".
char* ResultCodeToText(int code, char* buffer);

// What the operator is told of why a call failed, for a LUMENORD_FAILURE_ reason as
// Lumenord_LastFailure gives it: "no reply from the pad", "the line hung up; is the pad
// unplugged?", ... "" for LUMENORD_FAILURE_NONE; "an unknown fault" for a reason this program
// does not know (a newer driver's).
const char* FailureReasonText(int reason);

}  // namespace padlogic
