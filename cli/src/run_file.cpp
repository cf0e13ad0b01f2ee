#include "run_file.h"

#include <algorithm>
#include <istream>

#include "step_commands.h"

namespace cli {
namespace {

std::vector<std::string> WordsOf(const std::string& line) {
    std::vector<std::string> words = CLI::detail::split_up(line);
    const auto comment = std::find_if(
        words.begin(), words.end(), [](const std::string& w) { return !w.empty() && w[0] == '#'; });
    words.erase(comment, words.end());
    return words;
}

Step ParseLine(std::vector<std::string> words) {
    CLI::App app{"run-file step", "step"};
    app.require_subcommand(1);
    StepSlot slot;
    AddStepCommands(app, slot);
    std::reverse(words.begin(), words.end());  // the parser takes its words last first
    try {
        app.parse(words);
    } catch (const CLI::ParseError& error) {
        throw CLI::ParseError(DescribeParseError(app, error), error.get_exit_code());
    }
    return std::move(*slot);
}

}  // namespace

std::vector<PlannedStep> ParseRunFile(std::istream& in, const std::string& name) {
    std::vector<PlannedStep> steps;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> words;
        try {
            words = WordsOf(line);
            if (words.empty()) continue;
            steps.push_back({ParseLine(std::move(words)), number});
        } catch (const CLI::ParseError& error) {
            throw CLI::ParseError(name + ":" + std::to_string(number) + ": " + error.what(),
                                  error.get_exit_code());
        }
    }
    return steps;
}

}  // namespace cli
