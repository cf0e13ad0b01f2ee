// The keys of examples/acceptance.lumenord, in clear, as the tool's tests check them.
#pragma once

#include <string>

#include "reference_crypto.h"

namespace cli::test {

inline const std::string kPart1 = "0123456789ABCDEFFEDCBA9876543210";
inline const std::string kPart2 = "1F2E3D4C5B6A79880897A6B5C4D3E2F1";
inline const std::string kPart3 = "00112233445566778899AABBCCDDEEFF";
inline const std::string kMasterKey =
    padsim::test::XorHex(padsim::test::XorHex(kPart1, kPart2), kPart3);
inline const std::string kTerminalKey = "2A3B4C5D6E7F80911A2A3D4C5E6E7080";  // odd parity
inline const std::string kPinKey = "4C5D6E7F8091A2B3C4D5E6F708192A3B";

}  // namespace cli::test
