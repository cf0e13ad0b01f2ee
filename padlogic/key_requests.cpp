#include "key_requests.h"

namespace padlogic {

std::string ClearKeyRequest(std::string_view keyIndex, unsigned char code, int lengthCode,
                            std::string_view part1, std::string_view part2,
                            std::string_view part3) {
    std::string request(keyIndex);
    request += static_cast<char>(code);
    request += std::to_string(lengthCode);
    request += part1;
    request += part2;
    request += part3;
    return request;
}

std::string CipherKeyRequest(std::string_view decryptionIndex, std::string_view saveIndex,
                             int tagDigit, int lengthDigit, std::string_view cipher,
                             std::string_view verifyCode) {
    std::string request(decryptionIndex);
    request += saveIndex;
    request += std::to_string(tagDigit);
    request += std::to_string(lengthDigit);
    request += cipher;
    request += verifyCode;
    return request;
}

std::string EraseKeyRequest(std::string_view decryptionIndex, std::string_view saveIndex) {
    return CipherKeyRequest(decryptionIndex, saveIndex, 0, 1, "0000000000000000", "");
}

std::string VerifyCodeRequest(std::string_view decryptionIndex, std::string_view saveIndex) {
    return CipherKeyRequest(decryptionIndex, saveIndex, 0, 0, "", "");
}

}  // namespace padlogic
