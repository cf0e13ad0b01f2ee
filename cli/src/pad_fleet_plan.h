// What a run of several pads at once (--device given more than once) checks before it starts
// anything: the arguments, each pad's device and record files; and the name each pad goes by in
// the output and in its files.
#pragma once

#include <string>
#include <vector>

#include "run_record.h"
#include "tool_options.h"

namespace cli {

struct FleetPad {
    std::string name;       // the device's file name, safe for a file name, unique in the run
    std::string device;     // the device's absolute path
    RecordOptions records;  // the pad's own record and JUnit file
};

// Several --device take `run FILE` only, a FILE other than '-' (standard input can feed one run),
// and no device twice (the paths made absolute, and a device behind two links). Throws
// CLI::ParseError.
void CheckFleetArguments(const GlobalOptions& options, bool runFile);

// The pads of the run in the order of the command line, named, with their record files.
std::vector<FleetPad> NameFleet(const GlobalOptions& options);
// NameFleet, checked. Throws CLI::ParseError when a device
// cannot be opened as a pad's port (open_failure.h) or a pad's record file cannot be written.
std::vector<FleetPad> PlanFleet(const GlobalOptions& options);

// `path` with "-NAME" before its extension: "run.json" -> "run-ttyUSB0.json".
std::string PerPadPath(const std::string& path, const std::string& name);

// Each device's name, told apart where two are the same: "ttyUSB0", "3", "3-2".
std::vector<std::string> PadNames(const std::vector<std::string>& devices);

}  // namespace cli
