// Test records of a run: --record (JSON) and --junit (XML) written by lumenord as a process
// against padsim and a scripted pad, each file parsed (the XML by python3's xml.etree) and checked
// field by field; passed, failed and interrupted runs, hostile pad text and a record that cannot
// be written. The option checks run in this process through RunTool.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "in_process_tool.h"
#include "junit_xml.h"
#include "pad_folder_test.h"
#include "pty_peer.h"
#include "tool.h"

namespace {

using cli::test::JsonLines;
using cli::test::RunInProcess;
using cli::test::ToolRun;

using padsim::test::ChildProcess;
using padsim::test::Finished;
using Json = nlohmann::json;

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

Json ReadJsonFile(const std::string& path) {
    std::ifstream file(path);
    return Json::parse(file);
}

// The JUnit file as python3's xml.etree reads it: the suite's attributes, its properties and
// each test case with its failure or skip.
Json ParseJunit(const std::string& path, const std::string& workDir) {
    const char* script = R"(
import json, sys, xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot()
cases = []
for case in suite.findall('testcase'):
    failure = case.find('failure')
    error = case.find('error')
    skipped = case.find('skipped')
    cases.append({'attrib': case.attrib, 'skipped': skipped is not None,
                  'skipped_message': None if skipped is None else skipped.get('message'),
                  'failure': None if failure is None else failure.get('message'),
                  'failure_text': None if failure is None else failure.text,
                  'error': None if error is None else error.get('message')})
print(json.dumps({'tag': suite.tag, 'attrib': suite.attrib, 'cases': cases,
                  'properties': {p.get('name'): p.get('value') for p in suite.iter('property')}}))
)";
    const Finished parsed =
        padsim::test::RunToEnd({"/usr/bin/python3", "-c", script, path}, workDir);
    EXPECT_EQ(parsed.status, 0) << parsed.err;
    return parsed.status == 0 ? Json::parse(parsed.out) : Json();
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

std::string Replaced(std::string text, const std::string& bytes) {
    for (char byte : bytes) {
        for (auto at = text.find(byte); at != std::string::npos; at = text.find(byte, at))
            text.replace(at, 1, kReplacement);
    }
    return text;
}

class Records : public cli::test::PadFolderTest {
protected:
    void SetUp() override {
        PadFolderTest::SetUp();
        m_record = m_dir + "/record.json";
        m_junit = m_dir + "/junit.xml";
    }
    std::vector<std::string> ToolArgs(const std::string& device,
                                      const std::vector<std::string>& args) {
        std::vector<std::string> argv{LUMENORD_PROGRAM, "--device", device,  "--record",
                                      m_record,         "--junit",  m_junit, "--json"};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    std::string m_record, m_junit;
};

// The SHA-256 of a file as sha256sum gives it.
std::string Sha256Of(const std::string& path, const std::string& workDir) {
    const Finished sum = padsim::test::RunToEnd({"/usr/bin/sha256sum", path}, workDir);
    return sum.out.substr(0, 64);
}

// The acceptance run: every step in the record as the JSON output shows it (request and reply,
// which never hold a secret), the unit from its label and the version step, what the record
// names the run by, and one passing test case each, named by line and family.
TEST_F(Records, AcceptanceRunIsRecordedStepByStep) {
    StartPad({"--keys", "1234"});
    const Finished run =
        padsim::test::RunToEnd(ToolArgs(m_link, {"--operator", "Åsa <Lind> & \"Co\"", "--unit",
                                                 "LINE-0042", "run", ACCEPTANCE_SCRIPT}),
                               m_dir);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<Json> lines = JsonLines(run.out);
    const Json record = ReadJsonFile(m_record);

    EXPECT_EQ(
        record["unit"],
        Json({{"label", "LINE-0042"}, {"serial", "0001"}, {"model", "SIM731"}, {"from_step", 1}}));
    EXPECT_EQ(record["tool_version"], LUMENORD_VERSION_TEXT);
    EXPECT_EQ(record["baud"], 9600);
    EXPECT_EQ(record["format"], "8N1");
    EXPECT_EQ(record["run_sha256"], Sha256Of(ACCEPTANCE_SCRIPT, m_dir));
    EXPECT_EQ(record["station"], HostName());
    EXPECT_EQ(record["operator"], "Åsa <Lind> & \"Co\"");
    EXPECT_EQ(record["port"], m_link);
    EXPECT_EQ(record["run"], ACCEPTANCE_SCRIPT);
    const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    EXPECT_TRUE(std::regex_match(record["started"].get<std::string>(), utc)) << record["started"];
    EXPECT_TRUE(std::regex_match(record["ended"].get<std::string>(), utc)) << record["ended"];
    EXPECT_LE(record["started"].get<std::string>(), record["ended"].get<std::string>());
    EXPECT_EQ(record["outcome"], "passed");
    EXPECT_EQ(record["exit_code"], 0);
    EXPECT_EQ(record["summary"]["steps"], 13);
    EXPECT_EQ(record["summary"]["not_run"], 0);

    ASSERT_EQ(record["steps"].size(), lines.size() - 1);
    for (std::size_t i = 0; i < record["steps"].size(); ++i) {
        const Json& step = record["steps"][i];
        SCOPED_TRACE(step.dump());
        for (const char* field :
             {"step", "line", "operation", "request", "result", "result_text", "ok", "ms"})
            EXPECT_EQ(step[field], lines[i][field]) << field;
        EXPECT_EQ(step["measured"], lines[i]["reply"]);
        EXPECT_EQ(step["status"], "passed");
        EXPECT_EQ(lines[i]["class"], "passed");
        EXPECT_TRUE(std::regex_match(step["started"].get<std::string>(), utc));
        EXPECT_EQ(step["checks"][0],
                  Json({{"check", "result"}, {"expected", 0}, {"actual", 0}, {"ok", true}}));
    }
    // The parts' and the keys' check values, compared before sending and with the pad's code.
    const Json& clearKey = record["steps"][1]["checks"];
    ASSERT_EQ(clearKey.size(), 6u) << clearKey;
    EXPECT_EQ(clearKey[1], Json({{"check", "check_value of part 1"},
                                 {"expected", "08D7B4FB"},
                                 {"actual", "08D7B4FB"},
                                 {"ok", true}}));
    EXPECT_EQ(clearKey[5], Json({{"check", "verify_code"},
                                 {"expected", "89AFC628"},
                                 {"actual", "89AFC628"},
                                 {"ok", true}}));
    EXPECT_EQ(record["steps"][5]["checks"][1]["expected"], "68ECB348");
    // The MAC, computed by the host from the MAC key the run loaded, and as the file expects it.
    const Json& mac = record["steps"][7]["checks"];
    ASSERT_EQ(mac.size(), 3u) << mac;
    EXPECT_EQ(mac[1]["source"], "host");
    EXPECT_EQ(mac[1]["actual"], record["steps"][7]["measured"]["mac"]);
    EXPECT_EQ(mac[1]["expected"], mac[1]["actual"]);
    EXPECT_EQ(mac[2]["source"], "expect");
    EXPECT_EQ(record["steps"][9]["checks"][1], Json({{"check", "pin"},
                                                     {"source", "expect"},
                                                     {"expected", "as given"},
                                                     {"actual", "as expected"},
                                                     {"ok", true}}));

    const Json junit = ParseJunit(m_junit, m_dir);
    EXPECT_EQ(junit["tag"], "testsuite");
    EXPECT_EQ(junit["attrib"]["tests"], "13");
    EXPECT_EQ(junit["attrib"]["failures"], "0");
    EXPECT_EQ(junit["attrib"]["skipped"], "0");
    EXPECT_EQ(junit["attrib"]["hostname"], HostName());
    EXPECT_EQ(junit["attrib"]["name"], m_link + " LINE-0042");
    EXPECT_EQ(junit["properties"]["unit"], "LINE-0042");
    EXPECT_EQ(junit["properties"]["serial"], "0001");
    EXPECT_EQ(junit["properties"]["operator"], "Åsa <Lind> & \"Co\"");
    ASSERT_EQ(junit["cases"].size(), 13u);
    EXPECT_EQ(junit["cases"][7]["attrib"],
              Json({{"name", "line " + std::to_string(lines[7]["line"].get<int>()) + ": mac"},
                    {"classname", "mac"},
                    {"time", (std::ostringstream() << std::fixed << std::setprecision(3)
                                                   << lines[7]["ms"].get<int>() / 1000.0)
                                 .str()}}));
    for (const Json& testCase : junit["cases"]) EXPECT_TRUE(testCase["failure"].is_null());

    // --show-secrets shows the clear keys and the PIN on the terminal, never in the files.
    const Finished revealed = padsim::test::RunToEnd(
        ToolArgs(m_link, {"--show-secrets", "run", ACCEPTANCE_SCRIPT}), m_dir);
    ASSERT_EQ(revealed.status, 0) << revealed.out << revealed.err;
    const std::string files =
        lumenord::test::ReadFileText(m_record) + lumenord::test::ReadFileText(m_junit);
    for (const char* secret : {"0123456789ABCDEFFEDCBA9876543210",
                               "1F2E3D4C5B6A79880897A6B5C4D3E2F1", "\"pin\":\"1234\""}) {
        EXPECT_NE(revealed.out.find(secret), std::string::npos) << secret;
        EXPECT_EQ(files.find(secret), std::string::npos) << secret;
    }
}

// A pad that answers with control characters, markup and bytes that are not UTF-8: the step
// fails, the steps after it are not run, the unit stays unknown, and both files still parse, with
// the characters that XML forbids replaced.
TEST_F(Records, FailedStepWithHostileReplyIsRecordedAndEscaped) {
    lumenord::test::PtyPeer pad;
    const std::string hostile = "\x1b<&\"'\xff\x01]]>AAAAAA";
    pad.Serve({lumenord::test::ReplyFrame('h', hostile)});
    const std::string steps = WriteFile("steps.txt", "mac 30 x9.9 0102\nversion\n");
    const Finished run = padsim::test::RunToEnd(ToolArgs(pad.SlavePath(), {"run", steps}), m_dir);
    ASSERT_EQ(run.status, 1) << run.out << run.err;

    const Json record = ReadJsonFile(m_record);
    EXPECT_EQ(record["outcome"], "failed");
    EXPECT_EQ(record["exit_code"], 1);
    EXPECT_TRUE(record["operator"].is_null());
    EXPECT_EQ(record["unit"], Json({{"label", nullptr},
                                    {"serial", nullptr},
                                    {"model", nullptr},
                                    {"note", "the version step did not run"}}));
    const Json& failed = record["steps"][0];
    EXPECT_EQ(failed["status"], "failed");
    EXPECT_EQ(failed["result"], 0);
    const std::string text = failed["result_text"];
    EXPECT_EQ(text.rfind("reply malformed: mac '\x1b<&\"'" + kReplacement + "\x01]]>", 0), 0u)
        << text;
    EXPECT_EQ(record["steps"][1],
              Json({{"step", 2}, {"line", 2}, {"operation", "version"}, {"status", "not run"}}));

    const Json junit = ParseJunit(m_junit, m_dir);
    EXPECT_EQ(junit["attrib"]["tests"], "2");
    EXPECT_EQ(junit["attrib"]["failures"], "1");
    EXPECT_EQ(junit["attrib"]["skipped"], "1");
    ASSERT_EQ(junit["cases"].size(), 2u);
    EXPECT_EQ(junit["cases"][0]["failure"], Replaced(text, "\x1b\x01"));
    EXPECT_NE(junit["cases"][0]["failure_text"].get<std::string>().find("request: 30"),
              std::string::npos);
    EXPECT_TRUE(junit["cases"][1]["skipped"]);
    EXPECT_EQ(junit["cases"][1]["skipped_message"], "not run: an earlier step did not pass");
    EXPECT_EQ(junit["properties"]["serial"], "");
}

// Ctrl-C while the pad waits for a PIN: the record says aborted with the tool's exit code, the
// step that ran is an error "interrupted" in the JUnit file, and the step after it was not run.
TEST_F(Records, InterruptedRunIsRecorded) {
    StartPad();
    const std::string steps =
        WriteFile("steps.txt", "version\npin start-short --length 04\ninfo write NEVER\n");
    ChildProcess tool(ToolArgs(m_link, {"run", steps}), padsim::test::ChildOptions{m_dir});
    ASSERT_TRUE(m_pad->WaitForOutput("mode: PIN entry", std::chrono::seconds(30))) << m_pad->out();
    tool.Signal(SIGINT);
    const int status = tool.WaitForExit(std::chrono::seconds(30));
    EXPECT_NE(status, 0) << tool.out() << tool.err();

    const Json record = ReadJsonFile(m_record);
    EXPECT_EQ(record["outcome"], "aborted");
    EXPECT_EQ(record["exit_code"], status);
    EXPECT_EQ(record["unit"]["serial"], "0001");
    EXPECT_EQ(record["steps"][1]["status"], "aborted");
    EXPECT_EQ(record["steps"][2]["status"], "not run");
    const Json junit = ParseJunit(m_junit, m_dir);
    EXPECT_EQ(junit["properties"]["outcome"], "aborted");
    EXPECT_EQ(junit["attrib"]["errors"], "1");
    EXPECT_EQ(junit["attrib"]["failures"], "0");
    EXPECT_EQ(junit["cases"][1]["error"], "interrupted");
    EXPECT_TRUE(junit["cases"][2]["skipped"]);
    EXPECT_EQ(junit["cases"][2]["skipped_message"], "not run: the run was interrupted");
}

// A folder put where the record goes while the run reads its steps: the steps pass, but the run
// does not say success, and nothing is written through or into the folder.
TEST_F(Records, RecordThatCannotBeWrittenFailsTheRun) {
    StartPad();
    ChildProcess tool(ToolArgs(m_link, {"run", "-"}), padsim::test::ChildOptions{m_dir, true});
    ASSERT_TRUE(tool.Write("version\n"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (tool.UnreadInput() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    std::filesystem::create_directory(m_record);
    tool.CloseInput();
    EXPECT_EQ(tool.WaitForExit(std::chrono::seconds(30)), 1) << tool.out() << tool.err();
    EXPECT_NE(tool.err().find("the test record could not be written to '" + m_record +
                              "': it is not a regular file"),
              std::string::npos)
        << tool.err();
    EXPECT_TRUE(std::filesystem::is_empty(m_record));
    EXPECT_EQ(JsonLines(tool.out()).at(0)["ok"], true);
    EXPECT_EQ(ParseJunit(m_junit, m_dir)["properties"]["outcome"], "passed");
}

// Files that cannot take a record and operators that are no names: usage errors before the port
// opens; nothing is created, and a FIFO is never opened.
TEST(RecordOptions, HostileFilesAndNamesAreRefusedBeforeAnythingIsSent) {
    const lumenord::test::TempWorkDir folder;
    lumenord::test::PtyPeer pad;
    const std::string& dir = folder.Path();
    const std::string fifo = dir + "/fifo", link = dir + "/link", readOnly = dir + "/ro.json";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink(dir + "/target.json", link);
    std::ofstream(readOnly) << "{}";
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    const std::string steps = dir + "/steps.txt";
    std::ofstream(steps) << "version\n";
    const std::vector<std::string> step{"--device", pad.SlavePath(), "version"};
    const struct {
        std::vector<std::string> options;
        std::string text;
    } rows[] = {
        {{"--record", dir}, "--record: '" + dir + "' is not a regular file"},
        {{"--junit", fifo}, "--junit: '" + fifo + "' is not a regular file"},
        {{"--record", link}, "--record: '" + link + "' is not a regular file"},
        {{"--record", readOnly}, "--record: '" + readOnly + "' is read-only"},
        {{"--junit", dir + "/missing/j.xml"}, "--junit: the folder of '" + dir + "/missing/j.xml'"},
        {{"--record", "r.json", "--junit", "./r.json"}, "--junit: the JUnit file and the test"},
        {{"--operator", "Eve\x1b[2J"}, "--operator: 'Eve\\x1B[2J' holds control characters"},
        {{"--operator", "Eve\xff"}, "--operator: 'Eve\\xFF' holds control characters"},
        {{"--operator", "Eve\xc2\x9b"}, "--operator: 'Eve\\xC2\\x9B' holds control"},
        {{"--operator", std::string(65, 'E')}, "--operator: the operator's name is longer than"},
        {{"--operator", ""}, "--operator: the operator's name is empty"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.options;
        args.insert(args.end(), step.begin(), step.end());
        const ToolRun run = RunInProcess(args);
        SCOPED_TRACE(row.text + "\n" + run.err);
        EXPECT_EQ(run.status, cli::kExitUsage);
        EXPECT_NE(run.err.find("lumenord: " + row.text), std::string::npos);
        EXPECT_EQ(lumenord::test::Hex(pad.Read(1, 0)), "");
    }
    const ToolRun runFile =
        RunInProcess({"--device", pad.SlavePath(), "--record", steps, "run", steps});
    EXPECT_EQ(runFile.status, cli::kExitUsage);
    EXPECT_NE(runFile.err.find("--record: the test record would replace the run file"),
              std::string::npos)
        << runFile.err;
    EXPECT_EQ(lumenord::test::ReadFileText(steps), "version\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/target.json"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/r.json"));
    EXPECT_EQ(lumenord::test::Hex(pad.Read(1, 0)), "");
}

TEST(XmlText, KeepsTextAndReplacesWhatXmlForbids) {
    const struct {
        std::string text;
        bool attribute;
        std::string xml;
    } rows[] = {
        {"Åsa & <Co> \"q\" 'a'", false, "Åsa &amp; &lt;Co&gt; \"q\" 'a'"},
        {"Åsa & <Co> \"q\" 'a'", true, "Åsa &amp; &lt;Co&gt; &quot;q&quot; &apos;a&apos;"},
        {"a\tb\nc\rd", false, "a\tb\nc&#13;d"},
        {"a\tb\nc\rd", true, "a&#9;b&#10;c&#13;d"},
        {std::string("\x00\x01\x1b\x7f", 4), false,
         kReplacement + kReplacement + kReplacement + "\x7f"},
        {"\xff\xfe", false, kReplacement + kReplacement},
        {"\xc0\xaf", false, kReplacement + kReplacement},                     // overlong '/'
        {"\xed\xa0\x80", false, kReplacement + kReplacement + kReplacement},  // a surrogate
        {"\xef\xbf\xbe|\xef\xbf\xbd|\xf0\x9f\x94\x91", false,
         kReplacement + "|" + kReplacement + "|\xf0\x9f\x94\x91"},
        {"\xe2\x82", false, kReplacement + kReplacement},  // cut short
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(lumenord::test::Hex(row.text));
        EXPECT_EQ(cli::XmlText(row.text, row.attribute), row.xml);
    }
}

}  // namespace
