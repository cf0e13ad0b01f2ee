#include "reply_fields.h"

namespace shell {

QString ReplyField(const char (&reply)[kCustInfoReplySize], std::size_t offset,
                   std::size_t length) {
    const std::string field = padlogic::InfoAreaField(reply, offset, length);
    return QString::fromLatin1(field.data(), static_cast<qsizetype>(field.size()));
}

}  // namespace shell
