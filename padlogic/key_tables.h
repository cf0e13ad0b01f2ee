// The tables of the key commands that the test program and the command-line tool share: the
// combination codes of clear keys with the parts each takes on the host, the key lengths, and
// the tags of keys loaded in cipher text with the digit each is sent as.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace padlogic {

// Combination codes of a clear-text key record (the byte is sent as one character).
inline constexpr int kSinglePartCode = 0x30;     // part 1 as typed
inline constexpr int kThreePartXorCode = 0x31;   // bytewise XOR of three parts
inline constexpr int kInterleaveCode = 0x32;     // 8-character chunks of two parts alternately
inline constexpr int kConcatenationCode = 0x33;  // three 16-character parts: a 24-byte key
inline constexpr int kTwoPartXorCode = 0x34;     // bytewise XOR of two parts
inline constexpr int kNoPartsCode = 0x40;        // neither parts from the host nor an entry
inline constexpr int kFirstPadEntryCode = 0x41;  // 41, 42, 43: part 1, 2 or 3 typed on the pad
inline constexpr int kLastPadEntryCode = 0x43;

struct CombinationCode {
    int code;
    int hostParts;  // how many parts the host sends with it; 0: none
};

// Every combination code, in the order the program lists them.
inline constexpr std::array<CombinationCode, 9> kCombinationCodes = {{{kSinglePartCode, 1},
                                                                      {kThreePartXorCode, 3},
                                                                      {kInterleaveCode, 2},
                                                                      {kConcatenationCode, 3},
                                                                      {kTwoPartXorCode, 2},
                                                                      {kNoPartsCode, 0},
                                                                      {kFirstPadEntryCode, 0},
                                                                      {kFirstPadEntryCode + 1, 0},
                                                                      {kLastPadEntryCode, 0}}};

// How many parts code `code` takes from the host; 0 for a code that takes none or is unknown.
int HostParts(int code);
// Codes 41 to 43: the key's part is typed on the pad after the announcement.
bool IsPadEntryCode(int code);

// Key lengths in bytes: what parts typed on the host make, and what a key typed on the pad may
// have besides. The length code of the requests is the bytes divided by 8.
inline constexpr std::array<int, 3> kKeyLengths = {8, 16, 24};
inline constexpr std::array<int, 3> kPadEntryKeyLengths = {32, 40, 48};

struct KeyTag {
    std::string_view name;
    int digit;  // what the cipher-text key record carries
};

// The tags of keys loaded in cipher text.
inline constexpr std::array<KeyTag, 7> kKeyTags = {
    {{"TMK", 2}, {"TPK", 3}, {"TAK", 5}, {"TDK", 6}, {"TDEK", 7}, {"TDDK", 8}, {"TDSK", 9}}};
// The master key tag: a master key at a clear-key index serves as a decryption key too.
inline constexpr std::string_view kMasterKeyTag = "TMK";
// Not a tag of the pad: the choice that erases the key at the save index instead.
inline constexpr std::string_view kEraseTag = "NOK";

// The digit of a tag given by its exact name; nullopt for a name that is no tag.
std::optional<int> TagDigit(std::string_view name);

}  // namespace padlogic
