// Monotonic millisecond clock, the stand-in for the tick counter that every wait is measured on.
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

inline std::uint64_t MonotonicMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace platform
