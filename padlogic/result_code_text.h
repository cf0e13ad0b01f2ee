// The operator texts for the driver's nonzero result codes, shared by the test program and the
// command-line tool.
#pragma once

#include <cstddef>

namespace padlogic {

// The buffer a result text is copied into: every text with its NUL fits.
inline constexpr std::size_t kResultTextSize = 100;

// Copies the text for `code` (with its NUL) into `buffer`, which holds at least kResultTextSize
// bytes, and returns `buffer`. Values without a text of their own give "Other error".
char* ResultCodeToText(int code, char* buffer);

}  // namespace padlogic
