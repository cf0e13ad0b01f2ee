#include "certificate.h"

#include <filesystem>

#include "file_io.h"

namespace certify {

const char* FamilyName(Family family) {
    switch (family) {
        case Family::kSetup:
            return "setup";
        case Family::kKeys:
            return "keys";
        case Family::kAuthentication:
            return "authentication";
        case Family::kPin:
            return "PIN";
        case Family::kMac:
            return "MAC";
        case Family::kData:
            return "data";
        case Family::kCard:
            return "card";
        case Family::kDisplay:
            return "display";
    }
    return "?";
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::kPassed:
            return "passed";
        case Verdict::kFailed:
            return "failed";
        case Verdict::kError:
            return "error";
        case Verdict::kNotRun:
            return "not run";
    }
    return "?";
}

const char* ConformanceName(Conformance conformance) {
    switch (conformance) {
        case Conformance::kConforms:
            return "conforms";
        case Conformance::kDoesNotConform:
            return "does not conform";
        case Conformance::kIncomplete:
            return "incomplete";
    }
    return "?";
}

Counts CountVerdicts(const std::vector<CheckResult>& checks) {
    Counts counts;
    for (const CheckResult& check : checks) {
        switch (check.verdict) {
            case Verdict::kPassed:
                ++counts.passed;
                break;
            case Verdict::kFailed:
                ++counts.failed;
                break;
            case Verdict::kError:
                ++counts.errors;
                break;
            case Verdict::kNotRun:
                ++counts.notRun;
                break;
        }
    }
    return counts;
}

Conformance Judge(const std::vector<CheckResult>& checks, bool interrupted) {
    if (interrupted) return Conformance::kIncomplete;
    const Counts counts = CountVerdicts(checks);
    // A certificate with nothing checked says nothing about the pad.
    if (counts.passed == 0) return Conformance::kDoesNotConform;
    return counts.failed == 0 && counts.errors == 0 ? Conformance::kConforms
                                                    : Conformance::kDoesNotConform;
}

nlohmann::ordered_json ToJson(const Certificate& certificate) {
    using Json = nlohmann::ordered_json;
    const Counts counts = CountVerdicts(certificate.checks);
    Json families = Json::object();
    for (Family family : kFamilies) {
        Json checks = Json::array();
        for (const CheckResult& check : certificate.checks) {
            if (check.family != family) continue;
            Json item{{"check", check.name},
                      {"command", check.command ? std::string(1, check.command) : std::string()},
                      {"expected", check.expected},
                      {"measured", check.measured},
                      {"verdict", VerdictName(check.verdict)},
                      {"reason", check.reason}};
            item["ms"] = check.ms ? Json(*check.ms) : Json(nullptr);
            item["limit_ms"] = check.ms ? Json(check.limitMs) : Json(nullptr);
            checks.push_back(std::move(item));
        }
        families[FamilyName(family)] = std::move(checks);
    }
    const Unit& unit = certificate.unit;
    return Json{
        {"verdict", ConformanceName(certificate.conformance)},
        {"counts",
         {{"passed", counts.passed},
          {"failed", counts.failed},
          {"errors", counts.errors},
          {"not_run", counts.notRun}}},
        {"unit",
         {{"label", unit.label},
          {"model", unit.model},
          {"serial", unit.serial},
          {"firmware", unit.firmware},
          {"hardware", unit.hardware},
          {"date_code", unit.dateCode},
          {"description", unit.description}}},
        {"device", certificate.device},
        {"baud", certificate.baud},
        {"station", certificate.station},
        {"operator", certificate.operatorName},
        {"date", certificate.date},
        {"tool_version", certificate.toolVersion},
        {"interrupted", certificate.interrupted},
        {"families", std::move(families)},
        {"keys_written", certificate.keysWritten},
        {"changes_left", certificate.changesLeft},
    };
}

std::string WriteReport(const Certificate& certificate, const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code error;
    // A link is not followed: the report goes only into a folder that is one.
    const fs::file_status status = fs::symlink_status(dir, error);
    if (status.type() == fs::file_type::not_found) {
        if (!fs::create_directory(dir, error))
            return "the folder " + dir + " could not be made: " + error.message();
    } else if (status.type() != fs::file_type::directory) {
        return dir + " is not a folder";
    }
    const std::string files[][2] = {
        {dir + "/certificate.html", ToHtml(certificate)},
        {dir + "/certificate.json",
         ToJson(certificate).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
             "\n"}};
    for (const auto& [path, content] : files) {
        const platform::WriteResult written = platform::ReplaceWholeFile(path.c_str(), content);
        if (!written.ok()) return path + " could not be written: " + written.Reason();
    }
    return {};
}

}  // namespace certify
