// What the tool says about itself: its version, and help that explains the exit codes, the
// run-file syntax and the global options that every step accepts.
#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <string>

namespace cli {

// The tool's version, from the build (the project's version).
std::string ToolVersion();

// "lumenord 1.0", or one JSON object with `json`.
void PrintVersion(std::ostream& out, bool json);

// Puts the exit codes, the run-file syntax and two examples under the help of `app`, and under
// the help of every step (every subcommand, at any depth) the global options of `app`, which
// stand before the step on the command line.
void AddHelpFooters(CLI::App& app);

// The message for a --help word inside a run file, where no help is printed.
std::string HelpInRunFileMessage(const std::vector<std::string>& lineWords);

}  // namespace cli
