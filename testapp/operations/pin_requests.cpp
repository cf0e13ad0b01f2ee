#include "pin_requests.h"

#include "reply_fields.h"

namespace operations {
namespace {

struct PinTypeInfo {
    const char* item;
    char code;
    padlogic::PinBlockFormat format;
    int longestPin;
    int accountLimit;
};

constexpr PinTypeInfo kPinTypes[] = {
    {"ASCII", '@', padlogic::PinBlockFormat::kAscii, 8, 0},
    {"ISO9564_0", ' ', padlogic::PinBlockFormat::kIso0, 12, 20},
    {"ISO9564_1", '!', padlogic::PinBlockFormat::kIso1, 12, 10},
    {"ISO9564_3", '#', padlogic::PinBlockFormat::kIso3, 12, 20},
    {"IBM3624", '0', padlogic::PinBlockFormat::kIbm3624, 16, 0},
};
constexpr int kPinTypeCount = sizeof kPinTypes / sizeof kPinTypes[0];
constexpr int kIso1 = 2;

const PinTypeInfo* TypeAt(int index) {
    return index >= 0 && index < kPinTypeCount ? &kPinTypes[index] : nullptr;
}

QByteArray FirstCharacters(const QString& text, qsizetype count) {
    return text.left(count).toLatin1();
}

}  // namespace

QStringList PinTypeItems() {
    QStringList items;
    for (const PinTypeInfo& type : kPinTypes) items << type.item;
    return items;
}

char PinTypeCode(int index) { return TypeAt(index) ? TypeAt(index)->code : '\0'; }

padlogic::PinBlockFormat PinBlockFormatOf(int index) {
    return TypeAt(index) ? TypeAt(index)->format : padlogic::PinBlockFormat::kIso0;
}

QStringList PinLengthItems(int index) {
    QStringList items;
    const int longest = TypeAt(index) ? TypeAt(index)->longestPin : 0;
    for (int length = 0; length <= longest; ++length) {
        items << QStringLiteral("%1").arg(length, 2, 10, QLatin1Char('0'));
    }
    return items;
}

int AccountLimit(int index) { return TypeAt(index) ? TypeAt(index)->accountLimit : 0; }

const char* AccountRefusal(int index, const QByteArray& account) {
    if (index == kIso1) return account.size() == 10 ? nullptr : "transcode no.length must be 10";
    if (AccountLimit(index) == 0) return nullptr;
    return account.size() >= 4 && account.size() <= 20 ? nullptr : "account length range(04-20)";
}

PinTarget MakePinTarget(const QByteArray& keyIndex, int typeIndex, const QByteArray& account) {
    return {keyIndex, typeIndex, AccountLimit(typeIndex) > 0 ? account : QByteArray()};
}

QByteArray FullPinStartText(const PinTarget& target, const QByteArray& sound,
                            const QByteArray& length) {
    return target.keyIndex + PinTypeCode(target.typeIndex) + sound + length + target.account;
}

QByteArray ShortPinStartText(const QString& sound, const QString& length, const QString& crCode,
                             const QString& clearCode) {
    return FirstCharacters(sound, 1) + FirstCharacters(length, 2) + FirstCharacters(crCode, 1) +
           FirstCharacters(clearCode, 1);
}

QByteArray PinReadText(const PinTarget& target) {
    return target.keyIndex + PinTypeCode(target.typeIndex) + target.account;
}

QByteArray RenewVerifyRequest(const QByteArray& keyIndex, char mode, const QByteArray& validation,
                              const QByteArray& table, const QByteArray& offset) {
    return keyIndex + mode + validation + table + offset;
}

int LeadingNumber(const QString& text) {
    int value = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9') || value > 9999) break;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

static_assert(kPinReplySize == shell::kCustInfoReplySize, "the reply fields share one slicer");

PinReplyFields SplitPinReply(const char (&reply)[kPinReplySize]) {
    return {shell::ReplyField(reply, 0, 2), shell::ReplyField(reply, 2, 2),
            shell::ReplyField(reply, 4, 16), shell::ReplyField(reply, 4, kPinReplySize)};
}

QString DecodedPinDigits(const PinTarget& target, const QString& clearBlock,
                         const QString& reportedLength) {
    if (!TypeAt(target.typeIndex)) return QString();
    const std::optional<std::string> digits =
        padlogic::DecodePinBlock(PinBlockFormatOf(target.typeIndex), clearBlock.toStdString(),
                                 target.account.toStdString(), LeadingNumber(reportedLength));
    return digits ? QString::fromStdString(*digits) : QString();
}

}  // namespace operations
