#include "info_area.h"

#include <algorithm>
#include <cstring>

namespace padlogic {

std::string InfoAreaField(const char (&area)[kInfoAreaSize], std::size_t offset,
                          std::size_t length) {
    if (offset >= kInfoAreaSize) return {};
    const std::size_t available = std::min(length, kInfoAreaSize - offset);
    const char* begin = area + offset;
    const void* nul = std::memchr(begin, '\0', available);
    return std::string(begin, nul ? static_cast<const char*>(nul) - begin : available);
}

}  // namespace padlogic
