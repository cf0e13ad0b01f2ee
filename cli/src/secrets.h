// What a step keeps out of its output unless the user asks: clear keys and key parts, PINs and
// clear PIN blocks. They are masked in the step's request and reply, and their values kept in
// the step's secrets, which only the line and JSON output merge back in (--show-secrets).
#pragma once

#include <string>
#include <string_view>

#include "step.h"

namespace cli {

// One '*' for each character of `text`.
std::string Masked(std::string_view text);

// Shows `masked` as the step's request; the request as it went to the pad becomes a secret.
void HideRequest(StepOutcome& outcome, std::string masked);

// Records the reply field `name` as masked, and its value as a secret.
void SetSecretField(StepOutcome& outcome, const std::string& name, const std::string& value);

// The request and reply with the secrets merged over them: what --show-secrets shows.
std::string RevealedRequest(const StepOutcome& outcome);
Json RevealedReply(const StepOutcome& outcome);

}  // namespace cli
