#include "report.h"

#include <ostream>

#include "hex_text.h"
#include "result_code_text.h"
#include "secrets.h"

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

Json StepJson(const StepRecord& record, bool showSecrets) {
    Json object;
    object["step"] = record.number;
    if (record.line) object["line"] = *record.line;
    object["operation"] = record.step->operation;
    object["request"] = showSecrets ? RevealedRequest(record.outcome) : record.outcome.request;
    object["result"] = record.outcome.result ? Json(*record.outcome.result) : Json(nullptr);
    object["result_text"] = ResultTextOf(record.outcome);
    object["ok"] = record.outcome.ok;
    object["reply"] = showSecrets ? RevealedReply(record.outcome) : record.outcome.reply;
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
    if (outcome.result && *outcome.result != 0) return ResultCodeText(*outcome.result);
    return "success";
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
