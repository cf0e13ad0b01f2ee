// The lumenord program: global options, one step from the command line or the steps of a run
// file, and the exit code (0 every step succeeded, 1 a step failed, 2 usage error, 128 + the
// signal for SIGINT, SIGTERM, SIGHUP or SIGPIPE, 70 an internal error).
#pragma once

#include <iosfwd>

namespace cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitStepFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInternalError = 70;  // nothing in the tool expected what happened
inline constexpr int kExitInterruptedBase = 128;

// The running program itself, as `program`: a pad's process may then be a fork of this one.
inline constexpr const char* kThisProgram = "/proc/self/exe";

// `program` is the tool's own executable, started once per pad when --device is given more than
// once (pad_fleet.h), or forked when it is kThisProgram; without it such a run is refused.
int RunTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const char* program = nullptr);

}  // namespace cli
