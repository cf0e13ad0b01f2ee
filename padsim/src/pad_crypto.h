// The pad's ciphers on top of OpenSSL's libcrypto: DES and triple DES in ECB and CBC, the MAC
// methods, and hex text conversion. Keys are raw bytes of 8, 16 or 24 (single, two-key and
// three-key triple DES); data is raw bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace padsim::crypto {

// Strict: an even number of hex digits, either case; nullopt otherwise.
std::optional<std::string> HexToBytes(std::string_view hex);
std::string BytesToHex(std::string_view bytes);  // upper case
bool IsHex(std::string_view text);
bool ValidKeyLength(std::size_t bytes);

// `data` must be a whole number of 8-byte blocks and the key 8, 16 or 24 bytes long.
std::string EncryptEcb(std::string_view key, std::string_view data);
std::string DecryptEcb(std::string_view key, std::string_view data);
std::string EncryptCbc(std::string_view key, std::string_view data);  // zero IV
std::string DecryptCbc(std::string_view key, std::string_view data);  // zero IV

// First 8 hex characters of the key enciphering the 8-byte block of zeros.
std::string VerifyCode(std::string_view key);

// True when every byte has an odd number of one bits.
bool OddParity(std::string_view key);

enum class MacMethod { Pboc, X99, X919, Iso16609 };
// The 8-byte MAC of `message` under `key` (see the padsim README for each method).
std::string Mac(MacMethod method, std::string_view key, std::string_view message);

}  // namespace padsim::crypto
