#include "pad_input.h"

#include <signal.h>

#include <chrono>

#include "pinpad.h"

namespace cli {
namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return g_interrupted != 0; }

bool CollectPadBytes(int seconds, const std::function<bool(unsigned char)>& onByte) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline && !InterruptRequested()) {
        unsigned char byte = 0;
        if (PinPad_ReadOneByte(&byte) == 0 && onByte(byte)) return true;
    }
    return false;
}

void EndPadInput() { PinPad_SetControlCode("032", 3); }

}  // namespace cli
