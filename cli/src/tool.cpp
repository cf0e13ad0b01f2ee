#include "tool.h"

#include <chrono>
#include <fstream>
#include <iostream>

#include "pad_input.h"
#include "report.h"
#include "result_code_text.h"
#include "run_file.h"
#include "step_commands.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct GlobalOptions {
    PortTarget target;
    bool json = false;
    std::string runFile;
    bool keepGoing = false;
};

CLI::Validator PortName() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const bool named = value.size() > 3 && value.size() <= 15 &&
                               CLI::detail::to_lower(value.substr(0, 3)) == "com" &&
                               value.find_first_not_of("0123456789", 3) == std::string::npos &&
                               std::stoi(value.substr(3)) > 0;
            return named ? "" : "'" + value + "' is not a port name comN (N from 1)";
        },
        "comN");
}

CLI::Validator DevicePath() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            // The path goes into a settings line: no line breaks, no blanks at its ends.
            if (value.empty() || value.find_first_of("\r\n") != std::string::npos ||
                value.front() == ' ' || value.back() == ' ')
                return "'" + value + "' cannot name a device";
            return {};
        },
        "PATH");
}

void DeclareGlobalOptions(CLI::App& app, GlobalOptions& options) {
    CLI::Option* port =
        app.add_option(
               "--port", options.target.portName,
               "port comN, mapped by key COMN of [PORTS] in ./sysconfig.ini as the driver does")
            ->check(PortName())
            ->capture_default_str();
    app.add_option("--device", options.target.devicePath,
                   "serial device to open instead of a port name")
        ->check(DevicePath())
        ->excludes(port);
    app.add_option("--baud", options.target.baudRate, "line speed")
        ->check(
            CLI::IsMember({300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 56000, 57600, 115200}))
        ->capture_default_str();
    app.add_flag("--json", options.json, "one JSON object per step instead of a line");
}

// Runs the steps in order and reports each; stops at the first failure unless keepGoing.
int RunSteps(const std::vector<PlannedStep>& steps, const GlobalOptions& options, std::ostream& out,
             std::ostream& err, bool summarize) {
    Reporter reporter(out, options.json);
    PadPort port(options.target);
    // Key presses are echoed beside the human lines, or on stderr so that stdout stays JSON.
    StepContext context{port, options.json ? err : out};
    const auto runStart = Clock::now();
    RunSummary summary;
    for (const PlannedStep& planned : steps) {
        if (summary.failures > 0 && !options.keepGoing) {
            ++summary.skipped;
            continue;
        }
        const auto start = Clock::now();
        StepOutcome outcome;
        const int opened = planned.step.needsPad ? port.EnsureOpen() : 0;
        if (opened != 0) {
            char text[100] = {};
            outcome.result = opened;
            outcome.message =
                "cannot open " + port.Describe() + ": " + padlogic::ResultCodeToText(opened, text);
        } else {
            outcome = planned.step.run(context);
        }
        StepRecord record{++summary.steps,
                          planned.line ? std::optional<int>(planned.line) : std::nullopt,
                          &planned.step, std::move(outcome), MillisecondsSince(start)};
        if (!record.outcome.ok) ++summary.failures;
        reporter.Step(record);
        if (InterruptRequested()) {
            summary.skipped += static_cast<int>(steps.size()) - summary.steps - summary.skipped;
            break;
        }
    }
    summary.milliseconds = MillisecondsSince(runStart);
    if (summarize) reporter.Summary(summary);
    return summary.failures == 0 && summary.skipped == 0 ? kExitSuccess : kExitStepFailed;
}

int UsageError(const std::string& message, std::ostream& err) {
    err << "lumenord: " << message << "\nRun 'lumenord --help' for the commands and options.\n";
    return kExitUsage;
}

}  // namespace

int RunTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{
        "Drives an encrypting PIN pad through the Lumenord driver: every pad operation as "
        "one step, reported as a line or as JSON.",
        "lumenord"};
    app.require_subcommand(1);
    app.fallthrough();
    GlobalOptions options;
    DeclareGlobalOptions(app, options);
    StepSlot slot;
    AddStepCommands(app, slot);
    CLI::App* run =
        app.add_subcommand("run", "run the steps of FILE, one per line ('-': standard input)");
    run->add_option("FILE", options.runFile, "the run file")->required();
    run->add_flag("--keep-going", options.keepGoing, "run every step even after a failure");

    std::vector<PlannedStep> steps;
    try {
        app.parse(argc, argv);
        if (run->parsed()) {
            std::ifstream file;
            if (options.runFile != "-") {
                file.open(options.runFile);
                if (!file) return UsageError("FILE: cannot read '" + options.runFile + "'", err);
            }
            steps = ParseRunFile(options.runFile == "-" ? std::cin : file, options.runFile);
            if (steps.empty())
                return UsageError("FILE: '" + options.runFile + "' holds no steps", err);
        } else {
            steps.push_back({std::move(*slot), 0});
        }
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitSuccess;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return kExitSuccess;
    } catch (const CLI::ParseError& error) {
        return UsageError(DescribeParseError(app, error), err);
    }
    return RunSteps(steps, options, out, err, run->parsed());
}

}  // namespace cli
