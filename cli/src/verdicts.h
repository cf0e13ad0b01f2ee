// What a step is expected to report (--expect FIELD=VALUE on any step), the checks the host makes
// of the pad's answers on its own, and the class each step ends in. A differing field fails the
// step with both values; a secret field is compared, never shown.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "step.h"

namespace cli {

// The reply fields that the step `operation` reports, which --expect may name.
const std::vector<std::string>& ReportedFields(const std::string& operation);

// Adds --expect FIELD=VALUE (repeatable) to a step's command; the texts land in `texts`.
void AddExpectOption(CLI::App& command, std::vector<std::string>& texts);
// The expectations of `texts` for the step `operation`. A field the step does not report is a
// usage error (CLI::ValidationError naming --expect), raised before anything is sent.
std::vector<Expectation> ParseExpectations(const std::string& operation,
                                           const std::vector<std::string>& texts);

// Compares the step's reply with `expectations`: each comparison is a check with the source
// "expect"; the first field that differs fails the step: "mac: expected 1A2B..., pad gave 3C4D...".
// Hexadecimal values compare without regard to case.
void ApplyExpectations(StepOutcome& outcome, const std::vector<Expectation>& expectations);

// The host's own computation of what the pad must answer (`expected`, none when the host could
// not make it, `why` says why), compared with the pad's `actual` field `field`: a check with the
// source "host"; a difference fails the step as a differing expectation does. A check not made is
// reported as such, never as passed.
void AddHostCheck(StepOutcome& outcome, const std::string& field,
                  const std::optional<std::string>& expected, const std::string& why);

// The class of a step that ended with `outcome`.
OutcomeClass ClassOf(const StepOutcome& outcome);
// "passed", "failed", "error", "aborted".
const char* ClassName(OutcomeClass outcomeClass);

}  // namespace cli
