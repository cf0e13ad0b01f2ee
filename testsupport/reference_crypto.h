// Test-side references: frames built and parsed independently of the engine, and DES through
// OpenSSL's classic DES interface (a different path from the engine's EVP calls).
#pragma once

#include <string>
#include <string_view>

namespace padsim::test {

std::string RequestFrame(char command, std::string_view payload);
// A request with the length field given as it is to appear ("000" for long frames).
std::string RequestFrameWithLength(std::string_view field, char command, std::string_view payload);

struct ParsedReply {
    bool wellFormed = false;  // STX, length field matching the data, ETX, correct check
    unsigned char status = 0;
    std::string data;
    std::string lengthField;
};
ParsedReply ParseReply(std::string_view bytes);

// Upper-case hex, two digits a byte, `separator` between bytes.
std::string Hex(std::string_view bytes, std::string_view separator = "");
std::string Unhex(std::string_view hex);

// Hex text in, hex text out. Keys of 16, 32 or 48 hex characters; ECB block by block.
std::string RefEncrypt(std::string_view keyHex, std::string_view dataHex);
std::string RefDecrypt(std::string_view keyHex, std::string_view dataHex);
std::string RefCbcEncrypt(std::string_view keyHex, std::string_view dataHex);
std::string RefCbcDecrypt(std::string_view keyHex, std::string_view dataHex);
std::string RefVerifyCode(std::string_view keyHex);
std::string XorHex(std::string_view a, std::string_view b);

// MACs over hex data padded with zero bytes to whole blocks. The CBC MAC is the last block of
// CBC under the whole key; the retail MAC (ANSI X9.19) chains under the left half and passes the
// last block through the right half deciphering and the left half enciphering.
std::string RefCbcMac(std::string_view keyHex, std::string_view dataHex);
std::string RefRetailMac(std::string_view keyHex, std::string_view dataHex);
// IBM 3624 offset of `pin`: the validation data enciphered, its first hex digits decimalised
// through `table`, each offset digit the PIN digit less the natural one, modulo 10.
std::string RefIbm3624Offset(std::string_view keyHex, std::string_view validationHex,
                             std::string_view table, std::string_view pin);

}  // namespace padsim::test
