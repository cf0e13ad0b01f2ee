#include "tool_help.h"

#include <csignal>
#include <nlohmann/json.hpp>
#include <ostream>

#include "hex_text.h"
#include "run_file.h"
#include "tool.h"

#ifndef LUMENORD_TOOL_VERSION
#error "the build passes the tool's version as LUMENORD_TOOL_VERSION"
#endif

namespace cli {
namespace {

constexpr const char* kToolName = "lumenord";

std::string ExitCodeRow(int code, const std::string& meaning) {
    std::string number = std::to_string(code);
    number.resize(5, ' ');
    return "  " + number + meaning + "\n";
}

std::string ExitCodesText() {
    return "Exit codes:\n" + ExitCodeRow(kExitSuccess, "every step succeeded") +
           ExitCodeRow(kExitStepFailed,
                       "a step failed (the pad or the driver refused it, or a check failed)") +
           ExitCodeRow(kExitUsage,
                       "usage error: the message names the argument; nothing was sent") +
           ExitCodeRow(kExitInternalError, "internal error of the tool itself") +
           ExitCodeRow(kExitInterruptedBase + SIGHUP, "the terminal closed (SIGHUP)") +
           ExitCodeRow(kExitInterruptedBase + SIGINT, "Ctrl-C (SIGINT) stopped the tool") +
           ExitCodeRow(kExitInterruptedBase + SIGPIPE,
                       "the reader of the output went away (SIGPIPE)") +
           ExitCodeRow(kExitInterruptedBase + SIGTERM, "SIGTERM stopped the tool");
}

std::string RunFileText() {
    return "Run files (run FILE; '-' reads standard input):\n"
           "  One step a line, written as on the command line after the global options\n"
           "  (mac 30 x9.9 0102). Blank lines are skipped; a word that begins with '#' starts a\n"
           "  comment that runs to the end of the line; single or double quotes keep blanks in a\n"
           "  word (info write 'LINE 3'). Every line is parsed before the first step runs, so a\n"
           "  typing error stops the run with exit code 2 and the line number. A file holds at\n"
           "  most " +
           std::to_string(kMaxRunFileBytes / (1024 * 1024)) + " MiB, a line at most " +
           std::to_string(kMaxRunFileLine) +
           " characters. --help is for the command line:\n"
           "  in a run file it is a usage error that names the line.\n";
}

std::string ExamplesText() {
    return "Examples:\n"
           "  lumenord --device ./ttyPAD version\n"
           "      read the model, versions and serial number of the pad on ./ttyPAD\n"
           "  lumenord --port com1 --json run acceptance.lumenord --keep-going\n"
           "      run every step of the file, one JSON object a step and a summary\n"
           "  lumenord --device /dev/ttyUSB0 --device /dev/ttyUSB1 run acceptance.lumenord\n"
           "      run the file on both pads at once, each line tagged [ttyUSB0] or [ttyUSB1]\n";
}

// The global options of `app` as its help lists them (help flags and hidden options left out),
// computed when the help is printed so that options declared later are listed too.
std::string GlobalOptionsText(const CLI::App& app) {
    const CLI::Formatter formatter;  // the look of the help's own option list
    std::string text = "Global options (given before the step):\n";
    for (const CLI::Option* option : app.get_options()) {
        // Options without a group are the tool's own, and not listed.
        if (option == app.get_help_ptr() || option == app.get_help_all_ptr() ||
            option->get_group().empty())
            continue;
        text += formatter.make_option(option, false);
    }
    text.pop_back();  // the help puts the footer's own line end after it
    return text;
}

std::vector<CLI::App*> SubcommandsOf(CLI::App& command) {
    return command.get_subcommands(std::function<bool(CLI::App*)>{});
}

void AddGlobalOptionsFooter(CLI::App& command, const CLI::App& top) {
    command.footer([&top] { return GlobalOptionsText(top); });
    for (CLI::App* sub : SubcommandsOf(command)) AddGlobalOptionsFooter(*sub, top);
}

}  // namespace

std::string ToolVersion() { return LUMENORD_TOOL_VERSION; }

void PrintVersion(std::ostream& out, bool json) {
    // The driver library has no version call of its own: it is built with the tool, and the
    // tool's version stands for both.
    if (json)
        out << nlohmann::ordered_json{{"program", kToolName}, {"version", ToolVersion()}}.dump()
            << '\n';
    else
        out << kToolName << ' ' << ToolVersion() << '\n';
}

void AddHelpFooters(CLI::App& app) {
    for (CLI::App* sub : SubcommandsOf(app)) AddGlobalOptionsFooter(*sub, app);
    app.footer(ExitCodesText() + "\n" + RunFileText() + "\n" + ExamplesText());
}

std::string HelpInRunFileMessage(const std::vector<std::string>& lineWords) {
    std::string step;
    for (const std::string& word : lineWords) {
        if (word == "-h" || word == "--help") break;
        step += (step.empty() ? "" : " ") + word;
    }
    return "--help is not a step; for the help of the step run " +
           Quoted("lumenord " + step + " --help") + " on the command line";
}

}  // namespace cli
