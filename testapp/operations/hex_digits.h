// Hexadecimal digits in operator texts.
#pragma once

#include <QChar>
#include <QString>

namespace operations {

inline bool IsHexDigit(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

// The characters 0-9, A-F, a-f of `text`, in their order; everything else is skipped.
inline QString KeepHexDigits(const QString& text) {
    QString digits;
    digits.reserve(text.size());
    for (const QChar c : text) {
        if (IsHexDigit(c)) digits += c;
    }
    return digits;
}

}  // namespace operations
