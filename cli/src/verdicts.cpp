#include "verdicts.h"

#include <algorithm>
#include <map>

#include "hex_text.h"
#include "key_parts.h"
#include "pinpad.h"

namespace cli {
namespace {

// The fields each step's reply may hold; a step that ends an input mode early also reports
// whether the pad's input was closed ("input_closed").
const std::map<std::string, std::vector<std::string>>& FieldTable() {
    static const std::map<std::string, std::vector<std::string>> table = {
        {"version",
         {"description", "model", "hardware", "firmware", "date_code", "serial", "low_battery"}},
        {"info read", {"customer_info", "main_keys", "left_keys", "right_keys", "low_battery"}},
        {"info write", {}},
        {"keyboard", {}},
        {"control", {"host_baud"}},
        {"keypad", {"keys", "hex", "end", "input_closed"}},
        {"display", {}},
        {"card power-on", {"answer"}},
        {"card status", {"answer"}},
        {"card power-off", {"answer"}},
        {"card apdu", {"data", "sw"}},
        {"key clear",
         {"verify_code", "check_value", "part1_kcv", "part2_kcv", "part3_kcv", "part1", "part2",
          "part3", "characters", "end", "input_closed"}},
        {"key cipher", {"verify_code", "cipher", "check_value"}},
        {"key verify-code", {"verify_code"}},
        {"key erase", {"verify_code"}},
        {"auth init", {"data"}},
        {"auth challenge", {"challenge"}},
        {"auth mutual", {"challenge", "data"}},
        {"des encrypt", {"data"}},
        {"des decrypt", {"data"}},
        {"pin start", {"digits", "end", "input_closed"}},
        {"pin start-short", {"digits", "end", "input_closed"}},
        {"pin read", {"track", "length", "pin_block", "clear_block", "pin"}},
        {"pin renew", {"track", "length", "offset"}},
        {"pin verify", {"track", "length", "match"}},
        {"mac", {"mac"}},
        {"data encrypt", {"data"}},
        {"data decrypt", {"data"}},
        {"ports", {"devices", "mapped"}},
    };
    return table;
}

// A field's value as text: strings as they are, anything else as JSON.
std::string TextOf(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

bool SameValue(const std::string& expected, const std::string& actual) {
    if (expected == actual) return true;
    // Hexadecimal text compares without regard to case.
    return IsHexText(expected) && IsHexText(actual) &&
           padlogic::ToUpper(expected) == padlogic::ToUpper(actual);
}

// The field's value as the pad gave it, secrets included; nothing when the reply lacks it.
std::optional<std::string> ActualValue(const StepOutcome& outcome, const std::string& field,
                                       bool& secret) {
    const auto secrets = outcome.secrets.find("reply");
    if (secrets != outcome.secrets.end() && secrets->contains(field)) {
        secret = true;
        return TextOf((*secrets)[field]);
    }
    secret = false;
    if (!outcome.reply.contains(field)) return std::nullopt;
    return TextOf(outcome.reply[field]);
}

// A shown value is cut, so that a long data field keeps a failure line readable.
std::string Shown(const std::string& value) {
    constexpr std::size_t kShown = 40;
    return value.size() <= kShown ? value : value.substr(0, kShown) + "...";
}

// Fails the step, unless it failed already, with what differed.
void FailWithDifference(StepOutcome& outcome, const std::string& field, const std::string& expected,
                        const std::optional<std::string>& actual, bool secret) {
    if (!outcome.ok) return;
    outcome.ok = false;
    if (secret) {
        outcome.message = field + ": differs from the expected value";
    } else {
        outcome.message = field + ": expected " + Shown(expected) + ", pad gave " +
                          (actual ? Shown(*actual) : std::string("nothing"));
    }
}

void AddSourcedCheck(StepOutcome& outcome, const std::string& field, const char* source,
                     const Json& expected, const Json& actual, bool ok) {
    outcome.checks.push_back({{"check", field},
                              {"source", source},
                              {"expected", expected},
                              {"actual", actual},
                              {"ok", ok}});
}

}  // namespace

const std::vector<std::string>& ReportedFields(const std::string& operation) {
    static const std::vector<std::string> none;
    const auto found = FieldTable().find(operation);
    return found == FieldTable().end() ? none : found->second;
}

void AddExpectOption(CLI::App& command, std::vector<std::string>& texts) {
    command
        .add_option("--expect", texts,
                    "FIELD=VALUE: the step fails unless its reply field FIELD is VALUE (hex "
                    "without regard to case); repeatable")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const auto equals = text.find('=');
                if (equals == std::string::npos || equals == 0)
                    return Quoted(text) + " is not FIELD=VALUE";
                return {};
            },
            "FIELD=VALUE"));
}

std::vector<Expectation> ParseExpectations(const std::string& operation,
                                           const std::vector<std::string>& texts) {
    std::vector<Expectation> expectations;
    const std::vector<std::string>& fields = ReportedFields(operation);
    for (const std::string& text : texts) {
        const auto equals = text.find('=');
        Expectation expectation{text.substr(0, equals), text.substr(equals + 1)};
        if (std::find(fields.begin(), fields.end(), expectation.field) == fields.end()) {
            std::string known;
            for (const std::string& field : fields) known += (known.empty() ? "" : ", ") + field;
            throw CLI::ValidationError(
                "--expect",
                operation + " reports no field " + Quoted(expectation.field) +
                    (known.empty() ? " (it reports none)" : " (it reports " + known + ")"));
        }
        expectations.push_back(std::move(expectation));
    }
    return expectations;
}

void ApplyExpectations(StepOutcome& outcome, const std::vector<Expectation>& expectations) {
    for (const Expectation& expectation : expectations) {
        bool secret = false;
        const std::optional<std::string> actual = ActualValue(outcome, expectation.field, secret);
        const bool same = actual && SameValue(expectation.value, *actual);
        if (secret) {
            AddSourcedCheck(outcome, expectation.field, "expect", "as given",
                            same ? "as expected" : "differs", same);
        } else {
            AddSourcedCheck(outcome, expectation.field, "expect", expectation.value,
                            actual ? Json(*actual) : Json(nullptr), same);
        }
        if (!same)
            FailWithDifference(outcome, expectation.field, expectation.value, actual, secret);
    }
}

void AddHostCheck(StepOutcome& outcome, const std::string& field,
                  const std::optional<std::string>& expected, const std::string& why) {
    bool secret = false;
    const std::optional<std::string> actual = ActualValue(outcome, field, secret);
    if (!expected || !actual) {
        outcome.checks.push_back({{"check", field},
                                  {"source", "host"},
                                  {"made", false},
                                  {"why", expected ? "the pad gave no " + field : why}});
        return;
    }
    const bool same = SameValue(*expected, *actual);
    AddSourcedCheck(outcome, field, "host", *expected, *actual, same);
    if (!same) FailWithDifference(outcome, field, *expected, actual, false);
}

OutcomeClass ClassOf(const StepOutcome& outcome) {
    if (outcome.aborted) return OutcomeClass::kAborted;
    if (outcome.ok) return OutcomeClass::kPassed;
    if (outcome.noUsableAnswer) return OutcomeClass::kError;
    // The driver's own failures (no port, no reply, a frame not written or nothing read) left
    // the pad's answer unknown; a status byte from the pad is its answer.
    if (outcome.result && (*outcome.result < 0 || *outcome.result == PINPAD_ERR_NOT_WRITTEN ||
                           *outcome.result == PINPAD_ERR_EMPTY_READ))
        return OutcomeClass::kError;
    if (outcome.result) return OutcomeClass::kFailed;  // the pad refused, or its answer was wrong
    const bool checkFailed =
        std::any_of(outcome.checks.begin(), outcome.checks.end(),
                    [](const Json& check) { return check.value("ok", true) == false; });
    // Nothing was sent (a key the store does not hold, a device that would not open): not the
    // pad's answer.
    return checkFailed ? OutcomeClass::kFailed : OutcomeClass::kError;
}

const char* ClassName(OutcomeClass outcomeClass) {
    switch (outcomeClass) {
        case OutcomeClass::kPassed:
            return "passed";
        case OutcomeClass::kFailed:
            return "failed";
        case OutcomeClass::kError:
            return "error";
        case OutcomeClass::kAborted:
            return "aborted";
    }
    return "error";
}

}  // namespace cli
