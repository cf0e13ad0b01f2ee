#include "pad_fleet.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <list>
#include <optional>
#include <ostream>
#include <system_error>

#include "fleet_report.h"
#include "pad_input.h"
#include "pad_process.h"
#include "run_record.h"
#include "tagged_lines.h"
#include "tool.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 64 * 1024;
// Where the kernel has no process descriptors, how often an ended process is looked for.
constexpr int kReapRoundMs = 100;

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
    if (!records.unitLabel.empty()) args.push_back("--unit=" + records.unitLabel);
    if (!records.recordPath.empty()) args.push_back("--record=" + records.recordPath);
    if (!records.junitPath.empty()) args.push_back("--junit=" + records.junitPath);
    args.push_back("--summary-fd=" + std::to_string(kSummaryFd));
    args.push_back("run");
    if (options.keepGoing) args.push_back("--keep-going");
    args.push_back("--");
    args.push_back(options.runFile);
    return args;
}

// Each pad's process keeps a frame trace of its own, named for its device beside the one the
// driver would keep ("logbuf-ttyUSB0.txt"), so that no pad empties or interleaves another's.
std::vector<std::string> PadEnvironment(const FleetPad& pad) {
    constexpr const char* kTraceVariable = "LUMENORD_TRACE_FILE";
    const char* trace = std::getenv(kTraceVariable);
    const std::string base = trace != nullptr && *trace != '\0' ? trace : "logbuf.txt";
    return {std::string(kTraceVariable) + "=" + PerPadPath(base, pad.name)};
}

// One pad's process, its output and its end.
struct PadRun {
    PadRun(const FleetPad& fleetPad, bool json, std::ostream& out, std::ostream& err)
        : pad(fleetPad),
          outLines(pad.name, json ? TaggedLines::Form::Json : TaggedLines::Form::Text, out),
          errLines(pad.name, TaggedLines::Form::Text, err) {}

    bool Ended() const {
        return !end.notStarted.empty() ||
               (!process.Running() && process.Fd(PadProcess::kOut) < 0 &&
                process.Fd(PadProcess::kErr) < 0 && process.Fd(PadProcess::kSummary) < 0);
    }

    const FleetPad& pad;
    PadProcess process;
    TaggedLines outLines;
    TaggedLines errLines;
    Clock::time_point started = Clock::now();
    PadEnd end;  // filled in as the process starts, runs and ends
    bool reported = false;
};

// The options a pad's process runs with: those its arguments (PadArguments) give it.
GlobalOptions PadOptions(const GlobalOptions& options, const FleetPad& pad) {
    GlobalOptions own = options;
    own.devices = {pad.device};
    own.target.devicePath = pad.device;
    own.records = pad.records;
    own.summaryFd = kSummaryFd;
    return own;
}

class Fleet {
public:
    Fleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
          const std::vector<PlannedStep>& steps, const PadRunner& runPad, std::ostream& out,
          std::ostream& err)
        : m_options(options),
          m_steps(steps),
          m_runPad(runPad),
          m_err(err),
          m_reporter(out, options.json) {
        for (const FleetPad& pad : pads) m_runs.emplace_back(pad, options.json, out, err);
    }

    int Run(const std::string& program) {
        // A fork is this very program: another program to start is started.
        m_forkPads = m_runPad && program == kThisProgram && PadProcess::CanFork();
        // Forked pads open their ports and wait at the gate until the last pad has started, so
        // that the first pads' set-up does not hold the later ones' start back.
        if (!m_forkPads) m_gate.Open();
        for (PadRun& run : m_runs) Start(run, program);
        m_gate.Open();  // every pad has started: they send their first frames together
        // Reported before each wait: pads that never started leave nothing to wait for.
        for (;;) {
            for (PadRun& run : m_runs)
                if (!run.reported && run.Ended()) Report(run);
            if (std::all_of(m_runs.begin(), m_runs.end(),
                            [](const PadRun& run) { return run.reported; }))
                return Finish();
            WaitRound();
        }
    }

private:
    void Start(PadRun& run, const std::string& program) {
        if (InterruptRequested()) {
            run.end.notStarted = "interrupted before it started";
            run.end.interruptedBeforeStart = true;
            FinishUnstartedFleet(m_options, {run.pad}, m_steps, Interrupted(), m_err);
            return;
        }
        const std::string problem =
            m_forkPads ? run.process.StartForked([this, &run] { return RunForkedPad(run); })
                       : run.process.Start(program, PadArguments(m_options, run.pad),
                                           PadEnvironment(run.pad));
        if (!problem.empty()) run.end.notStarted = problem;
    }

    // In the pad's forked process: what an exec of the tool with the pad's arguments and
    // environment would do.
    int RunForkedPad(PadRun& own) {
        const FleetPad& pad = own.pad;
        for (PadRun& run : m_runs)
            if (&run != &own) run.process.ForgetInForkedProcess();
        for (const std::string& entry : PadEnvironment(pad)) {
            const std::size_t equals = entry.find('=');
            setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
        }
        CatchInterruptInForkedProcess();
        GlobalOptions options = PadOptions(m_options, pad);
        options.startGateFd = m_gate.TakeReadEnd();
        return m_runPad(options);
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
        for (PadRun& run : m_runs) {
            if (!run.process.Running()) continue;
            run.end.passedOnSignal = InterruptSignal();
            run.process.Signal(InterruptSignal());
        }
    }

    void KillTheRest() {
        m_killed = true;
        for (PadRun& run : m_runs) {
            if (!run.process.Running()) continue;
            run.end.killed = true;
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
        std::string& summary = run.end.summaryText;
        if (stream == PadProcess::kSummary && summary.size() <= kMaxFleetSummaryBytes)
            summary.append(bytes.substr(0, kMaxFleetSummaryBytes + 1 - summary.size()));
    }

    void Report(PadRun& run) {
        run.reported = true;
        run.end.status = run.process.Status();
        run.end.milliseconds = MillisecondsSince(run.started);
        m_reporter.Pad(run.pad.name, run.pad.device, ResultOfPad(run.end));
    }

    int Finish() {
        const int exitCode = InterruptRequested()     ? Interrupted()
                             : m_reporter.AllPassed() ? kExitSuccess
                                                      : kExitStepFailed;
        m_reporter.Total(exitCode, MillisecondsSince(m_started));
        return exitCode;
    }

    const GlobalOptions& m_options;
    const std::vector<PlannedStep>& m_steps;
    const PadRunner& m_runPad;
    bool m_forkPads = false;
    StartGate m_gate;
    std::ostream& m_err;
    FleetReporter m_reporter;
    std::list<PadRun> m_runs;  // a list: each run stays where it is, its lines refer to its pad
    std::vector<char> m_buffer = std::vector<char>(kReadChunk);
    Clock::time_point m_started = Clock::now();
    std::optional<Clock::time_point> m_forwardedAt;  // when the interrupt was passed on
    bool m_killed = false;
};

}  // namespace

int RunPadFleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
                const std::vector<PlannedStep>& steps, const std::string& program,
                const PadRunner& runPad, std::ostream& out, std::ostream& err) {
    if (InterruptRequested())
        return FinishUnstartedFleet(options, pads, steps, kExitInterruptedBase + InterruptSignal(),
                                    err);
    // The pads' processes are waited for here: none may be reaped behind the wait's back.
    signal(SIGCHLD, SIG_DFL);
    return ExitCodeAfterReport(out, err,
                               Fleet(options, pads, steps, runPad, out, err).Run(program));
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

}  // namespace cli
