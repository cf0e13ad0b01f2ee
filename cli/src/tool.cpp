#include "tool.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <limits>
#include <ostream>

#include "certify_step.h"
#include "hex_text.h"
#include "interruption.h"
#include "open_failure.h"
#include "pad_fleet.h"
#include "pad_input.h"
#include "report.h"
#include "run_file.h"
#include "run_record.h"
#include "secret_input.h"
#include "step_commands.h"
#include "tool_help.h"
#include "tool_key_store.h"
#include "tool_options.h"
#include "verdicts.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// The driver takes port names of at most 15 characters and reads their number as an int.
constexpr std::size_t kMaxPortName = 15;
constexpr long long kMaxPortNumber = std::numeric_limits<int>::max();

CLI::Validator PortName() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const bool named = value.size() > 3 && value.size() <= kMaxPortName &&
                               CLI::detail::to_lower(value.substr(0, 3)) == "com" &&
                               ParseWholeNumber(value.substr(3), 1, kMaxPortNumber);
            return named ? ""
                         : Quoted(value) + " is not a port name comN (N from 1 to " +
                               std::to_string(kMaxPortNumber) + ")";
        },
        "comN");
}

CLI::Validator DevicePath() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            // The path goes into a settings line: no line breaks, no blanks at its ends.
            if (value.empty() || value.find_first_of("\r\n") != std::string::npos ||
                value.front() == ' ' || value.back() == ' ')
                return Quoted(value) + " cannot name a device";
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
    app.add_option("--device", options.devices,
                   "serial device to open instead of a port name; given more than once, run FILE "
                   "runs on every device at once")
        ->allow_extra_args(false)  // one device each time: `--device A version` runs a step
        ->check(DevicePath())
        ->excludes(port);
    // A pad's process of a run of several pads writes its summary here for the parent; not
    // listed in the help.
    app.add_option("--summary-fd", options.summaryFd)
        ->check(WholeNumber(kSummaryFd, kSummaryFd))
        ->group("");
    app.add_option("--baud", options.target.baudRate, "line speed")
        ->check(OneOf({"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "56000",
                       "57600", "115200"}))
        ->capture_default_str();
    app.add_flag("--json", options.json, "one JSON object per step instead of a line");
    app.add_flag("-q,--quiet", options.quiet, "print only the failed steps and the summary");
    app.add_flag("--version", options.version, "print the tool's version (JSON with --json)");
    app.add_flag("--show-secrets", options.showSecrets,
                 "show clear keys, key parts, PINs and clear PIN blocks instead of masking them");
    CLI::Option* store =
        app.add_option("--key-store", options.keyStore,
                       "the key store the program shares: what is loaded is recorded there, "
                       "keys left out of a step are read from there")
            ->check(
                CLI::Validator([](std::string& value) { return KeyStoreProblem(value); }, "FILE"))
            ->capture_default_str();
    app.add_flag("--no-key-store", options.noKeyStore, "neither read nor write the key store")
        ->excludes(store);
    DeclareRecordOptions(app, options.records);
}

// Opens the port when the step needs it and runs the step. Whatever the step throws fails the
// step, not the run: the summary and the exit code still follow.
StepOutcome RunOneStep(const Step& step, PadPort& port, StepContext& context) {
    StepOutcome failure;  // nothing was sent
    try {
        const int opened = step.needsPad ? port.EnsureOpen() : 0;
        if (opened == 0) return step.run(context);
        failure.message = OpenFailureMessage(port.Target(), opened);
        failure.result = opened;
    } catch (const std::exception& error) {
        failure.message = std::string("internal error: ") + error.what();
    } catch (...) {
        failure.message = "internal error";
    }
    return failure;
}

// Runs the steps in order and reports each; stops at the first failure unless keepGoing, and
// at an interrupt.
int RunSteps(const std::vector<PlannedStep>& steps, const GlobalOptions& options, std::ostream& out,
             std::ostream& err, bool summarize) {
    Reporter reporter(out, {options.json, options.quiet, options.showSecrets});
    PadPort port(options.target);
    ToolKeyStore keyStore = options.noKeyStore ? ToolKeyStore() : ToolKeyStore(options.keyStore);
    keyStore.SetNotes(err);
    // Key presses are echoed beside the human lines, or on stderr so that stdout stays JSON;
    // --quiet echoes none (a stream without a buffer drops what it is given).
    std::ostream noEcho(nullptr);
    RunKeys runKeys;
    StepContext context{port, options.quiet ? noEcho : options.json ? err : out, keyStore, runKeys};
    RunRecorder recorder(options.records, options.target, steps, options.runFile);
    // A forked pad of a run of several opens its port first and starts with the others.
    if (options.startGateFd >= 0) {
        if (!steps.empty() && steps.front().step.needsPad) port.EnsureOpen();
        WaitAtStartGate(options.startGateFd);
    }
    const auto runStart = Clock::now();
    RunSummary summary;
    for (const PlannedStep& planned : steps) {
        if (InterruptRequested()) {
            summary.skipped += static_cast<int>(steps.size()) - summary.steps - summary.skipped;
            break;
        }
        if (summary.failures > 0 && !options.keepGoing) {
            ++summary.skipped;
            continue;
        }
        const auto start = Clock::now();
        const auto startedAt = std::chrono::system_clock::now();
        StepOutcome outcome = RunOneStep(planned.step, port, context);
        if (InterruptRequested()) SettleInterruptedStep(planned.step, outcome);
        if (!outcome.aborted) ApplyExpectations(outcome, planned.step.expectations);
        StepRecord record{++summary.steps,
                          planned.line ? std::optional<int>(planned.line) : std::nullopt,
                          &planned.step,
                          std::move(outcome),
                          MillisecondsSince(start),
                          startedAt};
        if (!record.outcome.ok) ++summary.failures;
        reporter.Step(record);
        recorder.Step(record);
    }
    summary.milliseconds = MillisecondsSince(runStart);
    if (options.summaryFd >= 0) {
        WriteFleetSummary(options.summaryFd, summary);
    } else if (summarize) {
        reporter.Summary(summary);
    }
    const int exitCode = InterruptRequested() ? kExitInterruptedBase + InterruptSignal()
                         : summary.failures == 0 && summary.skipped == 0 ? kExitSuccess
                                                                         : kExitStepFailed;
    return recorder.Finish(ExitCodeAfterReport(out, err, exitCode), err);
}

// A usage message may repeat what was typed or read: it is escaped, and bounded. What it quotes
// is cut at kQuotedCharacters each; the whole still has room for every device of a large rack.
constexpr std::size_t kMaxUsageMessage = 16384;

int UsageError(const std::string& message, std::ostream& err) {
    std::string text = EscapeText(message);
    if (text.size() > kMaxUsageMessage) text = text.substr(0, kMaxUsageMessage) + "...";
    err << "lumenord: " << text << "\nRun 'lumenord --help' for the commands and options.\n";
    return kExitUsage;
}

int Interrupted(int signal) { return kExitInterruptedBase + signal; }

// certify writes its own report: a step record or JUnit file would stay empty.
void CheckRecordFilesUnused(const RecordOptions& records) {
    if (!records.recordPath.empty())
        RefuseArgument("--record", "certify writes its own report: give --report DIR instead");
    if (!records.junitPath.empty())
        RefuseArgument("--junit", "certify writes its own report: give --report DIR instead");
}

// Adds the run subcommand, whose FILE and --keep-going land in `options`.
CLI::App* AddRunCommand(CLI::App& app, GlobalOptions& options) {
    CLI::App* run =
        app.add_subcommand("run", "run the steps of FILE, one per line ('-': standard input)");
    run->add_option("FILE", options.runFile, "the run file")->required();
    run->add_flag("--keep-going", options.keepGoing, "run every step even after a failure");
    return run;
}

// --version prints the version and runs nothing, so it comes without a step.
int Version(const CLI::App& app, const GlobalOptions& options, std::ostream& out) {
    if (!app.get_subcommands().empty())
        RefuseArgument("--version", "runs no step; give it without " +
                                        Quoted(app.get_subcommands().front()->get_name()));
    PrintVersion(out, options.json);
    return kExitSuccess;
}

void RequireStep(const CLI::App& app) {
    if (app.get_subcommands().empty())
        throw CLI::ParseError("a step (or run FILE) is required; the steps are listed by --help",
                              CLI::ExitCodes::RequiredError);
}

// The steps of the run file, every one parsed, or the one step of the command line. The run
// file's text is named in the records by its SHA-256.
std::vector<PlannedStep> PlanSteps(const CLI::App& run, GlobalOptions& options, StepSlot& slot) {
    if (!run.parsed()) return {{std::move(*slot), 0}};
    if (options.runFile == "-") ReserveStandardInput();
    const std::string text = ReadRunFile(options.runFile);
    options.records.runFileSha256 = Sha256Hex(text);
    std::vector<PlannedStep> steps = ParseRunFile(text, options.runFile);
    if (steps.empty()) RefuseArgument("FILE", Quoted(options.runFile) + " holds no steps");
    return steps;
}

int RunToolUnguarded(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                     const char* program) {
    CLI::App app{
        "Drives an encrypting PIN pad through the Lumenord driver: every pad operation as "
        "one step, reported as a line or as JSON.",
        "lumenord"};
    app.require_subcommand(0, 1);  // none with --version only
    app.fallthrough();
    GlobalOptions options;
    DeclareGlobalOptions(app, options);
    StepSlot slot;
    AddStepCommands(app, slot);
    const CLI::App* run = AddRunCommand(app, options);
    CertifyOptions certifyOptions;
    const CLI::App* certify = AddCertifyCommand(app, certifyOptions);
    AddHelpFooters(app);

    std::vector<PlannedStep> steps;
    std::vector<FleetPad> pads;  // --device given more than once
    try {
        app.parse(argc, argv);
        if (options.version) return Version(app, options, out);
        RequireStep(app);
        CheckFleetArguments(options, run->parsed());
        if (options.devices.size() == 1) options.target.devicePath = options.devices.front();
        CheckRecordFiles(options.records, run->parsed() ? options.runFile : "");
        TakeUnitLabels(options.records, std::max<std::size_t>(options.devices.size(), 1));
        if (certify->parsed()) {
            CheckCertifyOptions(app, options, certifyOptions);
            CheckRecordFilesUnused(options.records);
        } else {
            steps = PlanSteps(*run, options, slot);
        }
        if (options.devices.size() > 1) pads = PlanFleet(options);
    } catch (const RunFileInterrupted& interrupted) {
        if (options.devices.size() > 1)
            return FinishUnstartedFleet(options, NameFleet(options), {},
                                        Interrupted(interrupted.signal), err);
        return RunRecorder(options.records, options.target, {}, options.runFile)
            .Finish(Interrupted(interrupted.signal), err);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitSuccess;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return kExitSuccess;
    } catch (const CLI::ParseError& error) {
        return UsageError(DescribeParseError(app, error), err);
    }
    if (!pads.empty()) {
        if (program == nullptr) {
            err << "lumenord: several devices are run only by the lumenord program\n";
            return kExitInternalError;
        }
        // A pad's process forked from this one reports on its own standard streams.
        const PadRunner runPad = [&steps](const GlobalOptions& padOptions) {
            return RunSteps(steps, padOptions, std::cout, std::cerr, true);
        };
        return RunPadFleet(options, pads, steps, program, runPad, out, err);
    }
    if (certify->parsed()) {
        if (InterruptRequested()) return Interrupted(InterruptSignal());
        return RunCertify(certifyOptions, options, out, err);
    }
    // An interrupt before the first step: nothing reaches the pad.
    if (InterruptRequested())
        return RunRecorder(options.records, options.target, steps, options.runFile)
            .Finish(Interrupted(InterruptSignal()), err);
    return RunSteps(steps, options, out, err, run->parsed());
}

}  // namespace

int RunTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const char* program) {
    try {
        return RunToolUnguarded(argc, argv, out, err, program);
    } catch (const std::exception& error) {
        err << "lumenord: internal error: " << EscapeText(error.what()) << '\n';
    } catch (...) {
        err << "lumenord: internal error\n";
    }
    return kExitInternalError;
}

}  // namespace cli
