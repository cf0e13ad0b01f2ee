#include "result_text.h"

#include <cstddef>

namespace shell {
namespace {

// The buffer a result code's text is copied into; every text with its NUL takes under 100 bytes.
constexpr std::size_t kResultTextSize = 128;

}  // namespace

QString FormatResultMessage(const char* format, int code) {
    char text[kResultTextSize] = {};
    ResultCodeToText(code, text);
    return QString::fromLatin1(format).replace(QLatin1String("%s"), QString::fromLatin1(text));
}

}  // namespace shell
