#include "run_record.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "file_io.h"
#include "hex_text.h"
#include "junit_xml.h"
#include "pad_input.h"
#include "pinpad.h"
#include "result_code_text.h"
#include "step_support.h"
#include "tool.h"
#include "tool_help.h"
#include "verdicts.h"

namespace cli {
namespace {

CLI::Validator RecordFile() {
    return CLI::Validator([](std::string& value) { return RecordPathProblem(value); }, "FILE");
}

// Printable text of at most kMaxOperatorBytes bytes of well-formed UTF-8, without control
// characters (C0, DEL, C1): `what` ("the operator's name") in the messages.
CLI::Validator RecordText(const std::string& what, const std::string& kind) {
    return CLI::Validator(
        [what](std::string& value) -> std::string {
            if (value.empty()) return what + " is empty";
            if (value.size() > kMaxOperatorBytes)
                return what + " is longer than " + std::to_string(kMaxOperatorBytes) + " bytes";
            // EscapeText lengthens every control character and stray byte, and doubles the
            // backslashes: anything longer holds some of the former.
            const auto backslashes = std::count(value.begin(), value.end(), '\\');
            if (EscapeText(value).size() != value.size() + static_cast<std::size_t>(backslashes))
                return Quoted(value) + " holds control characters or bytes that are not UTF-8";
            return {};
        },
        kind);
}

std::string UtcText(std::chrono::system_clock::time_point when) {
    const auto sinceEpoch = when.time_since_epoch();
    const std::time_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    const long long milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds);
    return text;
}

Json HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return nullptr;
    return std::string(name);
}

// The unit under test: the label given for it, and the serial and model as the first successful
// version step read them; null fields and the reason when no such step ran.
Json UnitUnderTest(const Json& steps, const std::string& label) {
    Json unit = {{"label", label.empty() ? Json(nullptr) : Json(label)},
                 {"serial", nullptr},
                 {"model", nullptr}};
    std::string note = "the run has no version step";
    for (const Json& step : steps) {
        if (step["operation"] != "version") continue;
        if (step["status"] == "passed") {
            unit["serial"] = step["measured"].value("serial", Json(nullptr));
            unit["model"] = step["measured"].value("model", Json(nullptr));
            unit["from_step"] = step["step"];
            return unit;
        }
        note = step["status"] == "not run" ? "the version step did not run"
                                           : "the version step failed";
    }
    unit["note"] = note;
    return unit;
}

// The driver's result as a check beside the step's own: accepted, or what it was.
Json ChecksOf(const StepOutcome& outcome) {
    Json checks = Json::array();
    if (outcome.result) {
        checks.push_back({{"check", "result"},
                          {"expected", 0},
                          {"actual", *outcome.result},
                          {"ok", *outcome.result == 0 || outcome.ok}});
    }
    for (const Json& check : outcome.checks) checks.push_back(check);
    return checks;
}

Json StepEntry(const StepRecord& record) {
    const StepOutcome& outcome = record.outcome;
    Json entry;
    entry["step"] = record.number;
    entry["line"] = record.line ? Json(*record.line) : Json(nullptr);
    entry["operation"] = record.step->operation;
    entry["status"] = ClassName(ClassOf(outcome));
    entry["started"] = UtcText(record.started);
    entry["request"] = outcome.request;
    entry["result"] = outcome.result ? Json(*outcome.result) : Json(nullptr);
    entry["result_text"] = ResultTextOf(outcome);
    if (outcome.failureReason != LUMENORD_FAILURE_NONE)
        entry["reason"] = padlogic::FailureReasonText(outcome.failureReason);
    entry["ok"] = outcome.ok;
    entry["measured"] = outcome.reply;
    entry["checks"] = ChecksOf(outcome);
    entry["ms"] = record.milliseconds;
    return entry;
}

Json NotRunEntry(std::size_t index, const PlannedStep& planned) {
    return {{"step", index + 1},
            {"line", planned.line ? Json(planned.line) : Json(nullptr)},
            {"operation", planned.step.operation},
            {"status", "not run"}};
}

// The record as its file holds it, indented. Pad texts may carry bytes that are not UTF-8; they
// are replaced, never thrown on.
std::string RecordFileText(const Json& value) {
    return value.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// Writes `content` to `path`; on failure says why on `err` and returns the message.
std::optional<std::string> WriteFile(const char* what, const std::string& path,
                                     const std::string& content, std::ostream& err) {
    const platform::WriteResult written = platform::ReplaceWholeFile(path.c_str(), content);
    if (written.ok()) return std::nullopt;
    const std::string message = std::string("the ") + what + " could not be written to " +
                                Quoted(path) + ": " + written.Reason();
    err << "lumenord: " << EscapeText(message) << '\n';
    return message;
}

}  // namespace

std::string RecordPathProblem(const std::string& path) {
    if (path.empty()) return "no file name was given";
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return Quoted(path) +
                   " is not a regular file (a folder, FIFO, device or link is there)";
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            return Quoted(path) + " is read-only";
    } else if (errno != ENOENT) {
        return "cannot use " + Quoted(path) + ": " + std::strerror(errno);
    }
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "the folder of " + Quoted(path) + " does not exist";
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return "this user may not create files in the folder of " + Quoted(path);
    // What only the write itself would find, at the run's end: a name too long for its
    // temporary copy, say.
    if (const platform::WriteResult checked = platform::CheckReplaceable(path.c_str());
        !checked.ok())
        return "cannot use " + Quoted(path) + ": " + checked.Reason();
    return {};
}

void DeclareRecordOptions(CLI::App& app, RecordOptions& options) {
    app.add_option("--record", options.recordPath,
                   "write the run's test record (JSON) to FILE at its end, atomically")
        ->check(RecordFile());
    app.add_option("--junit", options.junitPath,
                   "write the run as JUnit XML to FILE at its end, atomically")
        ->check(RecordFile());
    app.add_option("--operator", options.operatorName, "the operator named in the test record")
        ->check(RecordText("the operator's name", "NAME"));
    app.add_option("--unit", options.unitLabels,
                   "the label scanned on the unit under test, kept in the test record whatever "
                   "fails; with several --device, one per device in their order")
        ->allow_extra_args(false)
        ->check(RecordText("the unit's label", "LABEL"));
}

void TakeUnitLabels(RecordOptions& options, std::size_t pads) {
    const std::size_t given = options.unitLabels.size();
    if (given != 0 && given != pads)
        RefuseArgument("--unit", std::to_string(given) + " labels for " + std::to_string(pads) +
                                     (pads == 1 ? " pad" : " pads") + ": give one per pad");
    if (pads == 1 && given == 1) options.unitLabel = options.unitLabels.front();
}

void CheckRecordFiles(const RecordOptions& options, const std::string& runFile) {
    namespace fs = std::filesystem;
    const auto same = [](const std::string& a, const std::string& b) {
        std::error_code ignored;
        return !a.empty() && !b.empty() &&
               fs::weakly_canonical(fs::absolute(a), ignored) ==
                   fs::weakly_canonical(fs::absolute(b), ignored);
    };
    if (same(options.recordPath, options.junitPath))
        RefuseArgument("--junit", "the JUnit file and the test record are the same file");
    if (same(options.recordPath, runFile))
        RefuseArgument("--record", "the test record would replace the run file");
    if (same(options.junitPath, runFile))
        RefuseArgument("--junit", "the JUnit file would replace the run file");
}

RunRecorder::RunRecorder(const RecordOptions& options, const PortTarget& target,
                         const std::vector<PlannedStep>& plan, std::string runFile)
    : m_options(options),
      m_port(target.devicePath.empty() ? target.portName : target.devicePath),
      m_plan(plan),
      m_runFile(std::move(runFile)),
      m_started(std::chrono::system_clock::now()),
      m_startedSteady(std::chrono::steady_clock::now()),
      m_baudRate(target.baudRate) {}

void RunRecorder::Step(const StepRecord& record) { m_steps.push_back(StepEntry(record)); }

Json RunRecorder::Record(int exitCode) const {
    Json steps = m_steps;
    for (std::size_t i = steps.size(); i < m_plan.size(); ++i)
        steps.push_back(NotRunEntry(i, m_plan[i]));
    Json record;
    record["record"] = "lumenord test record";
    record["tool_version"] = ToolVersion();
    record["unit"] = UnitUnderTest(steps, m_options.unitLabel);
    record["station"] = HostName();
    record["operator"] =
        m_options.operatorName.empty() ? Json(nullptr) : Json(m_options.operatorName);
    record["port"] = m_port;
    record["baud"] = m_baudRate;
    record["format"] = "8N1";  // the tool opens every pad with 8 data bits, no parity, 1 stop bit
    record["run"] = m_runFile.empty() ? "command line" : m_runFile;
    record["run_sha256"] =
        m_options.runFileSha256.empty() ? Json(nullptr) : Json(m_options.runFileSha256);
    record["started"] = UtcText(m_started);
    record["ended"] = UtcText(m_ended);
    record["outcome"] = ClassName(RunClass(exitCode));
    record["exit_code"] = exitCode;
    record["summary"] = {
        {"steps", m_steps.size()},
        {"failures", CountOf(OutcomeClass::kFailed)},
        {"errors", CountOf(OutcomeClass::kError) + CountOf(OutcomeClass::kAborted)},
        {"not_run", m_plan.size() > m_steps.size() ? m_plan.size() - m_steps.size() : 0},
        {"ms", m_milliseconds}};
    record["steps"] = std::move(steps);
    return record;
}

int RunRecorder::CountOf(OutcomeClass outcomeClass) const {
    const std::string name = ClassName(outcomeClass);
    int count = 0;
    for (const Json& step : m_steps) count += step["status"] == name ? 1 : 0;
    return count;
}

OutcomeClass RunRecorder::RunClass(int exitCode) const {
    if (InterruptRequested()) return OutcomeClass::kAborted;
    if (CountOf(OutcomeClass::kAborted) > 0) return OutcomeClass::kAborted;
    if (CountOf(OutcomeClass::kError) > 0) return OutcomeClass::kError;
    if (CountOf(OutcomeClass::kFailed) > 0) return OutcomeClass::kFailed;
    // No step failed, yet the run did not succeed: a record that could not be written.
    return exitCode == kExitSuccess ? OutcomeClass::kPassed : OutcomeClass::kError;
}

int RunRecorder::Finish(int exitCode, std::ostream& err) {
    m_ended = std::chrono::system_clock::now();
    m_milliseconds = MillisecondsSince(m_startedSteady);
    std::vector<std::string> problems;
    if (!m_options.junitPath.empty()) {
        if (auto problem =
                WriteFile("JUnit file", m_options.junitPath, JunitXml(Record(exitCode)), err))
            problems.push_back(*problem);
    }
    // The record tells the exit code the run ends with, a failed JUnit file included.
    if (!problems.empty() && exitCode == kExitSuccess) exitCode = kExitStepFailed;
    if (!m_options.recordPath.empty()) {
        Json record = Record(exitCode);
        if (!problems.empty()) record["write_errors"] = problems;
        if (WriteFile("test record", m_options.recordPath, RecordFileText(record), err))
            problems.push_back("record");
    }
    return !problems.empty() && exitCode == kExitSuccess ? kExitStepFailed : exitCode;
}

}  // namespace cli
