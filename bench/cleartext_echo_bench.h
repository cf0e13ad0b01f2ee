// Figures of the test program's clear-text keypad, measured in-process against the benchmark's
// pty responder: key byte to character shown, and CPU while the reader waits on an idle pad.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bench_pty.h"

namespace bench {

struct Figure {
    std::string figure;
    std::string measured;
    std::string target;
    bool met;
};

// Median milliseconds from `sendKey` (writes one key byte as the pad and returns NowNs() of the
// write) to `shown()` holding, with the window thread's events processed meanwhile. Before each
// press the event loop idles for `settle`, so that the press meets a reader that is waiting.
double KeyToWidgetMs(const std::function<std::uint64_t()>& sendKey,
                     const std::function<bool()>& shown, int samples,
                     std::chrono::milliseconds settle);

// CPU time of this process over wall time, in percent, while the window's event loop idles for
// `duration`.
double IdleCpuPercent(std::chrono::milliseconds duration);

// Opens a test program window on `pad`, opens the clear-text keypad and measures its figures.
std::vector<Figure> ClearTextKeypadFigures(Responder& pad);

}  // namespace bench
