#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace padsim::test {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    // Made before the fork: the new process may make no allocation before it execs.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork");
    if (m_pid == 0) {
        const int input = options.pipeInput ? in[0] : open("/dev/null", O_RDONLY);
        dup2(input, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(options.mergeErrors ? out[1] : err[1], STDERR_FILENO);
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    m_inPipe = in[1];
    if (!options.pipeInput) CloseInput();
    m_outPipe = out[0];
    m_errPipe = err[0];
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_exited) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    CloseInput();
    if (m_outPipe >= 0) close(m_outPipe);
    if (m_errPipe >= 0) close(m_errPipe);
}

bool ChildProcess::Collect(Clock::time_point deadline) {
    pollfd fds[2] = {{m_outPipe, POLLIN, 0}, {m_errPipe, POLLIN, 0}};
    if (m_outPipe < 0 && m_errPipe < 0) return false;
    if (poll(fds, 2, RemainingMs(deadline)) <= 0) return true;
    int* pipes[2] = {&m_outPipe, &m_errPipe};
    std::string* texts[2] = {&m_out, &m_err};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = read(*pipes[i], buffer, sizeof buffer);
        if (n > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
            close(*pipes[i]);
            *pipes[i] = -1;
        }
    }
    return true;
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (m_out.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || !Collect(deadline))
            return m_out.find(text) != std::string::npos;
    }
    return true;
}

int ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    // The pipes close when the program ends (and with it anything it started).
    while (Clock::now() < deadline && Collect(deadline)) {
    }
    // A process descriptor becomes readable when the program has exited.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        pollfd exited{pidfd, POLLIN, 0};
        if (Clock::now() >= deadline || pidfd < 0 || poll(&exited, 1, RemainingMs(deadline)) < 0) {
            if (pidfd >= 0) close(pidfd);
            return -1;
        }
    }
    if (pidfd >= 0) close(pidfd);
    m_exited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ChildProcess::Signal(int signal) { kill(m_pid, signal); }

bool ChildProcess::Write(const std::string& text) {
    return m_inPipe >= 0 &&
           write(m_inPipe, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::size_t ChildProcess::UnreadInput() const {
    int queued = 0;
    if (m_inPipe < 0 || ioctl(m_inPipe, FIONREAD, &queued) != 0) return 0;
    return static_cast<std::size_t>(queued);
}

void ChildProcess::CloseInput() {
    if (m_inPipe >= 0) close(m_inPipe);
    m_inPipe = -1;
}

Finished RunToEnd(const std::vector<std::string>& argv, const std::string& workDir,
                  std::chrono::milliseconds timeout) {
    ChildProcess child(argv, {workDir});
    const int status = child.WaitForExit(timeout);
    return {status, child.out(), child.err()};
}

}  // namespace padsim::test
