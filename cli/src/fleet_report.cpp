#include "fleet_report.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "pad_fleet.h"
#include "pad_input.h"
#include "run_file.h"
#include "tool.h"

namespace cli {
namespace {

// The exit code of a process that could not start the tool.
constexpr int kExitNotExecuted = 127;

std::string ExitNote(int code) {
    std::string note = "it exited with " + std::to_string(code);
    if (code == kExitUsage) return note + " (usage error)";
    if (code == kExitInternalError) return note + " (internal error)";
    if (code == kExitNotExecuted) return note + " (the tool could not be started)";
    return note;
}

bool IsInterruptedExit(int code) {
    return std::any_of(std::begin(kInterruptSignals), std::end(kInterruptSignals),
                       [code](int signal) { return code == kExitInterruptedBase + signal; });
}

void ResultOfExit(int code, PadResult& result) {
    result.exitCode = code;
    if (IsInterruptedExit(code)) {
        result.outcome = "interrupted";
    } else if (code == kExitSuccess && result.summary) {
        result.outcome = "passed";
    } else {
        result.outcome = "failed";
        if (code == kExitSuccess) result.note = "it ended without its summary";
        if (code != kExitSuccess && code != kExitStepFailed) result.note = ExitNote(code);
    }
}

void ResultOfSignal(const PadEnd& end, PadResult& result) {
    const int signal = WIFSIGNALED(end.status) ? WTERMSIG(end.status) : 0;
    result.outcome = end.passedOnSignal != 0 && !end.killed && signal == end.passedOnSignal
                         ? "interrupted"
                         : "failed";
    result.note =
        end.killed ? "killed: it had not ended " + std::to_string(kFleetStopSeconds) +
                         " s after the interrupt"
                   : "ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
}

void AddCounts(Json& object, const std::optional<RunSummary>& counts) {
    const auto count = [&counts](int value) { return counts ? Json(value) : Json(nullptr); };
    object["steps"] = count(counts ? counts->steps : 0);
    object["passed"] = count(counts ? counts->steps - counts->failures : 0);
    object["failures"] = count(counts ? counts->failures : 0);
    object["skipped"] = count(counts ? counts->skipped : 0);
}

std::string CountsText(const std::optional<RunSummary>& counts) {
    if (!counts) return "steps unknown";
    return std::to_string(counts->steps - counts->failures) + " steps passed, " +
           std::to_string(counts->failures) + " failed, " + std::to_string(counts->skipped) +
           " not run";
}

}  // namespace

PadResult ResultOfPad(const PadEnd& end) {
    PadResult result;
    if (!end.notStarted.empty()) {
        result.outcome = end.interruptedBeforeStart ? "interrupted" : "failed";
        result.note = end.notStarted;
        return result;
    }
    result.summary = ParseFleetSummary(end.summaryText);
    result.milliseconds = result.summary ? result.summary->milliseconds : end.milliseconds;
    if (WIFEXITED(end.status)) {
        ResultOfExit(WEXITSTATUS(end.status), result);
    } else {
        ResultOfSignal(end, result);
    }
    return result;
}

void FleetReporter::Pad(const std::string& name, const std::string& device,
                        const PadResult& result) {
    ++m_pads;
    if (result.outcome == "passed") ++m_passed;
    if (result.outcome == "failed") ++m_failed;
    if (result.outcome == "interrupted") ++m_interrupted;
    if (result.summary) {
        m_steps.steps += result.summary->steps;
        m_steps.failures += result.summary->failures;
        m_steps.skipped += result.summary->skipped;
    }
    if (m_json) {
        Json summary = {{"outcome", result.outcome}};
        AddCounts(summary, result.summary);
        summary["ms"] = result.milliseconds;
        summary["exit_code"] = result.exitCode ? Json(*result.exitCode) : Json(nullptr);
        if (!result.note.empty()) summary["note"] = result.note;
        m_out << Dump({{"device", name}, {"port", device}, {"summary", summary}}) << '\n';
    } else {
        m_out << '[' << name << "] pad " << result.outcome;
        if (!result.note.empty()) m_out << " (" << result.note << ')';
        m_out << ": " << CountsText(result.summary) << ", " << result.milliseconds << " ms\n";
    }
    m_out.flush();
}

void FleetReporter::Total(int exitCode, long long milliseconds) {
    if (m_json) {
        Json total = {{"pads", m_pads},
                      {"pads_passed", m_passed},
                      {"pads_failed", m_failed},
                      {"pads_interrupted", m_interrupted}};
        AddCounts(total, m_steps);
        total["ms"] = milliseconds;
        total["exit_code"] = exitCode;
        m_out << Dump({{"total", total}}) << '\n';
    } else {
        m_out << "total: " << m_pads << " pads, " << m_passed << " passed, " << m_failed
              << " failed, " << m_interrupted << " interrupted; " << CountsText(m_steps) << ", "
              << milliseconds << " ms\n";
    }
    m_out.flush();
}

void WriteFleetSummary(int fd, const RunSummary& summary) {
    const std::string text = Json{{"steps", summary.steps},
                                  {"failures", summary.failures},
                                  {"skipped", summary.skipped},
                                  {"ms", summary.milliseconds}}
                                 .dump() +
                             "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        // The parent reports a pad whose summary did not come.
        if (n <= 0) return;
        written += static_cast<std::size_t>(n);
    }
}

std::optional<RunSummary> ParseFleetSummary(const std::string& text) {
    if (text.size() > kMaxFleetSummaryBytes) return std::nullopt;
    const Json object = Json::parse(text, nullptr, false);
    if (!object.is_object()) return std::nullopt;
    RunSummary summary;
    for (auto [field, value] :
         {std::pair{"steps", &summary.steps}, std::pair{"failures", &summary.failures},
          std::pair{"skipped", &summary.skipped}}) {
        if (!object.contains(field) || !object[field].is_number_integer()) return std::nullopt;
        const auto number = object[field].get<long long>();
        if (number < 0 || number > static_cast<long long>(kMaxRunFileBytes)) return std::nullopt;
        *value = static_cast<int>(number);
    }
    if (!object.contains("ms") || !object["ms"].is_number_integer()) return std::nullopt;
    summary.milliseconds = object["ms"].get<long long>();
    return summary;
}

}  // namespace cli
