// The padsim program: options, the pty link, the terminal as the pad's keypad and display.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "padsim/pty_pad.h"

namespace padsim {

struct FrontEndOptions {
    std::string link = "./ttyPAD";
    bool readInput = true;  // false: --no-input, stdin is not read and its end is not the end
    bool noCard = false;
    std::string statsPath;  // --stats: where the line statistics go at the end ("" = nowhere)
    PadOptions pad;
};

// Reads the command line into `options` and returns nothing when the pad is to run. Otherwise
// returns the exit status: 0 after printing --help or --version on `out`, 2 after reporting a
// mistake on `err`.
std::optional<int> ParseOptions(int argc, const char* const* argv, FrontEndOptions& options,
                                std::ostream& out, std::ostream& err);

// Runs until SIGINT/SIGTERM or the end of input; returns the exit status.
int RunFrontEnd(const FrontEndOptions& options);

}  // namespace padsim
