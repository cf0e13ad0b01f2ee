#include "data_requests.h"

namespace operations {
namespace {

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    return -1;
}

}  // namespace

int ParseKeyIndex(const QString& text) {
    qsizetype at = 0;
    while (at < text.size() && text[at].isSpace()) ++at;
    int value = 0;
    for (int digits = 0; digits < 2 && at < text.size(); ++digits, ++at) {
        const int digit = HexDigit(text[at]);
        if (digit < 0) break;
        value = value * 16 + digit;
    }
    return value;
}

bool IsWorkingKeyIndex(int value) { return value >= 0x30 && value <= 0x7F; }

QString WithoutBlanks(const QString& text) {
    QString out;
    for (QChar c : text) {
        if (!c.isSpace()) out += c;
    }
    return out;
}

bool IsHexText(const QString& text) {
    for (QChar c : text) {
        if (HexDigit(c) < 0) return false;
    }
    return true;
}

std::optional<QByteArray> HexToBytes(const QString& text) {
    if (text.size() % 2 != 0 || !IsHexText(text)) return std::nullopt;
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); i += 2) {
        bytes += static_cast<char>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1]));
    }
    return bytes;
}

char MacTypeCode(int index) {
    if (index >= 0 && index <= 2) return static_cast<char>('1' + index);
    return index == 3 ? 'A' : '0';
}

QByteArray MacRequest(const QByteArray& keyIndex, char typeCode, const QByteArray& message) {
    return keyIndex + typeCode + message;
}

char CipherModeCharacter(int index, bool decrypt) {
    return static_cast<char>(decrypt ? 'A' + index : '1' + index);
}

QByteArray CipherRequest(const QByteArray& keyIndex, char mode, const QByteArray& hexData) {
    return keyIndex + mode + hexData;
}

}  // namespace operations
