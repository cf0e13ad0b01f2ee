#include "pad_fleet.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <list>
#include <optional>
#include <ostream>
#include <system_error>

#include "pad_input.h"
#include "pad_process.h"
#include "run_record.h"
#include "tagged_lines.h"
#include "tool.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// A summary is one short JSON object; more than this is not one.
constexpr std::size_t kMaxSummaryBytes = 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
// Where the kernel has no process descriptors, how often an ended process is looked for.
constexpr int kReapRoundMs = 100;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The arguments of one pad's process: the run's options with the pad's device and files. Values
// go as --option=VALUE and the run file after "--", so that none is taken for an option.
std::vector<std::string> PadArguments(const GlobalOptions& options, const FleetPad& pad) {
    std::vector<std::string> args{"lumenord", "--device=" + pad.device,
                                  "--baud=" + std::to_string(options.target.baudRate)};
    if (options.json) args.push_back("--json");
    if (options.quiet) args.push_back("--quiet");
    if (options.showSecrets) args.push_back("--show-secrets");
    args.push_back(options.noKeyStore ? "--no-key-store" : "--key-store=" + options.keyStore);
    const RecordOptions& records = pad.records;
    if (!records.operatorName.empty()) args.push_back("--operator=" + records.operatorName);
    if (!records.recordPath.empty()) args.push_back("--record=" + records.recordPath);
    if (!records.junitPath.empty()) args.push_back("--junit=" + records.junitPath);
    args.push_back("--summary-fd=" + std::to_string(kSummaryFd));
    args.push_back("run");
    if (options.keepGoing) args.push_back("--keep-going");
    args.push_back("--");
    args.push_back(options.runFile);
    return args;
}

// The summary a pad's process wrote, when it is one.
std::optional<RunSummary> ParseSummary(const std::string& text) {
    const Json object = Json::parse(text, nullptr, false);
    if (!object.is_object()) return std::nullopt;
    RunSummary summary;
    for (auto [field, value] :
         {std::pair{"steps", &summary.steps}, std::pair{"failures", &summary.failures},
          std::pair{"skipped", &summary.skipped}}) {
        if (!object.contains(field) || !object[field].is_number_integer()) return std::nullopt;
        const auto number = object[field].get<long long>();
        if (number < 0 || number > static_cast<long long>(kMaxRunFileBytes)) return std::nullopt;
        *value = static_cast<int>(number);
    }
    if (!object.contains("ms") || !object["ms"].is_number_integer()) return std::nullopt;
    summary.milliseconds = object["ms"].get<long long>();
    return summary;
}

// How a pad ended.
struct PadResult {
    std::string outcome;  // "passed", "failed" or "interrupted"
    std::optional<int> exitCode;
    std::string note;  // why a pad failed that its steps do not say
    std::optional<RunSummary> summary;
    long long milliseconds = 0;
};

std::string ExitNote(int code) {
    std::string note = "it exited with " + std::to_string(code);
    if (code == kExitUsage) return note + " (usage error)";
    if (code == kExitInternalError) return note + " (internal error)";
    if (code == 127) return note + " (the tool could not be started)";
    return note;
}

// One pad's process, its output and its end.
struct PadRun {
    PadRun(const FleetPad& fleetPad, bool json, std::ostream& out, std::ostream& err)
        : pad(fleetPad),
          outLines(pad.name, json ? TaggedLines::Form::Json : TaggedLines::Form::Text, out),
          errLines(pad.name, TaggedLines::Form::Text, err) {}

    bool Ended() const {
        return !notStarted.empty() ||
               (!process.Running() && process.Fd(PadProcess::kOut) < 0 &&
                process.Fd(PadProcess::kErr) < 0 && process.Fd(PadProcess::kSummary) < 0);
    }

    const FleetPad& pad;
    PadProcess process;
    TaggedLines outLines;
    TaggedLines errLines;
    std::string summaryText;
    Clock::time_point started = Clock::now();
    std::string notStarted;  // why the process was not started
    bool killed = false;     // killed after the stop limit
    bool reported = false;
};

class Fleet {
public:
    Fleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
          const std::vector<PlannedStep>& steps, std::ostream& out, std::ostream& err)
        : m_options(options), m_steps(steps), m_out(out), m_err(err) {
        for (const FleetPad& pad : pads) m_runs.emplace_back(pad, options.json, out, err);
    }

    int Run(const std::string& program) {
        for (PadRun& run : m_runs) Start(run, program);
        // Reported before each wait: pads that never started leave nothing to wait for.
        for (;;) {
            for (PadRun& run : m_runs)
                if (!run.reported && run.Ended()) Report(run);
            if (std::all_of(m_runs.begin(), m_runs.end(),
                            [](const PadRun& run) { return run.reported; }))
                return Total();
            WaitRound();
        }
    }

private:
    void Start(PadRun& run, const std::string& program) {
        if (InterruptRequested()) {
            run.notStarted = "interrupted before it started";
            FinishUnstartedFleet(m_options, {run.pad}, m_steps, Interrupted(), m_err);
            return;
        }
        const std::string problem = run.process.Start(program, PadArguments(m_options, run.pad));
        if (!problem.empty()) run.notStarted = problem;
    }

    int Interrupted() const { return kExitInterruptedBase + InterruptSignal(); }

    // One poll() over every pad's pipes and end, and the interrupt; then what it found.
    void WaitRound() {
        if (InterruptRequested() && !m_forwardedAt) PassInterruptOn();
        if (m_forwardedAt && !m_killed && Clock::now() >= StopDeadline()) KillTheRest();

        struct Watch {
            PadRun* run;
            int stream;  // a PadProcess::Stream, or -1 for the process's end
        };
        std::vector<pollfd> fds;
        std::vector<Watch> watches;
        bool reapByRound = false;
        for (PadRun& run : m_runs) {
            for (int stream : {PadProcess::kOut, PadProcess::kErr, PadProcess::kSummary}) {
                const int fd = run.process.Fd(static_cast<PadProcess::Stream>(stream));
                if (fd < 0) continue;
                fds.push_back({fd, POLLIN, 0});
                watches.push_back({&run, stream});
            }
            if (!run.process.Running()) continue;
            if (run.process.EndFd() < 0) {
                reapByRound = true;
                continue;
            }
            fds.push_back({run.process.EndFd(), POLLIN, 0});
            watches.push_back({&run, -1});
        }
        // The interrupt pipe stays readable once written: it is watched until the interrupt is
        // passed on.
        if (!m_forwardedAt && InterruptFd() >= 0) fds.push_back({InterruptFd(), POLLIN, 0});

        const int ready = poll(fds.data(), fds.size(), Timeout(reapByRound));
        if (ready < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        for (std::size_t i = 0; ready > 0 && i < watches.size(); ++i) {
            if (fds[i].revents == 0) continue;
            if (watches[i].stream < 0) {
                watches[i].run->process.Reap();
            } else {
                Read(*watches[i].run, static_cast<PadProcess::Stream>(watches[i].stream));
            }
        }
        if (reapByRound)
            for (PadRun& run : m_runs) run.process.Reap();
    }

    // The wait ends by itself only at the stop deadline, and each round where processes' ends are
    // looked for.
    int Timeout(bool reapByRound) const {
        int timeout = reapByRound ? kReapRoundMs : -1;
        if (m_forwardedAt && !m_killed) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(StopDeadline() - Clock::now())
                    .count() +
                1;
            const int leftMs = static_cast<int>(std::clamp<long long>(left, 0, 60 * 1000));
            timeout = timeout < 0 ? leftMs : std::min(timeout, leftMs);
        }
        return timeout;
    }

    Clock::time_point StopDeadline() const {
        return *m_forwardedAt + std::chrono::seconds(kFleetStopSeconds);
    }

    void PassInterruptOn() {
        m_forwardedAt = Clock::now();
        for (PadRun& run : m_runs) run.process.Signal(InterruptSignal());
    }

    void KillTheRest() {
        m_killed = true;
        for (PadRun& run : m_runs) {
            if (!run.process.Running()) continue;
            run.killed = true;
            run.process.Signal(SIGKILL);
        }
    }

    void Read(PadRun& run, PadProcess::Stream stream) {
        const ssize_t got = read(run.process.Fd(stream), m_buffer.data(), m_buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (got <= 0) {
            run.process.Close(stream);
            if (stream == PadProcess::kOut) run.outLines.Finish();
            if (stream == PadProcess::kErr) run.errLines.Finish();
            return;
        }
        const std::string_view bytes(m_buffer.data(), static_cast<std::size_t>(got));
        if (stream == PadProcess::kOut) run.outLines.Take(bytes);
        if (stream == PadProcess::kErr) run.errLines.Take(bytes);
        // More than a summary is not one: the text is spoilt, and kept no longer than that.
        if (stream == PadProcess::kSummary && run.summaryText.size() <= kMaxSummaryBytes)
            run.summaryText.append(bytes.substr(0, kMaxSummaryBytes + 1 - run.summaryText.size()));
    }

    PadResult ResultOf(const PadRun& run) const {
        PadResult result;
        result.milliseconds = MillisecondsSince(run.started);
        if (!run.notStarted.empty()) {
            result.outcome = InterruptRequested() ? "interrupted" : "failed";
            result.note = run.notStarted;
            result.milliseconds = 0;
            return result;
        }
        if (run.summaryText.size() <= kMaxSummaryBytes)
            result.summary = ParseSummary(run.summaryText);
        if (result.summary) result.milliseconds = result.summary->milliseconds;
        const int status = run.process.Status();
        if (WIFEXITED(status)) {
            const int code = WEXITSTATUS(status);
            result.exitCode = code;
            if (code == kExitInterruptedBase + SIGINT || code == kExitInterruptedBase + SIGTERM) {
                result.outcome = "interrupted";
            } else if (code == kExitSuccess && result.summary) {
                result.outcome = "passed";
            } else {
                result.outcome = "failed";
                if (code != kExitStepFailed && code != kExitSuccess) result.note = ExitNote(code);
                if (code == kExitSuccess) result.note = "it ended without its summary";
            }
            return result;
        }
        const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        result.outcome =
            m_forwardedAt && !run.killed && signal == InterruptSignal() ? "interrupted" : "failed";
        result.note = run.killed ? "killed: it had not ended " + std::to_string(kFleetStopSeconds) +
                                       " s after the interrupt"
                                 : "ended by signal " + std::to_string(signal) + " (" +
                                       strsignal(signal) + ")";
        return result;
    }

    void Report(PadRun& run) {
        run.reported = true;
        const PadResult result = ResultOf(run);
        if (result.outcome == "passed") ++m_passed;
        if (result.outcome == "failed") ++m_failed;
        if (result.outcome == "interrupted") ++m_interrupted;
        if (result.summary) {
            m_stepCounts.steps += result.summary->steps;
            m_stepCounts.failures += result.summary->failures;
            m_stepCounts.skipped += result.summary->skipped;
        }
        if (m_options.json) {
            Json summary = {{"outcome", result.outcome}};
            AddCounts(summary, result.summary);
            summary["ms"] = result.milliseconds;
            summary["exit_code"] = result.exitCode ? Json(*result.exitCode) : Json(nullptr);
            if (!result.note.empty()) summary["note"] = result.note;
            m_out << Dump(
                         {{"device", run.pad.name}, {"port", run.pad.device}, {"summary", summary}})
                  << '\n';
        } else {
            m_out << '[' << run.pad.name << "] pad " << result.outcome;
            if (!result.note.empty()) m_out << " (" << result.note << ')';
            m_out << ": " << CountsText(result.summary) << ", " << result.milliseconds << " ms\n";
        }
        m_out.flush();
    }

    int Total() {
        const int exitCode = InterruptRequested()           ? Interrupted()
                             : m_failed + m_interrupted > 0 ? kExitStepFailed
                                                            : kExitSuccess;
        const long long ms = MillisecondsSince(m_started);
        if (m_options.json) {
            Json total = {{"pads", m_runs.size()},
                          {"pads_passed", m_passed},
                          {"pads_failed", m_failed},
                          {"pads_interrupted", m_interrupted}};
            AddCounts(total, m_stepCounts);
            total["ms"] = ms;
            total["exit_code"] = exitCode;
            m_out << Dump({{"total", total}}) << '\n';
        } else {
            m_out << "total: " << m_runs.size() << " pads, " << m_passed << " passed, " << m_failed
                  << " failed, " << m_interrupted << " interrupted; " << CountsText(m_stepCounts)
                  << ", " << ms << " ms\n";
        }
        m_out.flush();
        return exitCode;
    }

    static void AddCounts(Json& object, const std::optional<RunSummary>& counts) {
        const auto count = [&counts](int value) { return counts ? Json(value) : Json(nullptr); };
        object["steps"] = count(counts ? counts->steps : 0);
        object["passed"] = count(counts ? counts->steps - counts->failures : 0);
        object["failures"] = count(counts ? counts->failures : 0);
        object["skipped"] = count(counts ? counts->skipped : 0);
    }

    static std::string CountsText(const std::optional<RunSummary>& counts) {
        if (!counts) return "steps unknown";
        return std::to_string(counts->steps - counts->failures) + " steps passed, " +
               std::to_string(counts->failures) + " failed, " + std::to_string(counts->skipped) +
               " not run";
    }

    static std::string Dump(const Json& value) {
        return value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }

    const GlobalOptions& m_options;
    const std::vector<PlannedStep>& m_steps;
    std::ostream& m_out;
    std::ostream& m_err;
    std::list<PadRun> m_runs;  // a list: each run stays where it is, its lines refer to its pad
    std::vector<char> m_buffer = std::vector<char>(kReadChunk);
    Clock::time_point m_started = Clock::now();
    std::optional<Clock::time_point> m_forwardedAt;  // when the interrupt was passed on
    bool m_killed = false;
    int m_passed = 0;
    int m_failed = 0;
    int m_interrupted = 0;
    RunSummary m_stepCounts;  // over the pads whose summary came
};

}  // namespace

int RunPadFleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
                const std::vector<PlannedStep>& steps, const std::string& program,
                std::ostream& out, std::ostream& err) {
    if (InterruptRequested())
        return FinishUnstartedFleet(options, pads, steps, kExitInterruptedBase + InterruptSignal(),
                                    err);
    // The pads' processes are waited for here: none may be reaped behind the wait's back.
    signal(SIGCHLD, SIG_DFL);
    return Fleet(options, pads, steps, out, err).Run(program);
}

int FinishUnstartedFleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
                         const std::vector<PlannedStep>& steps, int exitCode, std::ostream& err) {
    for (const FleetPad& pad : pads) {
        PortTarget target = options.target;
        target.devicePath = pad.device;
        RunRecorder(pad.records, target, steps, options.runFile).Finish(exitCode, err);
    }
    return exitCode;
}

void WriteFleetSummary(int fd, const RunSummary& summary) {
    const std::string text = Json{{"steps", summary.steps},
                                  {"failures", summary.failures},
                                  {"skipped", summary.skipped},
                                  {"ms", summary.milliseconds}}
                                 .dump() +
                             "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        // The parent reports a pad whose summary did not come.
        if (n <= 0) return;
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace cli
