// lumenord certify against padsim as a process: a clean pad conforms, and each fault is caught
// where it lies and nowhere else; Ctrl-C still leaves a certificate, marked incomplete.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "key_store.h"
#include "pad_folder_test.h"
#include "reference_crypto.h"

namespace {

using padsim::test::ChildOptions;
using padsim::test::ChildProcess;
using padsim::test::Finished;
using Json = nlohmann::json;
using namespace std::chrono_literals;

// What padsim types whenever an input mode opens: the typed key part of codes 41-43 (the PIN
// entries take its first four digits, 1234, and complete by their stated length).
constexpr const char* kPadKeys = "1234567890ABCDEF\\r";

class Certify : public cli::test::PadFolderTest {
protected:
    Finished Run(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv{LUMENORD_PROGRAM,
                                      "--device",
                                      m_link,
                                      "--unit",
                                      "LINE-7",
                                      "certify",
                                      "--overwrite-keys",
                                      "--change-settings",
                                      "--report",
                                      m_dir + "/report"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return padsim::test::RunToEnd(argv, m_dir, 240s);
    }
    Json Report() {
        std::ifstream in(m_dir + "/report/certificate.json");
        return Json::parse(in);
    }
};

// How a check under a fault must end: `faulty` says whether the fault lies in it; those end with
// `verdict` and a reason holding `reason`, every other check passed.
struct FaultRow {
    const char* name;
    std::vector<std::string> padOptions;
    std::function<bool(const std::string& family, const Json& check)> faulty;
    const char* verdict;
    const char* reason;
};

bool Command(const Json& check, const char* command) { return check["command"] == command; }

TEST_F(Certify, EachFaultIsCaughtWhereItLiesAndNowhereElse) {
    const FaultRow rows[] = {
        {"clean pad", {}, [](const std::string&, const Json&) { return false; }, "", ""},
        {"wrong MAC data",
         {"--wrong-data", "8"},
         [](const std::string&, const Json& c) { return Command(c, "8"); },
         "failed",
         "differs"},
        {"forced status on data",
         {"--force", "9=E5"},
         [](const std::string&, const Json& c) { return Command(c, "9"); },
         "failed",
         "Unmatchable label or no such key (status 0xE5)"},
        {"no card",
         {"--no-card"},
         [](const std::string& family, const Json&) { return family == "card"; },
         "failed",
         "No Card"},
        {"MAC reply past its time-out",
         {"--delay", "8=5500"},
         [](const std::string&, const Json& c) { return Command(c, "8"); },
         "error",
         "no reply"},
        {"wrong check",
         {"--wrong-check"},
         [](const std::string&, const Json& c) { return !c["ms"].is_null(); },
         "error",
         "bad check"},
    };
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> options{"--keys", kPadKeys};
        options.insert(options.end(), row.padOptions.begin(), row.padOptions.end());
        StartPad(options);
        const Finished run = Run();
        const bool clean = std::string(row.verdict).empty();
        EXPECT_EQ(run.status, clean ? 0 : 1) << run.out << run.err;
        const Json report = Report();
        EXPECT_EQ(report["verdict"], clean ? "conforms" : "does not conform");
        EXPECT_EQ(report["unit"]["label"], "LINE-7");
        if (std::string(row.name) != "wrong check") {
            EXPECT_EQ(report["unit"]["serial"], "0001");
        }
        int faults = 0;
        for (const auto& [family, checks] : report["families"].items()) {
            EXPECT_FALSE(checks.empty()) << family;
            for (const Json& check : checks) {
                SCOPED_TRACE(family + ": " + check.dump());
                if (row.faulty(family, check)) {
                    ++faults;
                    EXPECT_EQ(check["verdict"], row.verdict);
                    EXPECT_NE(check["reason"].get<std::string>().find(row.reason),
                              std::string::npos);
                } else if (std::string(row.name) == "wrong check") {
                    // Only what needs no reply passes; what needs an earlier answer is not run.
                    EXPECT_TRUE(check["verdict"] == "not run" ||
                                check["check"] == "port and line settings");
                } else {
                    EXPECT_EQ(check["verdict"], "passed");
                }
                if (check["verdict"] == "passed" && !check["ms"].is_null()) {
                    EXPECT_LE(check["ms"].get<double>(), check["limit_ms"].get<double>());
                }
            }
        }
        if (!clean) {
            EXPECT_GT(faults, 0);
        }
        EXPECT_EQ(report["counts"]["not_run"] == 0, std::string(row.name) != "wrong check");
    }
}

// The program `name` on the PATH, or "" when there is none.
std::string FindProgram(const std::string& name) {
    const char* path = getenv("PATH");
    std::string folders = path ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

TEST_F(Certify, TheCertificateRendersInABrowser) {
    const std::string chromium = FindProgram("chromium");
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
    StartPad({"--keys", kPadKeys});
    ASSERT_EQ(Run().status, 0);
    const std::string page = "file://" + m_dir + "/report/certificate.html";
    const std::vector<std::string> browser{chromium,
                                           "--headless",
                                           "--no-sandbox",
                                           "--disable-gpu",
                                           "--user-data-dir=" + m_dir + "/browser",
                                           "--window-size=1240,1754"};
    std::vector<std::string> dump = browser;
    dump.insert(dump.end(), {"--dump-dom", page});
    const Finished dom = padsim::test::RunToEnd(dump, m_dir, 90s);
    ASSERT_EQ(dom.status, 0) << dom.err;
    EXPECT_NE(dom.out.find("id=\"verdict\">conforms</p>"), std::string::npos) << dom.out;
    EXPECT_NE(dom.out.find("<th scope=\"row\">serial number</th><td>0001</td>"), std::string::npos);
    for (const char* family :
         {"setup", "keys", "authentication", "PIN", "MAC", "data", "card", "display"}) {
        SCOPED_TRACE(family);
        const std::size_t table = dom.out.find(std::string("<table id=\"family-") + family);
        ASSERT_NE(table, std::string::npos);
        EXPECT_NE(dom.out.find("passed</td>", table), std::string::npos);
    }
    EXPECT_NE(dom.out.find("<svg class=\"chart\""), std::string::npos);
    std::vector<std::string> shoot = browser;
    shoot.insert(shoot.end(), {"--screenshot=" + std::string(CERTIFICATE_SCREENSHOT), page});
    std::filesystem::remove(CERTIFICATE_SCREENSHOT);
    const Finished shot = padsim::test::RunToEnd(shoot, m_dir, 90s);
    ASSERT_EQ(shot.status, 0) << shot.err;
    // A PNG of the window's width: its signature, then the IHDR chunk with the width.
    std::ifstream png(CERTIFICATE_SCREENSHOT, std::ios::binary);
    std::string head(24, '\0');
    ASSERT_TRUE(png.read(head.data(), 24));
    EXPECT_EQ(head.substr(0, 8), "\x89PNG\r\n\x1a\n");
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    EXPECT_EQ(byte(16) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19), 1240);
}

TEST_F(Certify, AnInterruptedCertificationStillWritesItsCertificate) {
    // Nobody types: the certification waits for the typed key part. The unit's serial is markup.
    StartPad({"--serial", "<i>&"});
    ChildProcess tool({LUMENORD_PROGRAM, "--device", m_link, "certify", "--overwrite-keys",
                       "--report", m_dir + "/report"},
                      ChildOptions{m_dir, false, true});
    ASSERT_TRUE(tool.WaitForOutput("type the key part", 60s)) << tool.out();
    tool.Signal(SIGINT);
    EXPECT_EQ(tool.WaitForExit(20s), 128 + SIGINT) << tool.out();
    const Json report = Report();
    EXPECT_EQ(report["verdict"], "incomplete");
    EXPECT_TRUE(report["interrupted"].get<bool>());
    EXPECT_EQ(report["families"]["MAC"][0]["reason"], "interrupted");
    // What the certification had written is put back once the pad's input is closed.
    int restored = 0;
    for (const Json& check : report["families"]["setup"]) {
        if (check["check"].get<std::string>().find("restored") == std::string::npos) continue;
        ++restored;
        EXPECT_EQ(check["verdict"], "passed") << check.dump();
    }
    EXPECT_EQ(restored, 2);
    std::ifstream html(m_dir + "/report/certificate.html");
    const std::string page((std::istreambuf_iterator<char>(html)), {});
    EXPECT_NE(page.find("id=\"verdict\">incomplete<"), std::string::npos);
    // What the pad reports is shown as text, never taken as markup.
    EXPECT_EQ(report["unit"]["serial"], "<i>&");
    EXPECT_NE(page.find("<td>&lt;i&gt;&amp;</td>"), std::string::npos);
    EXPECT_EQ(page.find("<i>&"), std::string::npos);
}

TEST_F(Certify, KeepsItsTestKeysOnlyInAKeyStoreItIsGiven) {
    StartPad({"--keys", kPadKeys});
    ASSERT_EQ(Run().status, 0);
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/KeyStock.txt"));
    const std::string store = m_dir + "/keys.txt";
    const Finished kept =
        padsim::test::RunToEnd({LUMENORD_PROGRAM, "--device", m_link, "--key-store", store,
                                "certify", "--overwrite-keys", "--report", m_dir + "/report"},
                               m_dir, 240s);
    ASSERT_EQ(kept.status, 0) << kept.out << kept.err;
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/KeyStock.txt"));
    EXPECT_EQ(std::filesystem::status(store).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Each key the store keeps is the one whose verify code the pad gave back.
    const padlogic::KeyStore keys(store);
    const Json report = Report();
    int compared = 0;
    for (const Json& check : report["families"]["keys"]) {
        const std::string name = check["check"];
        if (name.rfind("verify code of the key at 3", 0) != 0) continue;
        SCOPED_TRACE(name);
        ++compared;
        const std::string stored = keys.CipherKey(name.substr(name.size() - 2));
        EXPECT_EQ(check["measured"], "verify code " + padsim::test::RefVerifyCode(stored));
    }
    EXPECT_EQ(compared, 2);
    EXPECT_EQ(keys.CipherKey("3F"), "");  // erased
}

TEST_F(Certify, RefusesToStartWithoutLeaveToOverwriteKeys) {
    StartPad();
    const Finished run = padsim::test::RunToEnd(
        {LUMENORD_PROGRAM, "--device", m_link, "certify", "--report", m_dir + "/report"}, m_dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--overwrite-keys"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/report"));
}

}  // namespace
