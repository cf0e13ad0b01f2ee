// Run files: one step per line in the subcommands' own syntax; a word beginning with '#' starts
// a comment that runs to the end of the line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "step.h"

namespace cli {

struct PlannedStep {
    Step step;
    int line = 0;  // 0 for a step from the command line
};

// Parses every line before anything runs. A line that does not parse throws CLI::ParseError
// with "NAME:LINE: " in front of the parser's message.
std::vector<PlannedStep> ParseRunFile(std::istream& in, const std::string& name);

}  // namespace cli
