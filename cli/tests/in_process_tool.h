// The tool run in this process through RunTool, as main() runs it, with its output kept.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tool.h"

namespace cli::test {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

inline ToolRun RunInProcess(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"lumenord"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    const int status = cli::RunTool(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

}  // namespace cli::test
