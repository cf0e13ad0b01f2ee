// Programs run by the benchmarks as processes: started with their output where the bench wants
// it, waited for with a deadline, and the files they make waited for.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace bench {

// Starts `argv` in `dir` with stdin from /dev/null, stdout into `outFd` (or /dev/null) and
// stderr to /dev/null.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir, int outFd = -1);

// Waits for the child to end; its exit status, or -1 when it was killed at the deadline or by a
// signal.
int WaitForExit(pid_t child, std::chrono::milliseconds timeout);

// Waits until something exists at `path`; false when the time-out passed first.
bool WaitForPath(const std::string& path, std::chrono::milliseconds timeout);

}  // namespace bench
