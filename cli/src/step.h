// One step of a run: an operation parsed from the command line or a run-file line, and what it
// gave when it ran.
#pragma once

#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "pad_port.h"

namespace cli {

using Json = nlohmann::ordered_json;

struct StepOutcome {
    std::string request;        // the request text as it went to the driver (bytes as hex)
    std::optional<int> result;  // the driver's result; empty when nothing was sent
    bool ok = false;
    std::string message;  // why the step failed when the driver's result does not say it
    Json reply = Json::object();
};

struct StepContext {
    PadPort& port;
    std::ostream& echo;  // where key presses are echoed while the pad takes input
};

struct Step {
    std::string operation;  // "key clear", "mac", ...
    bool needsPad = true;
    std::function<StepOutcome(StepContext&)> run;
};

// The outcome of a driver call: ok when it returned 0.
inline StepOutcome DriverOutcome(std::string request, int result) {
    StepOutcome outcome;
    outcome.request = std::move(request);
    outcome.result = result;
    outcome.ok = result == 0;
    return outcome;
}

// A step refused on the host before anything reached the pad.
inline StepOutcome LocalFailure(std::string request, std::string message) {
    StepOutcome outcome;
    outcome.request = std::move(request);
    outcome.message = std::move(message);
    return outcome;
}

}  // namespace cli
