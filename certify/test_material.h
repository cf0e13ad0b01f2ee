// The certification's own test material: published test keys of this project (the acceptance
// run's parts and keys) and fixed texts. Everything the pad must answer is computed from these
// on the host.
#pragma once

#include <string_view>

namespace certify {

// The three custodians' parts of examples/acceptance.lumenord, double length.
inline constexpr std::string_view kPart1 = "0123456789ABCDEFFEDCBA9876543210";
inline constexpr std::string_view kPart2 = "1F2E3D4C5B6A79880897A6B5C4D3E2F1";
inline constexpr std::string_view kPart3 = "00112233445566778899AABBCCDDEEFF";
inline constexpr std::string_view kSinglePart = kPart1;
// Single-length parts: the interleave (code 32) and the concatenation (code 33).
inline constexpr std::string_view kHalfPart1 = "0123456789ABCDEF";
inline constexpr std::string_view kHalfPart2 = "FEDCBA9876543210";
inline constexpr std::string_view kHalfPart3 = "89ABCDEF01234567";
// What a person types on the pad for each of the codes 41-43.
inline constexpr std::string_view kTypedPart = "1234567890ABCDEF";

// Keys loaded in cipher text; each gets odd parity before it is enciphered.
inline constexpr std::string_view kTerminalKey = "2A3B4C5D6E7F80911A2B3C4D5E6F7081";
inline constexpr std::string_view kPinKey = "4C5D6E7F8091A2B3C4D5E6F708192A3B";
inline constexpr std::string_view kMacKey = "6E7F8091A2B3C4D5E6F708192A3B4C5D";
inline constexpr std::string_view kDataKey = "8091A2B3C4D5E6F708192A3B4C5D6E7F";
inline constexpr std::string_view kDisplayKey = "A2B3C4D5E6F708192A3B4C5D6E7F8091";
inline constexpr std::string_view kAuthenticationData = "00112233445566778899AABBCCDDEEFF";

inline constexpr std::string_view kAccount = "4000001234567899";
inline constexpr std::string_view kTranscode = "1234567890";
inline constexpr std::string_view kMacMessage = "Lumenord certification";  // not whole blocks
inline constexpr std::string_view kClearData = "0123456789ABCDEFFEDCBA9876543210";
inline constexpr std::string_view kDisplayText = "LUMENORD TEST";
inline constexpr std::string_view kDisplayBlock = "54455354204F4B00";  // "TEST OK"
inline constexpr std::string_view kSelectMasterFile = "00A40000023F00";

inline constexpr std::string_view kLongCustomerInfo =
    "CERTIFICATION TEST 0123456789 ABCDEFGHIJKLMNOPQRST";
static_assert(kLongCustomerInfo.size() == 50);
inline constexpr std::string_view kKeyboardValues =
    "303132333435363738392A2B2C2D2E2F4142434445464748";
static_assert(kKeyboardValues.size() == 48);

}  // namespace certify
