#include "pad_fleet_plan.h"

#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "hex_text.h"
#include "open_failure.h"
#include "secret_input.h"
#include "step_support.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// A device's name is at most this long in the output and in file names.
constexpr std::size_t kMaxPadName = 48;

std::string AbsolutePath(const std::string& path) {
    std::error_code ignored;
    return fs::absolute(path, ignored).lexically_normal().string();
}

// The device's file name with every character other than letters, digits, '.', '_' and '-'
// replaced by '_'; "pad" when nothing is left or it would name a hidden file.
std::string SafeName(const std::string& device) {
    std::string name = fs::path(device).filename().string().substr(0, kMaxPadName);
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!plain) c = '_';
    }
    return name.empty() || name.front() == '.' ? "pad" + name : name;
}

// The same character device behind two paths.
bool SameDevice(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode) && first.st_rdev == second.st_rdev;
}

std::string Canonical(const std::string& path) {
    std::error_code ignored;
    return fs::weakly_canonical(fs::absolute(path, ignored), ignored).string();
}

// The pad's record files, each checked as --record and --junit check theirs.
void CheckPadRecords(const RecordOptions& records, const std::string& runFile) {
    for (const auto& [option, path] :
         {std::pair{"--record", records.recordPath}, std::pair{"--junit", records.junitPath}}) {
        if (path.empty()) continue;
        if (const std::string problem = RecordPathProblem(path); !problem.empty())
            RefuseArgument(option, problem);
    }
    CheckRecordFiles(records, runFile);
}

// No two pads write one file: names that differ can still meet ("x.json" for pad "b-a" and
// "x-b.json" for pad "a").
void RefuseSharedFiles(const std::vector<FleetPad>& pads) {
    std::set<std::string> files;
    for (const FleetPad& pad : pads) {
        for (const std::string& path : {pad.records.recordPath, pad.records.junitPath}) {
            if (!path.empty() && !files.insert(Canonical(path)).second)
                RefuseArgument("--record", "two pads would write " + Quoted(path));
        }
    }
}

}  // namespace

void CheckFleetArguments(const GlobalOptions& options, bool runFile) {
    if (options.devices.size() < 2) return;
    if (!runFile) RefuseArgument("--device", "several devices run a run file only: give run FILE");
    if (options.runFile == "-")
        RefuseArgument("FILE",
                       "standard input can feed one pad only: give the run file's name for "
                       "several devices");
    for (std::size_t i = 0; i < options.devices.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const std::string& a = options.devices[j];
            const std::string& b = options.devices[i];
            if (AbsolutePath(a) == AbsolutePath(b) || SameDevice(a, b))
                RefuseArgument("--device", Quoted(b) + " is the same device as " + Quoted(a));
        }
    }
    // Each pad's process reads the run file again; none can ask for a key on standard input.
    ReserveStandardInput("several pads run the file");
}

std::vector<FleetPad> NameFleet(const GlobalOptions& options) {
    std::vector<std::string> devices;
    for (const std::string& device : options.devices) devices.push_back(AbsolutePath(device));
    const std::vector<std::string> names = PadNames(devices);
    std::vector<FleetPad> pads;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        RecordOptions records = options.records;
        records.unitLabels.clear();
        if (i < options.records.unitLabels.size())
            records.unitLabel = options.records.unitLabels[i];
        if (!records.recordPath.empty())
            records.recordPath = PerPadPath(records.recordPath, names[i]);
        if (!records.junitPath.empty()) records.junitPath = PerPadPath(records.junitPath, names[i]);
        pads.push_back({names[i], devices[i], std::move(records)});
    }
    return pads;
}

std::vector<FleetPad> PlanFleet(const GlobalOptions& options) {
    std::vector<FleetPad> pads = NameFleet(options);
    // Every device that cannot be opened is named at once: a rack is mended in one pass.
    std::string unopened;
    for (const FleetPad& pad : pads) {
        if (const auto why = FindOpenFailure(pad.device))
            unopened += (unopened.empty() ? "cannot open " : "; cannot open ") +
                        Shortened(pad.device) + ": " + *why;
    }
    if (!unopened.empty()) RefuseArgument("--device", unopened);
    for (const FleetPad& pad : pads) CheckPadRecords(pad.records, options.runFile);
    RefuseSharedFiles(pads);
    return pads;
}

std::string PerPadPath(const std::string& path, const std::string& name) {
    const fs::path given(path);
    const std::string file = given.stem().string() + "-" + name + given.extension().string();
    return given.has_parent_path() ? (given.parent_path() / file).string() : file;
}

std::vector<std::string> PadNames(const std::vector<std::string>& devices) {
    std::vector<std::string> names;
    names.reserve(devices.size());
    for (const std::string& device : devices) names.push_back(SafeName(device));
    // A device keeps its own name; the second of two alike gets "-2", the third "-3", skipping
    // names that other devices have.
    std::set<std::string> taken(names.begin(), names.end());
    std::set<std::string> given;
    for (std::string& name : names) {
        if (given.insert(name).second) continue;
        for (int n = 2;; ++n) {
            const std::string other = name + "-" + std::to_string(n);
            if (taken.insert(other).second) {
                given.insert(other);
                name = other;
                break;
            }
        }
    }
    return names;
}

}  // namespace cli
