#include "secrets.h"

namespace cli {
namespace {

constexpr const char* kRequest = "request";
constexpr const char* kReply = "reply";

}  // namespace

std::string Masked(std::string_view text) { return std::string(text.size(), '*'); }

void HideRequest(StepOutcome& outcome, std::string masked) {
    if (outcome.request == masked) return;
    outcome.secrets[kRequest] = std::move(outcome.request);
    outcome.request = std::move(masked);
}

void SetSecretField(StepOutcome& outcome, const std::string& name, const std::string& value) {
    outcome.reply[name] = Masked(value);
    outcome.secrets[kReply][name] = value;
}

std::string RevealedRequest(const StepOutcome& outcome) {
    const auto clear = outcome.secrets.find(kRequest);
    return clear != outcome.secrets.end() && clear->is_string() ? clear->get<std::string>()
                                                                : outcome.request;
}

Json RevealedReply(const StepOutcome& outcome) {
    Json reply = outcome.reply;
    const auto fields = outcome.secrets.find(kReply);
    if (fields != outcome.secrets.end() && fields->is_object()) {
        for (const auto& [name, value] : fields->items()) reply[name] = value;
    }
    return reply;
}

}  // namespace cli
