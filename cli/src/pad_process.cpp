#include "pad_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "pad_input.h"

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

// In the new process, between fork and exec: async-signal-safe calls only.
[[noreturn]] void BecomePadProcess(pid_t parent, const char* program, char* const* argv,
                                   char* const* envp, const int (&fds)[4]) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(kExecFailed);  // the parent died before the line above
    for (int target = 0; target < 4; ++target)
        if (dup2(fds[target], target) < 0) _exit(kExecFailed);
    execve(program, argv, envp);
    _exit(kExecFailed);
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
    Pipe out, err, summary;
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int nullInput = input >= 0 ? fcntl(input, F_DUPFD_CLOEXEC, kHighFd) : -1;
    if (input >= 0) close(input);
    if (!out.ok() || !err.ok() || !summary.ok() || nullInput < 0) {
        const int error = errno;
        if (nullInput >= 0) close(nullInput);
        return std::string("no pipe for its output: ") + std::strerror(error);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::vector<std::string> environmentTexts = EnvironmentWith(environment);
    std::vector<char*> envp;
    for (const std::string& entry : environmentTexts)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const int fds[4] = {nullInput, out.write, err.write, summary.write};
    const pid_t parent = getpid();
    {
        const BlockedInterrupts blocked;
        m_pid = fork();
        if (m_pid == 0) BecomePadProcess(parent, program.c_str(), argv.data(), envp.data(), fds);
    }
    const int error = errno;
    close(nullInput);
    if (m_pid < 0) return std::string("it could not be started: ") + std::strerror(error);
    m_streams = {out.Take(), err.Take(), summary.Take()};
    m_endFd = OpenEndFd(m_pid);
    return {};
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
