// What a sound pad answers to a MAC request (command '8') and a data cipher request (command '9'),
// computed on the host from the clear key, so that a pad's reply can be checked. DES comes in as
// the driver's routine (DesFunction); CBC and the MAC chains are built here from its ECB blocks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "check_value.h"

namespace padlogic {

// The MAC methods of command '8'. K1 is the first 16 hex characters of the key; "the whole key"
// is single DES, two-key or three-key triple DES by the key's length.
enum class MacType {
    kPboc,      // '1': 80 00.. padding always added, CBC under K1, the last block under the
                //      whole key (for a double key: ISO 9797-1 algorithm 3, padding method 2)
    kX99,       // '2': zero padding, CBC-MAC under K1 alone
    kX919,      // '3': zero padding, CBC under K1, the last block under the whole key (retail)
    kIso16609,  // 'A': zero padding, CBC-MAC under the whole key on every block
};

// The tool's words for the MAC methods: "pboc", "x9.9", "x9.19", "iso16609", in any case.
std::optional<MacType> MacTypeFromWord(std::string_view word);
// The method character of the request ('\0' for a value outside the enum), and back.
char MacTypeCode(MacType type);
std::optional<MacType> MacTypeFromCode(char code);

// The modes of command '9'; CBC starts from a zero IV.
enum class DataMode {
    kEcbEncrypt,  // '1'
    kCbcEncrypt,  // '2'
    kEcbDecrypt,  // 'A'
    kCbcDecrypt,  // 'B'
};

// The tool's words "ecb" and "cbc" (any case) with the direction.
std::optional<DataMode> DataModeFromWord(std::string_view word, bool encrypt);
// The mode character of the request ('\0' for a value outside the enum), and back.
char DataModeCode(DataMode mode);
std::optional<DataMode> DataModeFromCode(char code);

// The most that the driver carries: message bytes after the three-byte MAC header, and hex data
// characters (whole blocks) after the key index and mode of a data request.
inline constexpr std::size_t kHostMacMessageMax = PINPAD_MAC_INPUT_MAX - 3;
inline constexpr std::size_t kHostDataHexMax = (PINPAD_DATA_REQUEST_MAX - 3) / 16 * 16;

// The 16 upper-case hex characters of the MAC that a pad replies for the raw message bytes
// `dataBytes` under the clear key `keyHex` (16, 32 or 48 hex characters, either case).
// nullopt for a key of another length or with other characters, an empty message (a pad refuses
// it), a message longer than kHostMacMessageMax, an unknown type, a missing routine, or a DES
// call that fails or gives no 16 hex characters.
std::optional<std::string> HostMac(MacType type, std::string_view keyHex,
                                   std::string_view dataBytes, DesFunction des);

// The upper-case hex that a pad replies to a data request in `mode` on `dataHex` (whole blocks
// of 16 hex characters, either case, at most kHostDataHexMax) under the clear key `keyHex`:
// single DES for a 16-character key, two- or three-key triple DES for 32 or 48.
// nullopt for empty data, a partial block, text that is not hex, too much data, a bad key, an
// unknown mode, a missing routine or a failing DES call.
std::optional<std::string> HostData(DataMode mode, std::string_view keyHex,
                                    std::string_view dataHex, DesFunction des);

}  // namespace padlogic
