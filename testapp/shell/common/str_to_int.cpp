#include "str_to_int.h"

#include <limits>

namespace shell {

int StrToInt(const QString& text) {
    const auto fail = [&text]() {
        return ConversionError("'" + text.toStdString() + "' is not a valid integer value");
    };
    qsizetype pos = 0;
    while (pos < text.size() && text[pos] == QLatin1Char(' ')) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == QLatin1Char('-') || text[pos] == QLatin1Char('+'))) {
        negative = text[pos] == QLatin1Char('-');
        ++pos;
    }
    if (pos >= text.size()) throw fail();
    long long value = 0;
    for (; pos < text.size(); ++pos) {
        const QChar c = text[pos];
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) throw fail();
        value = value * 10 + (c.unicode() - '0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) throw fail();
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) {
        throw fail();
    }
    return static_cast<int>(value);
}

}  // namespace shell
