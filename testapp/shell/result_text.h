// The operator texts for the driver's nonzero result codes.
#pragma once

#include <QString>

namespace shell {

// Copies the text for `code` (with its NUL) into `buffer`, which holds at least 100 bytes, and
// returns `buffer`. Values without a text of their own give "Other error".
char* ResultCodeToText(int code, char* buffer);

// `format` with the text for `code` put in place of its "%s" (a 128-byte result buffer).
QString FormatResultMessage(const char* format, int code);

}  // namespace shell
