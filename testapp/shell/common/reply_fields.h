// Slicing text fields out of the pad's 256-byte information area reply.
#pragma once

#include <QString>
#include <cstddef>

#include "info_area.h"

namespace shell {

inline constexpr std::size_t kCustInfoReplySize = padlogic::kInfoAreaSize;

// The characters of [offset, offset + length) up to the first NUL in that range.
QString ReplyField(const char (&reply)[kCustInfoReplySize], std::size_t offset, std::size_t length);

using ReplyRange = padlogic::InfoRange;

// Version fields of the "Ver information" page.
using padlogic::kDateRange;
using padlogic::kHardwareVersionRange;
using padlogic::kProductNoRange;
using padlogic::kProductTypeRange;
using padlogic::kRemarkRange;
using padlogic::kSoftwareVersionRange;

// Customer information and key codes of the "keypad parameter" page.
using padlogic::kCustomerInfoRange;
using padlogic::kLeftKeyRange;
using padlogic::kMainKeyRange;
using padlogic::kRightKeyRange;

inline QString ReplyField(const char (&reply)[kCustInfoReplySize], ReplyRange range) {
    return ReplyField(reply, range.offset, range.length);
}

}  // namespace shell
