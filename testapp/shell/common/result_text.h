// The operator texts for the driver's nonzero result codes, and failure messages embedding them.
#pragma once

#include <QString>

#include "result_code_text.h"

namespace shell {

using padlogic::ResultCodeToText;

// `format` with the text for `code` put in place of its "%s".
QString FormatResultMessage(const char* format, int code);

}  // namespace shell
