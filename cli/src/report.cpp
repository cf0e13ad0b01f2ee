#include "report.h"

#include <ostream>

#include "hex_text.h"
#include "result_code_text.h"
#include "secrets.h"
#include "tool.h"
#include "verdicts.h"

namespace cli {
namespace {

// "name=value name=value" of the reply's fields.
std::string ReplyText(const Json& reply) {
    std::string text;
    for (const auto& [name, value] : reply.items()) {
        if (!text.empty()) text += ' ';
        text += name + '=' + (value.is_string() ? value.get<std::string>() : Dump(value));
    }
    return text;
}

// What the host and the expectations checked, for the line of a step that passed: "mac checked
// (host)", "mac not checked (host: why)", "sw checked (expect)".
std::string SourcedChecksText(const Json& checks) {
    std::string text;
    for (const Json& check : checks) {
        if (!check.contains("source")) continue;
        if (!text.empty()) text += "; ";
        const bool made = check.value("made", true);
        text += check.value("check", "");
        text += made ? " checked (" : " not checked (";
        text += check.value("source", "");
        if (!made) text += ": " + check.value("why", "");
        text += ")";
    }
    return text;
}

Json StepJson(const StepRecord& record, bool showSecrets) {
    Json object;
    object["step"] = record.number;
    if (record.line) object["line"] = *record.line;
    object["operation"] = record.step->operation;
    object["request"] = showSecrets ? RevealedRequest(record.outcome) : record.outcome.request;
    object["result"] = record.outcome.result ? Json(*record.outcome.result) : Json(nullptr);
    object["result_text"] = ResultTextOf(record.outcome);
    if (record.outcome.failureReason != LUMENORD_FAILURE_NONE)
        object["reason"] = padlogic::FailureReasonText(record.outcome.failureReason);
    object["ok"] = record.outcome.ok;
    object["class"] = ClassName(ClassOf(record.outcome));
    object["reply"] = showSecrets ? RevealedReply(record.outcome) : record.outcome.reply;
    if (!record.outcome.checks.empty()) object["checks"] = record.outcome.checks;
    object["ms"] = record.milliseconds;
    return object;
}

}  // namespace

std::string Dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ResultCodeText(int code) {
    char text[padlogic::kResultTextSize] = {};
    return padlogic::ResultCodeToText(code, text);
}

std::string ResultTextOf(const StepOutcome& outcome) {
    if (!outcome.message.empty()) return outcome.message;
    if (outcome.result && *outcome.result != 0) {
        std::string text = ResultCodeText(*outcome.result);
        // Why the driver call failed, where the driver says: "excessive time in data reading:
        // the line hung up; is the pad unplugged?".
        if (outcome.failureReason != LUMENORD_FAILURE_NONE)
            text += std::string(": ") + padlogic::FailureReasonText(outcome.failureReason);
        return text;
    }
    return "success";
}

int ExitCodeAfterReport(std::ostream& out, std::ostream& err, int exitCode) {
    out.flush();
    if (out) return exitCode;
    err << "lumenord: the report could not be written to standard output\n";
    return exitCode == kExitSuccess ? kExitStepFailed : exitCode;
}

void Reporter::Step(const StepRecord& record) {
    if (m_quiet && record.outcome.ok) return;
    if (m_json) {
        m_out << Dump(StepJson(record, m_showSecrets)) << '\n';
    } else {
        const StepOutcome& outcome = record.outcome;
        // Pad texts and run-file words are escaped: one step stays one line on a terminal.
        if (record.line) m_out << "line " << *record.line << ": ";
        m_out << (outcome.ok ? "ok   " : "FAIL ") << record.step->operation;
        if (outcome.ok) {
            const std::string fields =
                ReplyText(m_showSecrets ? RevealedReply(outcome) : outcome.reply);
            if (!fields.empty()) m_out << ": " << EscapeText(fields);
            const std::string checked = SourcedChecksText(outcome.checks);
            if (!checked.empty()) m_out << " [" << EscapeText(checked) << ']';
            if (outcome.result && *outcome.result != 0)
                m_out << " [" << EscapeText(ResultTextOf(outcome)) << ']';
        } else {
            m_out << ": " << EscapeText(ResultTextOf(outcome));
            if (outcome.result && *outcome.result != 0)
                m_out << " (result " << *outcome.result << ')';
        }
        m_out << " (" << record.milliseconds << " ms)\n";
    }
    m_out.flush();
}

void Reporter::Summary(const RunSummary& summary) {
    if (m_json) {
        Json object;
        object["summary"] = {{"steps", summary.steps},
                             {"failures", summary.failures},
                             {"skipped", summary.skipped},
                             {"ms", summary.milliseconds}};
        m_out << Dump(object) << '\n';
    } else {
        m_out << "run: " << summary.steps << " steps, " << summary.failures << " failed, "
              << summary.skipped << " not run, " << summary.milliseconds << " ms\n";
    }
    m_out.flush();
}

}  // namespace cli
