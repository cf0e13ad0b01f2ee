#include "display_request.h"

#include "hex_digits.h"

namespace operations {
namespace {

// Pairs of hex digits as bytes; `digits` holds an even number of hex digits only.
QByteArray HexDigitsToBytes(const QString& digits) {
    return QByteArray::fromHex(digits.toLatin1());
}

DisplayRequest Refusal(const char* message, DisplayRequest::Field field, DisplayMode mode) {
    DisplayRequest request;
    request.refusal = QLatin1String(message);
    request.field = field;
    request.mode = mode;
    return request;
}

}  // namespace

DisplayMode DisplayModeOf(int modeByte) {
    if (modeByte == 0x30) return DisplayMode::kOriginal;
    if (modeByte == 0x31 || modeByte == 0x32) return DisplayMode::kCode;
    if (modeByte >= 0x40 && modeByte <= 0x7F) return DisplayMode::kDecryption;
    return DisplayMode::kUnknown;
}

std::optional<int> ModeBytePrefix(const QString& modeText) {
    int value = 0;
    int count = 0;
    for (const QChar c : modeText.left(2)) {
        if (!IsHexDigit(c)) break;
        value = value * 16 + QString(c).toInt(nullptr, 16);
        ++count;
    }
    if (count == 0) return std::nullopt;
    return value;
}

DisplayRequest BuildDisplayRequest(const QString& modeText, const QString& memoText,
                                   const QString& codeText) {
    using Field = DisplayRequest::Field;
    const QString modeDigits = KeepHexDigits(modeText);
    if (modeDigits.isEmpty() || modeDigits.size() % 2 != 0) {
        return Refusal("Invalid Prefill value", Field::kMode, DisplayMode::kUnknown);
    }
    const auto modeByte = static_cast<unsigned char>(HexDigitsToBytes(modeDigits).at(0));
    const DisplayMode mode = DisplayModeOf(modeByte);

    DisplayRequest request;
    request.mode = mode;
    request.bytes.append(static_cast<char>(modeByte));
    switch (mode) {
        case DisplayMode::kOriginal: {
            const QString digits = KeepHexDigits(memoText);
            if (digits.size() % 2 != 0 || digits.size() / 2 > kDisplayDataLimit) {
                return Refusal("Invalid data", Field::kData, mode);
            }
            request.bytes.append(HexDigitsToBytes(digits));
            break;
        }
        case DisplayMode::kCode: {
            const QString digits = KeepHexDigits(codeText);
            if (digits.isEmpty() || digits.size() % 2 != 0) {
                return Refusal("Invalid Prefill value", Field::kCode, mode);
            }
            request.bytes.append(HexDigitsToBytes(digits).at(0));
            break;
        }
        case DisplayMode::kDecryption: {
            if (memoText.size() > kCipherTextLimit) {
                return Refusal("ciphertext's length exceed", Field::kData, mode);
            }
            const QString digits = KeepHexDigits(memoText);
            if (digits.size() % kCipherBlock != 0) {
                return Refusal("Invalid data", Field::kData, mode);
            }
            // The pad takes the cipher text as hex characters, not as bytes.
            request.bytes.append(digits.toLatin1());
            break;
        }
        case DisplayMode::kUnknown:
            return Refusal("Invalid Code", Field::kMode, mode);
    }
    return request;
}

}  // namespace operations
