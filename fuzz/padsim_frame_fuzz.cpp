// Feeds arbitrary line bytes to the simulated pad's frame parser and command handlers, with key
// presses and passing time in between, so that partial frames, bad lengths, bad checks and odd
// payloads of every command meet the engine.
//
// Input: a sequence of chunks. Each chunk starts with a control byte: its low 2 bits pick what
// happens (0, 1: the next (control >> 2) bytes go to the line; 2: one key press; 3: time passes).
#include <chrono>
#include <cstdint>
#include <string_view>

#include "padsim/pad_simulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    padsim::PadSimulator pad(7);
    std::size_t at = 0;
    while (at < size) {
        std::uint8_t control = data[at++];
        switch (control & 3) {
            case 0:
            case 1: {
                std::size_t n = std::min<std::size_t>(control >> 2, size - at);
                pad.Receive(std::string_view(reinterpret_cast<const char*>(data + at), n));
                at += n;
                break;
            }
            case 2:
                if (at < size) pad.PressKey(static_cast<char>(data[at++]));
                break;
            default:
                pad.Elapse(std::chrono::milliseconds((control >> 2) * 1000));
                break;
        }
    }
    return 0;
}
