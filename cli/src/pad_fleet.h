// The run file on several pads at once (--device given more than once): one process of the tool
// per pad, since the driver keeps one port per process. The parent passes each process's lines on
// whole and tagged with the pad's name, passes the interrupt signals on to every process, prints
// a summary per pad as it ends and a total, and ends with 128 + the signal when interrupted, else
// 1 when any pad failed, else 0. Each pad writes its own record files (pad_fleet_plan.h); all share
// the key store, whose writes lock it.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "fleet_report.h"
#include "pad_fleet_plan.h"
#include "pad_process.h"
#include "report.h"
#include "run_file.h"
#include "tool_options.h"

namespace cli {

// How long the pads' processes have after the interrupt was passed on before they are killed:
// each closes its pad's input within a second and writes its records.
inline constexpr int kFleetStopSeconds = 5;

// Runs the steps on the one pad that `padOptions` name, reporting on standard output and
// standard error; the exit code.
using PadRunner = std::function<int(const GlobalOptions& padOptions)>;

// Runs every pad in a process of its own and waits for all of them. When `program` is
// kThisProgram and this process runs one thread only, each process is a fork of this one that
// calls `runPad` (no exec, no second start-up of the tool, the run file parsed once); else
// `program` (the tool itself) is started with the pad's arguments.
int RunPadFleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
                const std::vector<PlannedStep>& steps, const std::string& program,
                const PadRunner& runPad, std::ostream& out, std::ostream& err);

// An interrupt came before any pad's process started: each pad's record files say so, as one
// pad's would. Returns `exitCode`.
int FinishUnstartedFleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
                         const std::vector<PlannedStep>& steps, int exitCode, std::ostream& err);

}  // namespace cli
