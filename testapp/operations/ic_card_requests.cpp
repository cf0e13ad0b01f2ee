#include "ic_card_requests.h"

#include "hex_digits.h"

namespace operations {
namespace {

constexpr int kStatusWordLength = 4;

AccessText Refusal(const char* message, AccessText::Field field) {
    AccessText access;
    access.refusal = QLatin1String(message);
    access.field = field;
    return access;
}

}  // namespace

std::optional<int> ControlActionCode(const QString& text) {
    if (text == QLatin1String("PowerOn")) return 1;
    if (text == QLatin1String("GetStatus")) return 2;
    if (text == QLatin1String("PowerDown")) return 3;
    return std::nullopt;
}

QString ControlText(int socket, int action) {
    return QString::number(socket) + QLatin1String(kCpuCardCode) + QString::number(action);
}

std::optional<int> ParseApduLength(const QString& text) {
    if (text.isEmpty()) return 0;
    if (text.size() > 2) return std::nullopt;
    for (const QChar c : text) {
        if (!IsHexDigit(c)) return std::nullopt;
    }
    return text.toInt(nullptr, 16);
}

AccessText BuildAccessText(int socket, const ApduFields& fields) {
    using Field = AccessText::Field;
    const std::optional<int> le = ParseApduLength(fields.le);
    if (!le) return Refusal("LC Or LE Data Error", Field::kLe);
    const std::optional<int> lc = ParseApduLength(fields.lc);
    if (!lc) return Refusal("LC Or LE Data Error", Field::kLc);

    AccessText access;
    access.text = QString::number(socket) + fields.cla + fields.ins + fields.p1 + fields.p2;
    if (*lc != 0) {
        if (fields.data.size() != 2 * *lc) return Refusal("APDU Data Length Error", Field::kData);
        access.text += fields.lc + fields.data;
    } else if (*le == 0) {
        return Refusal("LC Or LE Data Error", Field::kLc);
    }
    if (*le != 0) access.text += fields.le;
    return access;
}

CardResponse SplitAccessReply(const QString& reply) {
    if (reply.size() < kStatusWordLength) return {reply, QString()};
    return {reply.left(reply.size() - kStatusWordLength), reply.right(kStatusWordLength)};
}

}  // namespace operations
