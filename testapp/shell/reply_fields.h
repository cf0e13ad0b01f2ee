// Slicing text fields out of the pad's 256-byte information area reply.
#pragma once

#include <QString>
#include <cstddef>

namespace shell {

inline constexpr std::size_t kCustInfoReplySize = 256;

// The characters of [offset, offset + length) up to the first NUL in that range.
QString ReplyField(const char (&reply)[kCustInfoReplySize], std::size_t offset, std::size_t length);

struct ReplyRange {
    std::size_t offset;
    std::size_t length;
};

// Version fields of the "Ver information" page.
inline constexpr ReplyRange kRemarkRange{118, 8};
inline constexpr ReplyRange kProductTypeRange{126, 6};
inline constexpr ReplyRange kHardwareVersionRange{132, 3};
inline constexpr ReplyRange kSoftwareVersionRange{135, 3};
inline constexpr ReplyRange kDateRange{138, 4};
inline constexpr ReplyRange kProductNoRange{142, 4};

// Customer information and key codes of the "keypad parameter" page.
inline constexpr ReplyRange kCustomerInfoRange{0, 50};
inline constexpr ReplyRange kMainKeyRange{50, 32};
inline constexpr ReplyRange kLeftKeyRange{82, 8};
inline constexpr ReplyRange kRightKeyRange{90, 8};

inline QString ReplyField(const char (&reply)[kCustInfoReplySize], ReplyRange range) {
    return ReplyField(reply, range.offset, range.length);
}

}  // namespace shell
