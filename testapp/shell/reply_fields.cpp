#include "reply_fields.h"

#include <cstring>

namespace shell {

QString ReplyField(const char (&reply)[kCustInfoReplySize], std::size_t offset,
                   std::size_t length) {
    if (offset >= kCustInfoReplySize) return QString();
    const std::size_t available = std::min(length, kCustInfoReplySize - offset);
    const char* begin = reply + offset;
    const void* nul = std::memchr(begin, '\0', available);
    const std::size_t size = nul ? static_cast<const char*>(nul) - begin : available;
    return QString::fromLatin1(begin, static_cast<qsizetype>(size));
}

}  // namespace shell
