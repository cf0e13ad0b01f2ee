// One step of a run: an operation parsed from the command line or a run-file line, and what it
// gave when it ran.
#pragma once

#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <type_traits>

#include "pad_port.h"

namespace cli {

using Json = nlohmann::ordered_json;

struct StepOutcome {
    // The request text as it went to the driver (bytes as hex), key material masked.
    std::string request;
    std::optional<int> result;  // the driver's result; empty when nothing was sent
    bool ok = false;
    std::string message;          // why the step failed when the driver's result does not say it
    Json reply = Json::object();  // never a clear key, key part, PIN or clear PIN block
    // What --show-secrets shows over them: "request", the request in clear, and "reply", the
    // clear values of masked reply fields (secrets.h).
    Json secrets = Json::object();
    // What the step compared beyond the driver's result, e.g. a verify code against the expected
    // check value: {"check", "expected", "actual", "ok"} each. Never a secret.
    Json checks = Json::array();
};

inline void AddCheck(StepOutcome& outcome, std::string check, Json expected, Json actual, bool ok) {
    outcome.checks.push_back({{"check", std::move(check)},
                              {"expected", std::move(expected)},
                              {"actual", std::move(actual)},
                              {"ok", ok}});
}

class ToolKeyStore;

struct StepContext {
    PadPort& port;
    std::ostream& echo;  // where key presses are echoed while the pad takes input
    const ToolKeyStore& keyStore;
};

struct Step {
    std::string operation;  // "key clear", "mac", ...
    bool needsPad = true;
    std::function<StepOutcome(StepContext&)> run;
};

// The step `operation` that runs `run(plan, context)`: the plan holds what the step's arguments
// made ready for it.
template <typename Plan>
Step MakeStep(std::string operation, StepOutcome (*run)(const Plan&, StepContext&),
              std::type_identity_t<Plan> plan) {
    return Step{std::move(operation), true,
                [run, plan = std::move(plan)](StepContext& context) { return run(plan, context); }};
}

// The outcome of a driver call: ok when it returned 0.
inline StepOutcome DriverOutcome(std::string request, int result) {
    StepOutcome outcome;
    outcome.request = std::move(request);
    outcome.result = result;
    outcome.ok = result == 0;
    return outcome;
}

}  // namespace cli
