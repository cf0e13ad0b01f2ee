// The pad display's request: the mode table, the hex-digit filter of the "cleartext" page and the
// bytes handed to PinPad_DispInfoLcd.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace operations {

enum class DisplayMode {
    kOriginal,    // 0x30: the data bytes as the pad's text
    kCode,        // 0x31, 0x32: one prompt code
    kDecryption,  // 0x40 - 0x7F: hex cipher text deciphered by the pad under the key of that index
    kUnknown,
};

DisplayMode DisplayModeOf(int modeByte);

// The mode byte that a mode change reads: the leading hex digits among the first two characters
// of the mode box. Nothing when the box does not start with a hex digit.
std::optional<int> ModeBytePrefix(const QString& modeText);

// The cipher text of the decryption modes: at most this many characters, in blocks of 16.
inline constexpr int kCipherTextLimit = 64;
inline constexpr int kCipherBlock = 16;
// The request buffer holds the mode byte and at most this many data bytes.
inline constexpr int kDisplayDataLimit = 255;

struct DisplayRequest {
    enum class Field { kNone, kMode, kData, kCode };
    QByteArray bytes;  // mode byte and data; its size is the length passed
    QString refusal;   // the status message when nothing may be sent
    Field field = Field::kNone;
    DisplayMode mode = DisplayMode::kUnknown;
};

// Builds the request from the mode box, the data memo and the code box, or the refusal with the
// field at fault.
DisplayRequest BuildDisplayRequest(const QString& modeText, const QString& memoText,
                                   const QString& codeText);

}  // namespace operations
