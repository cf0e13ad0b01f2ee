#include "certify_step.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <ostream>

#include "certification.h"
#include "hex_text.h"
#include "interruption.h"
#include "key_store_records.h"
#include "open_failure.h"
#include "pad_input.h"
#include "pad_port.h"
#include "step_support.h"
#include "tool.h"
#include "tool_help.h"
#include "tool_key_store.h"

namespace cli {
namespace {

// The driver as this program links it, in the shape of the entry table.
shell::DriverEntries LinkedDriver() {
    shell::DriverEntries driver;
    driver.PinPad_EnablePort = &PinPad_EnablePort;
    driver.PinPad_DisablePort = &PinPad_DisablePort;
    driver.PinPad_SetCustInfo = &PinPad_SetCustInfo;
    driver.PinPad_GetCustInfo = &PinPad_GetCustInfo;
    driver.PinPad_SetKeyboardValue = &PinPad_SetKeyboardValue;
    driver.PinPad_SetControlCode = &PinPad_SetControlCode;
    driver.PinPad_DownloadKey = &PinPad_DownloadKey;
    driver.PinPad_DownloadEncryptKey = &PinPad_DownloadEncryptKey;
    driver.PinPad_InitAuthorization = &PinPad_InitAuthorization;
    driver.PinPad_BidirectionalAuthorization = &PinPad_BidirectionalAuthorization;
    driver.PinPad_EnablePin = &PinPad_EnablePin;
    driver.PinPad_GetPinValue = &PinPad_GetPinValue;
    driver.PinPad_MakeMac = &PinPad_MakeMac;
    driver.PinPad_EncryptData = &PinPad_EncryptData;
    driver.PinPad_TriUntriDes = &PinPad_TriUntriDes;
    driver.PinPad_ReadOneByte = &PinPad_ReadOneByte;
    driver.PinPad_GetChallenge = &PinPad_GetChallenge;
    driver.PinPad_IC_Control = &PinPad_IC_Control;
    driver.PinPad_IC_Access = &PinPad_IC_Access;
    driver.PinPad_DispInfoLcd = &PinPad_DispInfoLcd;
    return driver;
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// How long closing the pad's input and putting back its settings may take after an interrupt.
constexpr std::chrono::milliseconds kRestoreLimit{3000};

// Each check as a line (or a JSON object), prompts on the terminal's error stream.
class ToolOperator : public certify::Operator {
public:
    ToolOperator(std::ostream& out, std::ostream& err, bool json, bool quiet)
        : m_out(out), m_err(err), m_json(json), m_quiet(quiet) {}

    void Progress(int done, int total, const std::string& stage) override {
        if (m_json || m_quiet || done == total) return;
        m_out << "-- " << stage << " (" << done + 1 << "/" << total << ")\n" << std::flush;
    }
    void Prompt(const std::string& text) override {
        m_err << "lumenord: " << text << '\n' << std::flush;
    }
    void Checked(const certify::CheckResult& check) override {
        if (m_quiet && (check.verdict == certify::Verdict::kPassed ||
                        check.verdict == certify::Verdict::kNotRun))
            return;
        if (m_json) {
            nlohmann::ordered_json line{{"family", certify::FamilyName(check.family)},
                                        {"check", check.name},
                                        {"verdict", certify::VerdictName(check.verdict)},
                                        {"expected", check.expected},
                                        {"measured", check.measured},
                                        {"reason", check.reason}};
            if (check.ms) line["ms"] = *check.ms, line["limit_ms"] = check.limitMs;
            m_out << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                  << '\n'
                  << std::flush;
            return;
        }
        m_out << '[' << certify::VerdictName(check.verdict) << "] "
              << certify::FamilyName(check.family) << ": " << EscapeText(check.name);
        if (check.ms) {
            char took[64];
            std::snprintf(took, sizeof took, " (%.1f of %lld ms)", *check.ms, check.limitMs);
            m_out << took;
        }
        if (!check.reason.empty()) m_out << ": " << EscapeText(check.reason);
        m_out << '\n' << std::flush;
    }
    bool Interrupted() override { return InterruptRequested(); }
    void AfterInterrupt(const std::function<void()>& work) override {
        CallAfterInterrupt(kRestoreLimit, [&work] {
            work();
            return 0;
        });
    }

private:
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_json;
    bool m_quiet;
};

void Summarize(const certify::Certificate& certificate, const std::string& reportDir, bool json,
               std::ostream& out) {
    const certify::Counts counts = certify::CountVerdicts(certificate.checks);
    if (json) {
        out << nlohmann::ordered_json{{"certificate",
                                       certify::ConformanceName(certificate.conformance)},
                                      {"passed", counts.passed},
                                      {"failed", counts.failed},
                                      {"errors", counts.errors},
                                      {"not_run", counts.notRun},
                                      {"report", reportDir}}
                   .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
            << '\n';
        return;
    }
    out << "certificate: " << certify::ConformanceName(certificate.conformance) << " ("
        << counts.passed << " passed, " << counts.failed << " failed, " << counts.errors
        << " errors, " << counts.notRun << " not run)";
    if (!reportDir.empty()) out << "; report in " << EscapeText(reportDir) << "/certificate.html";
    out << '\n';
}

}  // namespace

CLI::App* AddCertifyCommand(CLI::App& app, CertifyOptions& options) {
    CLI::App* certify = app.add_subcommand(
        "certify",
        "test the pad against the whole protocol and write a conformance certificate (changes "
        "its keys: needs --overwrite-keys)");
    certify->add_flag("--overwrite-keys", options.overwriteKeys,
                      "allow the test keys to replace the keys of the indexes the report lists");
    certify->add_option("--report", options.reportDir,
                        "folder for certificate.html and certificate.json");
    certify->add_option("--pin", options.pin, "the PIN typed on the pad for each PIN format")
        ->check(DecimalText(4, 8))
        ->capture_default_str();
    certify->add_flag("--change-settings", options.changeSettings,
                      "also run what cannot be read back or undone (control codes, initialize "
                      "attestation); the report lists what it left");
    certify->add_flag("--skip-typed", options.skipTyped,
                      "leave out the keys typed on the pad (codes 41-43)");
    certify->add_option("--sockets", options.sockets, "card sockets to test, 1-8")
        ->delimiter(',')
        ->check(CLI::Range(1, 8))
        ->capture_default_str();
    certify->add_option("--station", options.station,
                        "the station named in the report (default: this host's name)");
    return certify;
}

void CheckCertifyOptions(const CLI::App& app, const GlobalOptions& global,
                         CertifyOptions& options) {
    if (!options.overwriteKeys)
        RefuseArgument("--overwrite-keys",
                       "certify loads test keys over the pad's own keys; give --overwrite-keys to "
                       "allow it");
    if (app.count("--key-store") > 0) options.keyStore = global.keyStore;
}

int RunCertify(const CertifyOptions& options, const GlobalOptions& global, std::ostream& out,
               std::ostream& err) {
    PadPort port(global.target);
    certify::Line line{[&port] { return port.EnsureOpen(); },
                       [&port](int baud) { return port.Reopen(baud); },
                       [&port](int result) { return OpenFailureMessage(port.Target(), result); }};
    certify::Settings settings;
    settings.changeSettings = options.changeSettings;
    settings.skipTyped = options.skipTyped;
    settings.pin = options.pin;
    settings.sockets = options.sockets;
    settings.baud = global.target.baudRate;
    settings.device = port.Describe();
    settings.unitLabel = global.records.unitLabel;
    settings.station = options.station.empty() ? HostName() : options.station;
    settings.operatorName = global.records.operatorName;
    settings.toolVersion = ToolVersion();
    ToolOperator person(out, err, global.json, global.quiet);
    const certify::Certificate certificate =
        certify::Certify(LinkedDriver(), &Lumenord_LastFailure, line, settings, person);
    int exitCode = certificate.interrupted ? kExitInterruptedBase + InterruptSignal()
                   : certificate.conformance == certify::Conformance::kConforms ? kExitSuccess
                                                                                : kExitStepFailed;
    if (!options.keyStore.empty()) {
        const ToolKeyStore store(options.keyStore);
        const std::string problem = certify::RecordLoads(certificate, *store.store());
        if (!problem.empty()) {
            err << "lumenord: the test keys the pad took could not be recorded in "
                << EscapeText(options.keyStore) << ": " << EscapeText(problem) << '\n';
            if (exitCode == kExitSuccess) exitCode = kExitStepFailed;
        }
    }
    if (!options.reportDir.empty()) {
        const std::string problem = certify::WriteReport(certificate, options.reportDir);
        if (!problem.empty()) {
            err << "lumenord: the certificate could not be written: " << EscapeText(problem)
                << '\n';
            if (exitCode == kExitSuccess) exitCode = kExitStepFailed;
        }
    }
    Summarize(certificate, options.reportDir, global.json, out);
    return ExitCodeAfterReport(out, err, exitCode);
}

}  // namespace cli
