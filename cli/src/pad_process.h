// One pad's process in a run of several pads: the tool started again with one --device, or a
// copy of the running tool that runs that pad. Its
// standard output, standard error and summary come back through pipes, and its end through a
// process descriptor, all of which the parent waits on in one poll().
#pragma once

#include <sys/types.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace cli {

// The descriptor the pad's process writes its summary to.
inline constexpr int kSummaryFd = 3;

// A gate that forked pads' processes wait at until the parent opens it (closes its ends): a pipe
// whose ends stand above the descriptors a new process is given.
class StartGate {
public:
    StartGate();
    ~StartGate() { Open(); }
    StartGate(const StartGate&) = delete;
    StartGate& operator=(const StartGate&) = delete;
    // -1 when no pipe could be made, or once open.
    int ReadEnd() const { return m_ends[0]; }
    void Open();
    // In a forked pad's process: the writing end closed, the reading end left to the caller.
    int TakeReadEnd();

private:
    int m_ends[2] = {-1, -1};
};

// In a pad's process: waits until the gate opens (its writing end closed everywhere), an
// interrupt arrives, or kStartGateSeconds pass; then closes `gate`.
inline constexpr int kStartGateSeconds = 30;
void WaitAtStartGate(int gate);

class PadProcess {
public:
    enum Stream { kOut, kErr, kSummary };

    PadProcess() = default;
    // A process still running is killed and reaped; the pipes are closed.
    ~PadProcess();
    PadProcess(const PadProcess&) = delete;
    PadProcess& operator=(const PadProcess&) = delete;

    // Starts `program` with `args` (args[0] the name it gets) in a process group of its own, so
    // that the terminal's Ctrl-C reaches the parent alone, which passes it on: standard input
    // /dev/null, the interrupt signals blocked until the tool has set up its handlers (a pad's
    // process whose parent is gone is interrupted like the parent: it closes the pad's input
    // and writes its record), and SIGTERM when the parent dies. Its environment is this process's,
    // with the NAME=VALUE entries of `environment` set over it. "" when it started, else why not.
    std::string Start(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& environment = {});

    // Whether StartForked may be used: this process runs one thread only.
    static bool CanFork();
    // As Start, but the new process is a copy of this one that runs `body` and exits with its
    // result, sparing the exec and start-up of the whole tool for each pad. Only while CanFork()
    // holds. The copy gets descriptors 0 to 3 as an exec would (the pipes' other ends closed),
    // blocks the interrupt signals until `body` sets up its handlers
    // (CatchInterruptInForkedProcess), and runs no destructor of the parent's objects; `body`
    // closes what it has of the parent's other processes (ForgetInForkedProcess). Libraries
    // that hold descriptors of their own keep them (the driver renews its cancel pipe itself).
    std::string StartForked(const std::function<int()>& body);
    // In a forked process: closes this process's pipes and end as inherited, without a signal
    // or a wait, and forgets the process.
    void ForgetInForkedProcess();

    // The read end of `stream`; -1 once it has ended (Close).
    int Fd(Stream stream) const { return m_streams[stream]; }
    void Close(Stream stream);
    // Readable once the process has ended; -1 where the kernel has no process descriptors
    // (Reap is then tried on every round of the wait).
    int EndFd() const { return m_endFd; }

    bool Running() const { return m_pid > 0 && !m_reaped; }
    void Signal(int signal) const;
    // Collects the process's end when it has ended; true then (and from then on).
    bool Reap();
    // The wait status of the ended process (waitpid).
    int Status() const { return m_status; }

private:
    // Makes the pipes, forks with the interrupt signals blocked and has the new process run
    // `become`, which must not return.
    std::string Launch(const std::function<void(pid_t, const int (&)[4])>& become);

    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = 0;
    std::array<int, 3> m_streams{-1, -1, -1};
    int m_endFd = -1;
};

}  // namespace cli
