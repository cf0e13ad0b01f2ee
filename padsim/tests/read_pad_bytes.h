// Collects bytes that the pad sends on its own (key echoes), through the driver's single-byte read.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "pinpad.h"

namespace padsim::test {

// Reads until `count` bytes have arrived or five seconds have passed.
inline std::string ReadPadBytes(std::size_t count) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        unsigned char byte = 0;
        if (PinPad_ReadOneByte(&byte) == 0) got += static_cast<char>(byte);
    }
    return got;
}

}  // namespace padsim::test
