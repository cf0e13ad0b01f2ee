// Check values and local enciphering with the DES routine of the driver, passed in as a function
// pointer so that this library links no driver and no crypto library.
#pragma once

#include <pinpad.h>

#include <string>
#include <string_view>

namespace padlogic {

// The signature of PinPad_TriUntriDes: data and key as hex text, output (49 bytes), mode (0
// encipher). Single DES for a 16-character key, two- or three-key triple DES for 32 or 48.
using DesFunction = decltype(&::PinPad_TriUntriDes);

// `data` (one to three 16-character blocks) enciphered block by block under `key`; "" when the
// routine is missing, the texts do not fit its 48-character limit, or it writes nothing.
std::string Encipher(DesFunction des, std::string_view data, std::string_view key);

// The check value of a key as pads and key forms give it: the first 8 hex characters of the key
// enciphering sixteen '0' characters. "" unless `key` is 16, 32 or 48 hex characters.
std::string CheckValue(DesFunction des, std::string_view key);

}  // namespace padlogic
