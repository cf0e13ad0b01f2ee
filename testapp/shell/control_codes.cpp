#include "control_codes.h"

namespace shell {
namespace {

QString Hex2(int value) {
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

void AppendHexRange(QStringList& list, int first, int last) {
    for (int value = first; value <= last; ++value) list << Hex2(value);
}

void AppendDecimalRange(QStringList& list, int first, int last) {
    for (int value = first; value <= last; ++value) {
        list << QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
    }
}

QStringList HexRange(int first, int last) {
    QStringList list;
    AppendHexRange(list, first, last);
    return list;
}

QStringList KeyLockValues() {
    QStringList list{QStringLiteral("08"), QStringLiteral("0D"), QStringLiteral("1B"),
                     QStringLiteral("2A"), QStringLiteral("2E")};
    AppendHexRange(list, 0x30, 0x39);
    AppendHexRange(list, 0x41, 0x48);
    return list;
}

QStringList PinLengthValues() {
    QStringList list;
    AppendDecimalRange(list, 0, 16);
    return list;
}

QStringList SerialParameterValues() {
    QStringList list = HexRange(0x30, 0x37);
    AppendHexRange(list, 0x41, 0x48);
    return list;
}

}  // namespace

ControlCodeInfo ControlCodeInfoFor(int code) {
    switch (code) {
        case 0:
            return {"control code initializatio value", "30", HexRange(0x30, 0x3F)};
        case 1:
            return {"short key board failure /restore", "30", KeyLockValues()};
        case 2:
            return {"Overtime then input PIN(second)", "20", HexRange(0x01, 0xFF)};
        case 3:
            return {"PIN fill code", "20", HexRange(0x00, 0xFF)};
        case 4:
            return {"PIN minimum length", "06", PinLengthValues()};
        case 5:
            return {"PIN maximum length", "06", PinLengthValues()};
        case 6:
            return {"set communication parameter", "30", SerialParameterValues()};
        case 7:
            return {"Voice prompt", "30", HexRange(0x30, 0x32)};
        case 8:
            return {"buzzer timing 1% secs.", "20", HexRange(0x00, 0xFF)};
        case 9:
            return {"protection code in information area", "30", HexRange(0x30, 0x38)};
        case 10:
            return {"Key-press timing(secs.)", "10", HexRange(0x10, 0x1F)};
        case 11:
            return {"Press 'CLEAR' manage", "20", HexRange(0x20, 0x22)};
        default:
            return {};
    }
}

std::optional<int> ParseControlCode(const QString& text) {
    bool ok = false;
    const int code = text.trimmed().toInt(&ok, 16);
    if (!ok || code < 0 || code >= kControlCodeCount) return std::nullopt;
    return code;
}

std::optional<ControlCodeCommand> BuildControlCodeCommand(int position, const QString& valueText,
                                                          bool invalidateKeys) {
    if (position < 0 || position >= kControlCodeCount || valueText.size() != 2) {
        return std::nullopt;
    }
    bool ok = false;
    int value = valueText.toInt(&ok, 16);
    // toInt accepts a sign or blanks; a control value is exactly two hex digits.
    const auto isHexDigit = [](QChar c) {
        return QStringLiteral("0123456789abcdefABCDEF").contains(c);
    };
    if (!ok || !isHexDigit(valueText[0]) || !isHexDigit(valueText[1])) return std::nullopt;
    if (position == kKeyLockCode && invalidateKeys) value = (value + 0x80) & 0xFF;
    const QString codeChar = position < 10 ? QString::number(position)
                                           : QString(QLatin1Char(position == 10 ? 'A' : 'B'));
    return ControlCodeCommand{codeChar + Hex2(value), value};
}

}  // namespace shell
