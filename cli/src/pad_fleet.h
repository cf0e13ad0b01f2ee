// The run file on several pads at once (--device given more than once): one process of the tool
// per pad, since the driver keeps one port per process. The parent passes each process's lines on
// whole and tagged with the pad's name, passes Ctrl-C and SIGTERM on to every process, prints a
// summary per pad as it ends and a total, and ends with 130 or 143 when interrupted, else 1 when
// any pad failed, else 0. Each pad writes its own record files (pad_fleet_plan.h); all share the
// key store, whose writes lock it.
#pragma once

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

// Starts `program` (the tool itself) once per pad and waits for all of them.
int RunPadFleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
                const std::vector<PlannedStep>& steps, const std::string& program,
                std::ostream& out, std::ostream& err);

// An interrupt came before any pad's process started: each pad's record files say so, as one
// pad's would. Returns `exitCode`.
int FinishUnstartedFleet(const GlobalOptions& options, const std::vector<FleetPad>& pads,
                         const std::vector<PlannedStep>& steps, int exitCode, std::ostream& err);

}  // namespace cli
