// Test records for a production line: the whole run as one JSON record (unit under test, station,
// operator, times, outcome, every step with what it measured and compared) and as JUnit XML.
// Both are built from the steps' requests and replies only, which never hold a secret, and are
// written atomically at the end of the run, also when a step failed or the run was interrupted.
#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

#include "pad_port.h"
#include "report.h"
#include "run_file.h"

namespace cli {

inline constexpr std::size_t kMaxOperatorBytes = 64;

struct RecordOptions {
    std::string recordPath;  // empty: no JSON record
    std::string junitPath;   // empty: no JUnit file
    std::string operatorName;
    // --unit, once per device: the label scanned on each unit under test, in the order of the
    // devices; `unitLabel` is the one of this run's pad.
    std::vector<std::string> unitLabels;
    std::string unitLabel;
    std::string runFileSha256;  // of the run file's text as it was read; empty without one
};

// --record FILE, --junit FILE, --operator NAME, --unit LABEL. A file must be a regular file or not
// exist yet in a folder this user may write; anything else is refused before a byte is sent.
void DeclareRecordOptions(CLI::App& app, RecordOptions& options);
// Why `path` cannot take a record, or "" when it can: a regular file that someone may write, or
// no file yet in a folder that this user may write.
std::string RecordPathProblem(const std::string& path);
// What the options cannot check one by one: the two files and the run file are three files.
// Throws CLI::ValidationError.
void CheckRecordFiles(const RecordOptions& options, const std::string& runFile);

// Takes the run's --unit labels: none, or one per pad (`pads`, 1 for a run on one port). A single
// pad's label becomes `unitLabel`. Throws CLI::ValidationError for another count.
void TakeUnitLabels(RecordOptions& options, std::size_t pads);

// Collects the run as its steps end and writes the files at its end.
class RunRecorder {
public:
    RunRecorder(const RecordOptions& options, const PortTarget& target,
                const std::vector<PlannedStep>& plan, std::string runFile);
    void Step(const StepRecord& record);
    // Writes the files. Returns `exitCode`, or kExitStepFailed where that said success but a
    // file could not be written (which `err` then explains).
    int Finish(int exitCode, std::ostream& err);

private:
    // The JSON record of the run, which ended when Finish was called, with `exitCode`.
    Json Record(int exitCode) const;
    // How many of the steps that ran ended in `outcomeClass`.
    int CountOf(OutcomeClass outcomeClass) const;
    // The class of the whole run: the worst of its steps'.
    OutcomeClass RunClass(int exitCode) const;

    const RecordOptions& m_options;
    std::string m_port;
    const std::vector<PlannedStep>& m_plan;
    std::string m_runFile;
    std::chrono::system_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_startedSteady;
    std::chrono::system_clock::time_point m_ended;
    long long m_milliseconds = 0;
    int m_baudRate;
    Json m_steps = Json::array();
};

}  // namespace cli
