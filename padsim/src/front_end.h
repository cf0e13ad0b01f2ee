// The padsim program: options, the pty link, the terminal as the pad's keypad and display.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "padsim/pty_pad.h"

namespace padsim {

struct FrontEndOptions {
    std::string link = "./ttyPAD";
    bool readInput = true;  // false: --no-input, stdin is not read and its end is not the end
    bool noCard = false;
    std::string statsPath;  // --stats: where the line statistics go at the end ("" = nowhere)
    PadOptions pad;
};

// Parses the command line; on a mistake, --help or --version returns nullopt after writing to
// `message`.
std::optional<FrontEndOptions> ParseOptions(const std::vector<std::string>& args,
                                            std::string& message);
// Whether a message of ParseOptions answers --help or --version (standard output, exit 0) rather
// than reporting a mistake.
bool IsInformation(const std::string& message);
// "\r", "\e", "\b", "\xHH", "\\" and a newline (Enter) in --keys texts.
std::string UnescapeKeys(const std::string& text);

// Runs until SIGINT/SIGTERM or the end of input; returns the exit status.
int RunFrontEnd(const FrontEndOptions& options);

}  // namespace padsim
