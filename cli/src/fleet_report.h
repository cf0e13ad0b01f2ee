// What a run of several pads says about each pad and about all of them: the outcome of a pad
// from how its process ended and the summary it sent, a summary per pad and the total, as lines
// or as JSON objects. Also the summary a pad's process sends its parent.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>

#include "report.h"

namespace cli {

// How a pad's process ended, as the parent saw it.
struct PadEnd {
    std::string notStarted;  // why no process was started for the pad
    bool interruptedBeforeStart = false;
    int status = 0;              // the wait status of the ended process
    bool killed = false;         // killed since it outlived the stop limit
    int passedOnSignal = 0;      // the interrupt the parent passed on to it, or 0
    std::string summaryText;     // what it sent as its summary
    long long milliseconds = 0;  // from its start to its end
};

struct PadResult {
    std::string outcome;  // "passed", "failed" or "interrupted"
    std::optional<int> exitCode;
    std::string note;  // how a pad ended that its steps do not tell
    std::optional<RunSummary> summary;
    long long milliseconds = 0;  // the run's own time when the summary came
};

PadResult ResultOfPad(const PadEnd& end);

class FleetReporter {
public:
    FleetReporter(std::ostream& out, bool json) : m_out(out), m_json(json) {}
    // "[NAME] pad OUTCOME (note): P steps passed, F failed, S not run, T ms", or an object
    // {"device", "port", "summary"}.
    void Pad(const std::string& name, const std::string& device, const PadResult& result);
    // The total over the pads so far: "total: ..." or {"total": {...}}.
    void Total(int exitCode, long long milliseconds);
    // Whether every pad so far passed.
    bool AllPassed() const { return m_failed + m_interrupted == 0; }

private:
    std::ostream& m_out;
    bool m_json;
    int m_pads = 0;
    int m_passed = 0;
    int m_failed = 0;
    int m_interrupted = 0;
    RunSummary m_steps;  // over the pads whose summary came
};

// A summary is one short JSON object; a longer text is not one.
inline constexpr std::size_t kMaxFleetSummaryBytes = 1024;

// The summary a pad's process sends on `fd` (one JSON object) and how the parent reads it; a
// text that is no such summary gives nothing.
void WriteFleetSummary(int fd, const RunSummary& summary);
std::optional<RunSummary> ParseFleetSummary(const std::string& text);

}  // namespace cli
