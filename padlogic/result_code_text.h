// The operator texts for the driver's nonzero result codes, shared by the test program and the
// command-line tool.
#pragma once

namespace padlogic {

// Copies the text for `code` (with its NUL) into `buffer`, which holds at least 100 bytes, and
// returns `buffer`. Values without a text of their own give "Other error".
char* ResultCodeToText(int code, char* buffer);

}  // namespace padlogic
