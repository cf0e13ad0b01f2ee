// One step of a run: an operation parsed from the command line or a run-file line, and what it
// gave when it ran.
#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "pad_port.h"
#include "pinpad.h"

namespace cli {

using Json = nlohmann::ordered_json;

// How a step, or a run, ended, as a line's dashboard sorts it: passed; failed (the pad answered,
// and the answer or a check was wrong, or the pad refused); error (no usable answer: no reply, a
// cut reply, a bad check, the line gone, a file or device problem); aborted (interrupted).
enum class OutcomeClass { kPassed, kFailed, kError, kAborted };

struct StepOutcome {
    // The request text as it went to the driver (bytes as hex), key material masked.
    std::string request;
    std::optional<int> result;  // the driver's result; empty when nothing was sent
    // Why the driver call failed (a LUMENORD_FAILURE_ code), read right after it; 0 when the
    // result is 0 or the driver does not say.
    int failureReason = 0;
    bool ok = false;
    std::string message;          // why the step failed when the driver's result does not say it
    Json reply = Json::object();  // never a clear key, key part, PIN or clear PIN block
    // What --show-secrets shows over them: "request", the request in clear, and "reply", the
    // clear values of masked reply fields (secrets.h).
    Json secrets = Json::object();
    // What the step compared beyond the driver's result, e.g. a verify code against the expected
    // check value: {"check", "expected", "actual", "ok"} each. Never a secret.
    Json checks = Json::array();
    // The step got no usable answer, though the driver's result may say success (a reply cut
    // short, a key record that could not be kept): an error rather than a failure.
    bool noUsableAnswer = false;
    bool aborted = false;  // the run was interrupted while the step ran
};

inline void AddCheck(StepOutcome& outcome, std::string check, Json expected, Json actual, bool ok) {
    outcome.checks.push_back({{"check", std::move(check)},
                              {"expected", std::move(expected)},
                              {"actual", std::move(actual)},
                              {"ok", ok}});
}

class ToolKeyStore;

// The clear value of each key that a step of this run loaded with its clear value known to the
// tool, by key index: what the host checks of later steps compute with. A key found only in the
// key store is not among them (one store serves every pad and the program).
using RunKeys = std::map<std::string, std::string>;

struct StepContext {
    PadPort& port;
    std::ostream& echo;  // where key presses are echoed while the pad takes input
    const ToolKeyStore& keyStore;
    RunKeys& runKeys;
};

// One --expect FIELD=VALUE of a step.
struct Expectation {
    std::string field;
    std::string value;
};

struct Step {
    std::string operation;  // "key clear", "mac", ...
    bool needsPad = true;
    std::function<StepOutcome(StepContext&)> run;
    std::vector<Expectation> expectations;  // compared with the reply once the step ran
};

// The step `operation` that runs `run(plan, context)`: the plan holds what the step's arguments
// made ready for it.
template <typename Plan>
Step MakeStep(std::string operation, StepOutcome (*run)(const Plan&, StepContext&),
              std::type_identity_t<Plan> plan) {
    return Step{std::move(operation),
                true,
                [run, plan = std::move(plan)](StepContext& context) { return run(plan, context); },
                {}};
}

// The outcome of a driver call: ok when it returned 0. Called right after the call, so that the
// reason the driver keeps for this thread's last call is that call's.
inline StepOutcome DriverOutcome(std::string request, int result) {
    StepOutcome outcome;
    outcome.request = std::move(request);
    outcome.result = result;
    outcome.ok = result == 0;
    if (result != 0) outcome.failureReason = Lumenord_LastFailure();
    return outcome;
}

}  // namespace cli
