// Text as the pad's requests carry it (hexadecimal checks and byte conversion), and text from
// the pad or a run file made fit for a terminal line or a message.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace cli {

// Only the characters 0-9, A-F, a-f (the empty text too).
bool IsHexText(std::string_view text);
// Only the characters 0-9 (the empty text too).
bool IsDecimalText(std::string_view text);
// Two hexadecimal characters a byte; the caller has checked the text with IsHexText and an
// even length.
std::string HexToBytes(std::string_view hex);
std::string BytesToHex(std::string_view bytes);
// The SHA-256 of `bytes` as 64 lower-case hexadecimal characters.
std::string Sha256Hex(std::string_view bytes);
// Every byte printable ASCII.
bool IsPrintable(std::string_view bytes);

// The UTF-8 character at the front of `text` (not empty) and its length in bytes; nothing when
// the bytes there are not a well-formed character (overlong forms and surrogates included).
std::optional<std::pair<char32_t, std::size_t>> DecodeUtf8(std::string_view text);

// C-style escapes for what a terminal would act on: backslash as \\, newline, carriage return
// and tab as \n, \r, \t, every other control character (C0, DEL, C1) and every byte that is
// not part of a UTF-8 character as \xHH.
std::string EscapeText(std::string_view text);

// How many characters of someone else's text a message repeats.
inline constexpr std::size_t kQuotedCharacters = 80;
// `text` for a message, cut after kQuotedCharacters characters ("... (N characters)" then
// follows). Not escaped: the message is, where it is printed.
std::string Shortened(std::string_view text);
// Shortened(text) in single quotes ("...' (N characters)" when cut).
std::string Quoted(std::string_view text);

}  // namespace cli
