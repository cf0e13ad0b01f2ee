// The pad's 256-byte information area: where each text field sits, and how one is read out.
#pragma once

#include <pinpad.h>

#include <cstddef>
#include <string>

namespace padlogic {

inline constexpr std::size_t kInfoAreaSize = PINPAD_CUST_INFO_SIZE;

enum class InfoField {
    Remark,
    ProductType,
    HardwareVersion,
    SoftwareVersion,
    Date,
    ProductNo,
    CustomerInfo,
    MainKeys,
    LeftKey,
    RightKey,
};

struct InfoRange {
    InfoField field;
    std::size_t offset;
    std::size_t length;
};

// Identification of the pad.
inline constexpr InfoRange kRemarkRange{InfoField::Remark, 118, 8};
inline constexpr InfoRange kProductTypeRange{InfoField::ProductType, 126, 6};
inline constexpr InfoRange kHardwareVersionRange{InfoField::HardwareVersion, 132, 3};
inline constexpr InfoRange kSoftwareVersionRange{InfoField::SoftwareVersion, 135, 3};
inline constexpr InfoRange kDateRange{InfoField::Date, 138, 4};
inline constexpr InfoRange kProductNoRange{InfoField::ProductNo, 142, 4};
inline constexpr InfoRange kVersionRanges[] = {
    kRemarkRange,          kProductTypeRange, kHardwareVersionRange,
    kSoftwareVersionRange, kDateRange,        kProductNoRange};

// Customer information and the codes the pad's keys report.
inline constexpr InfoRange kCustomerInfoRange{InfoField::CustomerInfo, 0, 50};
inline constexpr InfoRange kMainKeyRange{InfoField::MainKeys, 50, 32};
inline constexpr InfoRange kLeftKeyRange{InfoField::LeftKey, 82, 8};
inline constexpr InfoRange kRightKeyRange{InfoField::RightKey, 90, 8};
inline constexpr InfoRange kCustomerRanges[] = {kCustomerInfoRange, kMainKeyRange, kLeftKeyRange,
                                                kRightKeyRange};

// The characters of [offset, offset + length) up to the first NUL in that range; the part of the
// range past the end of the area is not read.
std::string InfoAreaField(const char (&area)[kInfoAreaSize], std::size_t offset,
                          std::size_t length);

inline std::string InfoAreaField(const char (&area)[kInfoAreaSize], InfoRange range) {
    return InfoAreaField(area, range.offset, range.length);
}

}  // namespace padlogic
