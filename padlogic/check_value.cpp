#include "check_value.h"

#include <cstring>

#include "key_parts.h"

namespace padlogic {
namespace {

// Three blocks or a three-key key; the routine's result takes one byte more.
constexpr std::size_t kLongestText = PINPAD_DES_RESULT_SIZE - 1;

}  // namespace

std::string Encipher(DesFunction des, std::string_view data, std::string_view key) {
    if (des == nullptr || data.size() > kLongestText || key.size() > kLongestText) return {};
    char dataText[kLongestText + 1] = {};
    char keyText[kLongestText + 1] = {};
    char output[PINPAD_DES_RESULT_SIZE] = {};
    std::memcpy(dataText, data.data(), data.size());
    std::memcpy(keyText, key.data(), key.size());
    des(dataText, keyText, output, 0);
    return std::string(output, strnlen(output, kLongestText));
}

std::string CheckValue(DesFunction des, std::string_view key) {
    if (!IsKeyText(key)) return {};
    return Encipher(des, "0000000000000000", key).substr(0, 8);
}

}  // namespace padlogic
