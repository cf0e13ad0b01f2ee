#include "pad_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string_view>

#include "pad_input.h"
#include "tool.h"

namespace cli {
namespace {

// Descriptors for the child are moved to this number or above before it starts, so that putting
// them in place as 0 to 3 cannot overwrite one that is still to be put in place.
constexpr int kHighFd = 10;
constexpr int kExecFailed = 127;

class Pipe {
public:
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        read = fcntl(fds[0], F_DUPFD_CLOEXEC, kHighFd);
        write = fcntl(fds[1], F_DUPFD_CLOEXEC, kHighFd);
        close(fds[0]);
        close(fds[1]);
    }
    ~Pipe() {
        if (read >= 0) close(read);
        if (write >= 0) close(write);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool ok() const { return read >= 0 && write >= 0; }
    int Take() {
        const int fd = read;
        read = -1;
        return fd;
    }

    int read = -1;
    int write = -1;
};

// The interrupt signals blocked in the calling thread while it lives, and the mask restored
// after: a signal cannot reach the new process while it still runs the parent's handler.
class BlockedInterrupts {
public:
    BlockedInterrupts() {
        const sigset_t interrupts = InterruptSignalSet();
        pthread_sigmask(SIG_BLOCK, &interrupts, &m_saved);
    }
    ~BlockedInterrupts() { pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }
    BlockedInterrupts(const BlockedInterrupts&) = delete;
    BlockedInterrupts& operator=(const BlockedInterrupts&) = delete;

private:
    sigset_t m_saved;
};

// In the new process, first: its own process group, SIGTERM when the parent dies, and the
// descriptors 0 to 3 in place. Async-signal-safe calls only.
void EnterPadProcess(pid_t parent, const int (&fds)[4]) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(kExecFailed);  // the parent died before the line above
    for (int target = 0; target < 4; ++target)
        if (dup2(fds[target], target) < 0) _exit(kExecFailed);
}

// Between fork and exec: async-signal-safe calls only.
[[noreturn]] void BecomePadProcess(pid_t parent, const char* program, char* const* argv,
                                   char* const* envp, const int (&fds)[4]) {
    EnterPadProcess(parent, fds);
    execve(program, argv, envp);
    _exit(kExecFailed);
}

// Whether this process runs one thread only: only then may a forked copy of it go on without
// an exec (a lock another thread held at the fork would stay locked in the copy for ever).
bool SingleThreaded() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8) == 1;
    return false;
}

int OpenEndFd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    static_cast<void>(pid);
    return -1;
}

// The "NAME=" of an environment entry "NAME=VALUE".
std::string_view EntryName(std::string_view entry) { return entry.substr(0, entry.find('=') + 1); }

// This process's environment with `entries` (NAME=VALUE) set over it, made before the fork: the
// new process may make no allocation before it execs.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& entries) {
    std::vector<std::string> environment = entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view name = EntryName(*entry);
        const bool replaced =
            std::any_of(entries.begin(), entries.end(),
                        [&](const std::string& own) { return EntryName(own) == name; });
        if (!replaced) environment.emplace_back(*entry);
    }
    return environment;
}

}  // namespace

PadProcess::~PadProcess() {
    if (Running()) {
        Signal(SIGKILL);
        while (waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
    }
    for (int fd : m_streams)
        if (fd >= 0) close(fd);
    if (m_endFd >= 0) close(m_endFd);
}

std::string PadProcess::Start(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<std::string>& environment) {
    // Made before the fork: the new process may make no allocation before it execs.
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::vector<std::string> environmentTexts = EnvironmentWith(environment);
    std::vector<char*> envp;
    envp.reserve(environmentTexts.size() + 1);
    for (const std::string& entry : environmentTexts)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    return Launch([&](pid_t parent, const int(&fds)[4]) {
        BecomePadProcess(parent, program.c_str(), argv.data(), envp.data(), fds);
    });
}

bool PadProcess::CanFork() { return SingleThreaded(); }

std::string PadProcess::StartForked(const std::function<int()>& body) {
    // What the streams hold now would be written again by the copy.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    return Launch([&](pid_t parent, const int(&fds)[4]) {
        EnterPadProcess(parent, fds);
        // What an exec would have closed: the pipes' ends as they were made, now at 0 to 3.
        for (const int fd : fds) close(fd);
        int code = kExitInternalError;
        try {
            code = body();
        } catch (...) {
        }
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        // No destructor of the parent's objects runs here: they own the parent's processes.
        _exit(code);
    });
}

std::string PadProcess::Launch(const std::function<void(pid_t, const int (&)[4])>& become) {
    Pipe out, err, summary;
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int nullInput = input >= 0 ? fcntl(input, F_DUPFD_CLOEXEC, kHighFd) : -1;
    if (input >= 0) close(input);
    if (!out.ok() || !err.ok() || !summary.ok() || nullInput < 0) {
        const int error = errno;
        if (nullInput >= 0) close(nullInput);
        return std::string("no pipe for its output: ") + std::strerror(error);
    }
    const int fds[4] = {nullInput, out.write, err.write, summary.write};
    const pid_t parent = getpid();
    {
        const BlockedInterrupts blocked;
        m_pid = fork();
        if (m_pid == 0) {
            // The parent's ends, which an exec would have closed.
            for (const int fd : {out.read, err.read, summary.read}) close(fd);
            become(parent, fds);
            _exit(kExecFailed);
        }
    }
    const int error = errno;
    close(nullInput);
    if (m_pid < 0) return std::string("it could not be started: ") + std::strerror(error);
    m_streams = {out.Take(), err.Take(), summary.Take()};
    m_endFd = OpenEndFd(m_pid);
    return {};
}

StartGate::StartGate() {
    Pipe pipe;
    if (!pipe.ok()) return;
    m_ends[0] = pipe.Take();
    m_ends[1] = pipe.write;
    pipe.write = -1;
}

int StartGate::TakeReadEnd() {
    if (m_ends[1] >= 0) close(m_ends[1]);
    m_ends[1] = -1;
    const int readEnd = m_ends[0];
    m_ends[0] = -1;
    return readEnd;
}

void StartGate::Open() {
    for (int& end : m_ends) {
        if (end >= 0) close(end);
        end = -1;
    }
}

void WaitAtStartGate(int gate) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kStartGateSeconds);
    while (!InterruptRequested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fds[2] = {{gate, POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
        const int ready = poll(fds, InterruptFd() >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready != 0) break;  // the gate opened (its end closed), an interrupt, or an error
    }
    close(gate);
}

void PadProcess::ForgetInForkedProcess() {
    for (int& fd : m_streams) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    if (m_endFd >= 0) close(m_endFd);
    m_endFd = -1;
    m_pid = -1;
}

void PadProcess::Close(Stream stream) {
    if (m_streams[stream] >= 0) close(m_streams[stream]);
    m_streams[stream] = -1;
}

void PadProcess::Signal(int signal) const {
    if (Running()) kill(m_pid, signal);
}

bool PadProcess::Reap() {
    if (m_reaped || m_pid <= 0) return m_reaped;
    pid_t ended;
    while ((ended = waitpid(m_pid, &m_status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (ended == m_pid) {
        m_reaped = true;
        if (m_endFd >= 0) close(m_endFd);
        m_endFd = -1;
    }
    return m_reaped;
}

}  // namespace cli
