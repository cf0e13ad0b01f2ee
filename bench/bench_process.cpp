#include "bench_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace bench {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir, int outFd) {
    // Made before the fork: the new process may make no allocation before it execs.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(outFd >= 0 ? outFd : null, 1);
    dup2(null, 2);
    if (chdir(dir.c_str()) != 0) _exit(127);
    execv(args[0], args.data());
    _exit(127);
}

int WaitForExit(pid_t child, std::chrono::milliseconds timeout) {
    if (child <= 0) return -1;
    // A pidfd is readable once the child has ended: one wait, no polling.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    if (pidfd >= 0) {
        pollfd ended{pidfd, POLLIN, 0};
        if (poll(&ended, 1, static_cast<int>(timeout.count())) != 1) kill(child, SIGKILL);
        close(pidfd);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitForPath(const std::string& path, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    struct stat st {};
    while (lstat(path.c_str(), &st) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace bench
