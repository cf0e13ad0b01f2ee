// Widget-free pieces of PIN entry and PIN renew/verify: the PIN types, the request texts, the
// reply fields and the PIN digits read back from a clear block.
#pragma once

#include <pin_block.h>
#include <pinpad.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace operations {

// Items of the "Pin type" list, in list order.
QStringList PinTypeItems();
// Character sent for the PIN type at `index` of that list.
char PinTypeCode(int index);
padlogic::PinBlockFormat PinBlockFormatOf(int index);
// Items of the "PIN length(DEC)" list for the PIN type at `index`: "00" up to the longest PIN
// its block carries (8 ASCII, 12 ISO, 16 IBM 3624).
QStringList PinLengthItems(int index);
// Longest account text for the type at `index` (10 for the ISO 9564-1 transcode), 0 for the
// types that send none.
int AccountLimit(int index);

// The key, block format and account that a PIN block is enciphered with.
struct PinTarget {
    QByteArray keyIndex;  // as typed
    int typeIndex = 1;
    QByteArray account;  // what the type sends; empty for ASCII and IBM 3624
};

// The validation message for `account` with the PIN type at `index`, or nullptr when it suits:
// ISO 9564-0 and -3 take 4 to 20 characters, ISO 9564-1 exactly 10; the others send none.
const char* AccountRefusal(int index, const QByteArray& account);
// `target` with the account part its type sends.
PinTarget MakePinTarget(const QByteArray& keyIndex, int typeIndex, const QByteArray& account);

// "startup PIN1": key index, type character, sound, length and the account part.
QByteArray FullPinStartText(const PinTarget& target, const QByteArray& sound,
                            const QByteArray& length);
// "startup PIN2": the first character of sound, the first two of length, the first of the enter
// code and of the clear code.
QByteArray ShortPinStartText(const QString& sound, const QString& length, const QString& crCode,
                             const QString& clearCode);
// "Read ciphertext" after "startup PIN2": key index, type character and the account part.
QByteArray PinReadText(const PinTarget& target);
// PIN renew ('a') or verify ('b'): key index, mode letter, validation data, decimalisation table
// and, for a verify, the PIN offset to check.
QByteArray RenewVerifyRequest(const QByteArray& keyIndex, char mode, const QByteArray& validation,
                              const QByteArray& table, const QByteArray& offset);

// Leading decimal digits of `text` as a number (0 when it starts with none), as the PIN length
// and the clear code are read.
int LeadingNumber(const QString& text);

// The PIN value reply cut by position; a short reply leaves the missing part of a field empty.
struct PinReplyFields {
    QString track;   // characters 1-2
    QString length;  // characters 3-4
    QString block;   // characters 5-20, the enciphered PIN block
    QString rest;    // characters 5 to the end (renew and verify)
};
inline constexpr std::size_t kPinReplySize = PINPAD_PIN_VALUE_SIZE;
PinReplyFields SplitPinReply(const char (&reply)[kPinReplySize]);

// The PIN digits of the clear block `clearBlock` built for `target`; "" when the block does not
// follow its type's layout. `reportedLength` is the reply's PIN length field.
QString DecodedPinDigits(const PinTarget& target, const QString& clearBlock,
                         const QString& reportedLength);

}  // namespace operations
