// The bytes the pad sends while an entry runs on it, besides the characters of the keys typed.
#pragma once

namespace shell {

inline constexpr unsigned char kPadBackspace = 0x08;
inline constexpr unsigned char kPadEnter = 0x0D;
inline constexpr unsigned char kPadEscape = 0x1B;
// A digit key of a PIN entry: the pad reports a star, never the digit.
inline constexpr unsigned char kPadStar = 0x2A;
// The pad's entry time-out.
inline constexpr unsigned char kPadTimeout = 0x80;

}  // namespace shell
