// What a certification of a pad found: every check with its verdict, the unit, where and when it
// ran, the keys it wrote and the changes it left on the pad. The report writers read only this.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace certify {

// The families the report groups the checks in, in the report's order.
enum class Family { kSetup, kKeys, kAuthentication, kPin, kMac, kData, kCard, kDisplay };
inline constexpr Family kFamilies[] = {Family::kSetup, Family::kKeys,   Family::kAuthentication,
                                       Family::kPin,   Family::kMac,    Family::kData,
                                       Family::kCard,  Family::kDisplay};
// "setup", "keys", "authentication", "PIN", "MAC", "data", "card", "display".
const char* FamilyName(Family family);

// passed: the pad answered as it must; failed: it answered, wrongly, or refused; error: no usable
// answer (no reply, a bad check, a cut reply, the line gone); not run: left out, with the reason.
enum class Verdict { kPassed, kFailed, kError, kNotRun };
const char* VerdictName(Verdict verdict);  // "passed", "failed", "error", "not run"

struct CheckResult {
    Family family = Family::kSetup;
    std::string name;
    char command = '\0';  // the command byte of its exchange; '\0' for a check without one
    std::string expected;
    std::string measured;
    Verdict verdict = Verdict::kNotRun;
    std::string reason;        // why it failed, ended in error or was not run
    std::optional<double> ms;  // the exchange's round trip in ms (0.1 ms), when one was made
    long long limitMs = 0;     // the exchange's time-out
};

// The unit as the pad's information area names it, and the label scanned on it.
struct Unit {
    std::string model;
    std::string serial;
    std::string firmware;
    std::string hardware;
    std::string dateCode;
    std::string description;
    std::string label;
};

// conforms: every check that ran passed; does not conform: one failed or ended in error;
// incomplete: the certification was interrupted.
enum class Conformance { kConforms, kDoesNotConform, kIncomplete };
const char* ConformanceName(Conformance conformance);  // "conforms", ...

struct Counts {
    int passed = 0;
    int failed = 0;
    int errors = 0;
    int notRun = 0;
};

// A key the certification loaded and the pad took, for a key store that is to keep it; never
// part of the report.
struct KeyLoad {
    enum class Kind { kClear, kTyped, kCipher, kErased };
    Kind kind = Kind::kClear;
    std::string index;
    std::array<std::string, 3> parts;  // clear: as sent; typed: the part typed at its place
    std::string value;                 // the clear value
    int code = 0;                      // the combination code of a clear or typed key
    std::string decryptIndex;          // cipher and erased
    std::string tag;                   // cipher: "TMK", ...; erased: "NOK"
};

struct Certificate {
    Conformance conformance = Conformance::kIncomplete;
    Unit unit;
    std::string device;
    int baud = 0;
    std::string station;
    std::string operatorName;
    std::string date;  // UTC, ISO 8601
    std::string toolVersion;
    std::vector<CheckResult> checks;
    std::vector<std::string> keysWritten;  // one line per key index the certification wrote
    std::vector<std::string> changesLeft;  // what the pad keeps of the certification
    bool interrupted = false;
    // For a key store: the keys in the order they were loaded, the authentication data the pad
    // returned, the PIN time-out it was given.
    std::vector<KeyLoad> loads;
    std::optional<std::string> authData;
    std::optional<int> pinTimeoutSeconds;
};

Counts CountVerdicts(const std::vector<CheckResult>& checks);
Conformance Judge(const std::vector<CheckResult>& checks, bool interrupted);

// The certificate as a database takes it.
nlohmann::ordered_json ToJson(const Certificate& certificate);
// The certificate as people read it: one self-contained page (no scripts, fonts or pictures
// from elsewhere), laid out for A4.
std::string ToHtml(const Certificate& certificate);

// Writes certificate.html and certificate.json into the folder `dir`, each replaced as a whole.
// "" when both were written, else why not.
std::string WriteReport(const Certificate& certificate, const std::string& dir);

}  // namespace certify
