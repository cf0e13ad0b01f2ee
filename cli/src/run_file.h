// Run files: one step per line in the subcommands' own syntax; a word beginning with '#' starts
// a comment that runs to the end of the line.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "step.h"

namespace cli {

// The most a run file may hold, and the longest line (without its line end).
inline constexpr std::size_t kMaxRunFileBytes = 1024 * 1024;
inline constexpr std::size_t kMaxRunFileLine = 4096;

struct PlannedStep {
    Step step;
    int line = 0;  // 0 for a step from the command line
};

// An interrupt signal arrived while a run file was read or parsed: nothing may run.
struct RunFileInterrupted {
    int signal;
};

// The whole text of the run file `name` ("-": standard input). Pipes and FIFOs are read as their
// writer sends, and never past the bounds. Throws CLI::ParseError naming FILE (or NAME:LINE)
// for a file that cannot be read, a directory, a NUL byte, a line or a file over its bound;
// RunFileInterrupted when an interrupt arrives first. A source that sends nothing for
// `idleLimit` (a FIFO nobody writes, a silent pipe) is refused rather than waited on for ever.
inline constexpr std::chrono::seconds kRunFileIdleLimit{300};
std::string ReadRunFile(const std::string& name,
                        std::chrono::milliseconds idleLimit = kRunFileIdleLimit);

// Parses every line before anything runs. A line that does not parse throws CLI::ParseError
// with "NAME:LINE: " in front of the parser's message; an interrupt, RunFileInterrupted.
std::vector<PlannedStep> ParseRunFile(const std::string& text, const std::string& name);

}  // namespace cli
