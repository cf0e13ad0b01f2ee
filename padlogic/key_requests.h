// The request texts of the key commands, laid out as the pad reads them.
#pragma once

#include <string>
#include <string_view>

namespace padlogic {

// Clear-text key record: key index, combination code as one character, length code in decimal,
// then the parts as given ("%s%c%d%s%s%s").
std::string ClearKeyRequest(std::string_view keyIndex, unsigned char code, int lengthCode,
                            std::string_view part1 = {}, std::string_view part2 = {},
                            std::string_view part3 = {});

// Cipher-text key record: decryption index, save index, tag digit, length digit, cipher text and
// verify code (empty when none is sent) ("%s%s%d%d%s%s").
std::string CipherKeyRequest(std::string_view decryptionIndex, std::string_view saveIndex,
                             int tagDigit, int lengthDigit, std::string_view cipher,
                             std::string_view verifyCode);

// Erases the key at the save index: tag 0, length 1 and sixteen zeros.
std::string EraseKeyRequest(std::string_view decryptionIndex, std::string_view saveIndex);

// Asks for the verify code of the key at the save index: tag 0, length 0, no key.
std::string VerifyCodeRequest(std::string_view decryptionIndex, std::string_view saveIndex);

}  // namespace padlogic
