// How steps are reported: one short line each, or one JSON object each with --json.
#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>

#include "step.h"

namespace cli {

struct StepRecord {
    int number = 0;           // 1, 2, ... in the order the steps ran
    std::optional<int> line;  // run-file line
    const Step* step = nullptr;
    StepOutcome outcome;
    long long milliseconds = 0;
    std::chrono::system_clock::time_point started{};  // when the step began, for records
};

// The time from `start` until now, as steps, runs and pads report it.
inline long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

struct RunSummary {
    int steps = 0;
    int failures = 0;
    int skipped = 0;
    long long milliseconds = 0;
};

// The operator text for a driver result code.
std::string ResultCodeText(int code);
// `value` as one line of JSON. Pad texts may carry bytes that are not UTF-8; they are replaced,
// never thrown on.
std::string Dump(const Json& value);
// The text that stands for a step's result: its own message, the driver's result text, or
// "success".
std::string ResultTextOf(const StepOutcome& outcome);

// `exitCode`, unless the report could not be written to `out` (a full disk behind it): a report
// that nobody can read is no success, so `err` then says why and a successful run ends with
// kExitStepFailed.
int ExitCodeAfterReport(std::ostream& out, std::ostream& err, int exitCode);

class Reporter {
public:
    // What a reporter prints: `quiet` only the steps that failed, and the summary; with
    // `showSecrets` each step's secrets are merged over its request and reply.
    struct Style {
        bool json = false;
        bool quiet = false;
        bool showSecrets = false;
    };
    Reporter(std::ostream& out, Style style)
        : m_out(out), m_json(style.json), m_quiet(style.quiet), m_showSecrets(style.showSecrets) {}
    void Step(const StepRecord& record);
    void Summary(const RunSummary& summary);

private:
    std::ostream& m_out;
    bool m_json;
    bool m_quiet;
    bool m_showSecrets;
};

}  // namespace cli
