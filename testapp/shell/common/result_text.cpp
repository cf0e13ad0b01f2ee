#include "result_text.h"

namespace shell {

QString FormatResultMessage(const char* format, int code) {
    char text[padlogic::kResultTextSize] = {};
    ResultCodeToText(code, text);
    return QString::fromLatin1(format).replace(QLatin1String("%s"), QString::fromLatin1(text));
}

}  // namespace shell
