#include "check_value.h"

#include <cstring>

#include "key_parts.h"

namespace padlogic {
namespace {

constexpr std::size_t kLongestText = 48;  // three blocks or a three-key key

}  // namespace

std::string Encipher(DesFunction des, std::string_view data, std::string_view key) {
    if (des == nullptr || data.size() > kLongestText || key.size() > kLongestText) return {};
    char dataText[kLongestText + 1] = {};
    char keyText[kLongestText + 1] = {};
    char output[kLongestText + 1] = {};
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
