// One timed exchange with the pad through the driver's entry table, and how its outcome becomes
// a check's verdict: the driver's result, the reason behind a failure, the round trip against
// the command's time-out.
#pragma once

#include <chrono>
#include <string>

#include "certification.h"

namespace certify {

struct Exchange {
    int result = 0;
    int reason = 0;  // LUMENORD_FAILURE_ code of a failed call
    double ms = 0;   // to the tenth of a millisecond
};

// Times `call` (a driver call that returns its result) and takes the reason of a failure right
// after it.
template <typename Call>
Exchange Timed(LastFailureFunction lastFailure, Call&& call) {
    const auto start = std::chrono::steady_clock::now();
    Exchange exchange;
    exchange.result = call();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    // NOLINTNEXTLINE(bugprone-integer-division): cut to whole tenths of a millisecond on purpose
    exchange.ms = static_cast<double>(micros / 100) / 10.0;
    if (exchange.result != 0 && lastFailure != nullptr) exchange.reason = lastFailure();
    return exchange;
}

// Whether the driver got no usable answer (a failure of the host side or the line) rather than a
// pad status.
bool NoUsableAnswer(int result);

// The short name of a failure's reason, as the report shows it first: "no reply", "bad check",
// "cut reply", "line hung up", ...; "no usable answer" when the driver does not say.
std::string ReasonName(int reason);

// "Unmatchable label or no such key (status 0xE5)", or for the host side's results the text and
// the number: "excessive time in data reading (result -4)".
std::string ResultDescription(int result);

// Sets `check`'s round trip and, unless the driver returned 0 within the time-out, its verdict
// and reason: a pad status fails it, no usable answer makes it an error. True when the pad
// answered with success (the caller then compares the values).
bool TakeExchange(CheckResult& check, const Exchange& exchange, long long limitMs);

}  // namespace certify
