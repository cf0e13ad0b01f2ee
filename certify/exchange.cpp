#include "exchange.h"

#include <cstdio>

#include "result_code_text.h"

namespace certify {

bool NoUsableAnswer(int result) {
    return result < 0 || result == PINPAD_ERR_NOT_WRITTEN || result == PINPAD_ERR_EMPTY_READ;
}

std::string ReasonName(int reason) {
    switch (reason) {
        case LUMENORD_FAILURE_NO_REPLY:
            return "no reply";
        case LUMENORD_FAILURE_CUT_REPLY:
            return "cut reply";
        case LUMENORD_FAILURE_LINE_HUNG_UP:
            return "line hung up";
        case LUMENORD_FAILURE_BAD_CHECK:
            return "bad check";
        case LUMENORD_FAILURE_MALFORMED_REPLY:
            return "malformed reply";
        case LUMENORD_FAILURE_REPLY_TOO_LONG:
            return "reply too long";
        case LUMENORD_FAILURE_CANCELLED:
            return "cancelled";
        case LUMENORD_FAILURE_ARGUMENT:
            return "argument refused";
        case LUMENORD_FAILURE_PORT_NOT_OPEN:
            return "port not open";
        case LUMENORD_FAILURE_OPEN_FAILED:
            return "port did not open";
        case LUMENORD_FAILURE_WRITE_FAILED:
            return "write failed";
        default:
            return "no usable answer";
    }
}

std::string ResultDescription(int result) {
    char text[padlogic::kResultTextSize] = {};
    padlogic::ResultCodeToText(result, text);
    char number[32];
    if (NoUsableAnswer(result))
        std::snprintf(number, sizeof number, " (result %d)", result);
    else
        std::snprintf(number, sizeof number, " (status 0x%02X)", static_cast<unsigned>(result));
    return text + std::string(number);
}

bool TakeExchange(CheckResult& check, const Exchange& exchange, long long limitMs) {
    check.ms = exchange.ms;
    check.limitMs = limitMs;
    if (NoUsableAnswer(exchange.result)) {
        check.verdict = Verdict::kError;
        const char* why = padlogic::FailureReasonText(exchange.reason);
        check.measured = "no usable answer";
        check.reason = ReasonName(exchange.reason) + (*why ? std::string(": ") + why : "") + "; " +
                       ResultDescription(exchange.result);
        return false;
    }
    if (exchange.result != PINPAD_OK) {
        check.verdict = Verdict::kFailed;
        check.measured = ResultDescription(exchange.result);
        check.reason = "the pad refused: " + ResultDescription(exchange.result);
        return false;
    }
    if (exchange.ms > static_cast<double>(limitMs)) {
        check.verdict = Verdict::kFailed;
        char took[96];
        std::snprintf(took, sizeof took,
                      "the answer took %.1f ms, beyond the command's time-out of %lld ms",
                      exchange.ms, limitMs);
        check.reason = took;
    }
    return true;
}

}  // namespace certify
