// Clear key parts as custodians type them: the text rules of keys, the combination of parts into
// one key, and the odd parity adjustment.
#pragma once

#include <string>
#include <string_view>

namespace padlogic {

// Stands for a key value that the host does not know (it was typed on the pad).
inline constexpr std::string_view kKeyMask = "****************";

// A key text whose first eight characters are stars counts as no key at all.
bool IsMasked(std::string_view key);
// Non-empty and only the characters 0-9, A-F, a-f.
bool IsHex(std::string_view text);
// 16, 32 or 48 hexadecimal characters: a single, double or triple length key.
bool IsKeyText(std::string_view text);
std::string ToUpper(std::string_view text);

// The value of a hexadecimal character (either case), or -1 when it is none.
int HexDigit(char c);
// The byte written by the two characters at `at` (either case); characters that are not
// hexadecimal end the number early, as a "%02X" scan does (no digit at all reads as 0).
unsigned HexByteAt(std::string_view text, std::size_t at);

// Results of the combination routines: 0, or the negative number of the part whose length is
// wrong (-1 part 1, -2 part 2, -3 part 3).
inline constexpr int kCombinedOk = 0;
// CombineParts: a combination code that does not combine typed parts.
inline constexpr int kNotCombinable = -100;

// The clear key that combination code `code` (0x30-0x34) makes of the typed parts: 0x30 part 1
// as typed, 0x31 three-part XOR, 0x32 interleave, 0x33 the three 16-character parts joined,
// 0x34 two-part XOR. Returns the routine's result, or kNotCombinable for every other code.
int CombineParts(int code, int lengthCode, std::string_view part1, std::string_view part2,
                 std::string_view part3, std::string& combined);

// Each whole byte with an even number of one bits gets bit 0 flipped; a trailing odd character
// is dropped. Upper-case hex out.
std::string OddParity(std::string_view hex);

}  // namespace padlogic
