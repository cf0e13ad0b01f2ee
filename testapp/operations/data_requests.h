// Widget-free pieces of the MAC and data cipher requests: key index texts, hexadecimal data, the
// MAC type codes and the cipher mode characters.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace operations {

// The value of a key index text as the pad's "%02X" reading takes it: at most the first two
// hexadecimal digits after leading blanks; 0 when the text starts with none.
int ParseKeyIndex(const QString& text);
// PIN, MAC and data keys live at 30 to 7F.
bool IsWorkingKeyIndex(int value);

// The text without blanks, tabs and line breaks, so data typed or pasted over several lines
// reaches the pad as one run of digits.
QString WithoutBlanks(const QString& text);
bool IsHexText(const QString& text);
// Each pair of hexadecimal characters as one byte; nullopt for an odd length or a non-hex digit.
std::optional<QByteArray> HexToBytes(const QString& text);

// MAC type code for the index of the "MAC type" list: PBOC '1', ANSI X9.9 '2', ANSI X9.19 '3',
// ISO 16609 'A'; '0' when no entry is selected.
char MacTypeCode(int index);
// Key index text, type code, then the message as raw bytes (0x00, 0x02 and 0x03 included): the
// length of the result, not a terminator, tells the driver where the message ends.
QByteArray MacRequest(const QByteArray& keyIndex, char typeCode, const QByteArray& message);

// Mode character for the index of the "arithmetic type" list (ECB 0, CBC 1): encryption '1' and
// '2', decryption 'A' and 'B'; no entry selected gives '0' and '@'.
char CipherModeCharacter(int index, bool decrypt);
// Key index text, mode character and the data as hexadecimal text.
QByteArray CipherRequest(const QByteArray& keyIndex, char mode, const QByteArray& hexData);

}  // namespace operations
