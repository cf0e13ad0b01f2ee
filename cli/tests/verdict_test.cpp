// lumenord as a process against padsim as a process: the verdict a pad status gets (the same as
// in the test program for the same operation), the keys of the clear-text keypad, and --quiet.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "child_process.h"
#include "pad_folder_test.h"

namespace {

using cli::test::JsonLines;

using padsim::test::ChildProcess;
using padsim::test::Finished;
using Json = nlohmann::json;

class ToolVerdicts : public cli::test::PadFolderTest {
protected:
    Finished Tool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{LUMENORD_PROGRAM, "--device", m_link};
        argv.insert(argv.end(), args.begin(), args.end());
        return padsim::test::RunToEnd(argv, m_dir);
    }
};

const std::string kLowBattery = "Low battery, Need to replace the battery ";

// Status 224 is a warning where the program reads the information area (the version and the
// customer information) and a failure everywhere else, the information write that uses the same
// command byte included; other statuses fail with their own text. The keypad's keys are those
// before Enter or Escape.
TEST_F(ToolVerdicts, PadStatusesGetTheProgramsVerdictAndKeypadKeysAreKept) {
    const struct {
        std::vector<std::string> pad;  // padsim's options
        std::vector<std::string> step;
        bool ok;
        int result;
        std::string resultText;
        Json reply;  // the fields checked
    } rows[] = {
        {{"--low-battery"},
         {"version"},
         true,
         224,
         kLowBattery,
         {{"model", "SIM731"}, {"serial", "0001"}, {"low_battery", true}}},
        {{"--low-battery"}, {"info", "read"}, true, 224, kLowBattery, {{"low_battery", true}}},
        {{"--low-battery"}, {"display", "30", "--text", "HI"}, false, 224, kLowBattery, {}},
        {{"--force", "3=E0"}, {"info", "write", "X"}, false, 224, kLowBattery, {}},
        {{"--force", "5=E0"}, {"control", "2", "3C"}, false, 224, kLowBattery, {}},
        {{"--force", "3=E5"}, {"version"}, false, 229, "Unmatchable label or no such key", {}},
        {{"--force", "@=41"}, {"card", "status"}, false, 65, "No Card", {}},
        {{"--keys", "12\\r"},
         {"keypad"},
         true,
         0,
         "success",
         {{"keys", "12"}, {"hex", "31320D"}, {"end", "enter"}}},
        {{"--keys", "7\\e"},
         {"keypad"},
         true,
         0,
         "success",
         {{"keys", "7"}, {"hex", "371B"}, {"end", "escape"}}},
        {{"--keys", "123"},
         {"keypad", "--count", "2"},
         true,
         0,
         "success",
         {{"keys", "12"}, {"hex", "3132"}, {"end", "count"}}},
    };
    for (const auto& row : rows) {
        StartPad(row.pad);
        std::vector<std::string> args{"--json"};
        args.insert(args.end(), row.step.begin(), row.step.end());
        const Finished run = Tool(args);
        SCOPED_TRACE(row.pad.back() + " " + row.step.front() + "\n" + run.out + run.err);
        EXPECT_EQ(run.status, row.ok ? 0 : 1);
        const std::vector<Json> lines = JsonLines(run.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0]["ok"], row.ok);
        EXPECT_EQ(lines[0]["result"], row.result);
        EXPECT_EQ(lines[0]["result_text"], row.resultText);
        for (const auto& [name, value] : row.reply.items())
            EXPECT_EQ(lines[0]["reply"][name], value) << name;
        if (!row.ok) {
            EXPECT_FALSE(lines[0]["reply"].contains("low_battery"));
        }
    }
    // The line output ends the failure text with its blank, then the result code.
    StartPad({"--low-battery"});
    const Finished line = Tool({"display", "30", "--text", "HI"});
    EXPECT_EQ(line.out.rfind("FAIL display: " + kLowBattery + " (result 224) (", 0), 0u)
        << line.out;
}

// --quiet reports the failed steps and the summary, in lines and in JSON.
TEST_F(ToolVerdicts, QuietPrintsOnlyFailuresAndTheSummary) {
    StartPad({"--keys", "1234"});
    const std::string steps =
        WriteFile("steps.txt", "version\nmac 7F x9.9 0102\npin start-short --length 04\n");
    const Finished lines = Tool({"-q", "run", steps, "--keep-going"});
    EXPECT_EQ(lines.status, 1);
    EXPECT_EQ(lines.err, "");
    const std::string failure = "line 2: FAIL mac: Unmatchable label or no such key (result 229) (";
    ASSERT_EQ(lines.out.rfind(failure, 0), 0u) << lines.out;
    const std::size_t summary = lines.out.find('\n') + 1;
    EXPECT_EQ(lines.out.substr(summary).rfind("run: 3 steps, 1 failed, 0 not run, ", 0), 0u)
        << lines.out;
    EXPECT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), 2) << lines.out;

    const Finished json = Tool({"--quiet", "--json", "run", steps, "--keep-going"});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err, "");  // no stars either
    const std::vector<Json> objects = JsonLines(json.out);
    ASSERT_EQ(objects.size(), 2u) << json.out;
    EXPECT_EQ(objects[0]["line"], 2);
    EXPECT_EQ(objects[0]["ok"], false);
    EXPECT_EQ(objects[1]["summary"]["steps"], 3);
    EXPECT_EQ(objects[1]["summary"]["failures"], 1);

    // A step that succeeds prints nothing, and exits 0.
    const Finished single = Tool({"-q", "version"});
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(single.out + single.err, "");
}

// The same result -4 for a pad that was unplugged, one whose reply has a wrong check and one
// that stays silent: the driver's reason tells them apart, after the result text in the line and
// in the JSON, and as the step's "reason".
TEST_F(ToolVerdicts, NoReplyNamesWhyTheDriverGotNone) {
    const std::string kNoReply = "excessive time in data reading";
    const struct {
        std::vector<std::string> pad;  // padsim's fault
        std::string reason;
    } rows[] = {
        {{"--disappear", "0"}, "the line hung up; is the pad unplugged?"},
        {{"--wrong-check"}, "the reply's check characters are wrong"},
        {{"--silent"}, "no reply from the pad"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pad.front());
        StartPad(row.pad);
        const Finished json = Tool({"--json", "info", "read"});
        SCOPED_TRACE(json.out + json.err);
        EXPECT_EQ(json.status, 1);
        const std::vector<Json> lines = JsonLines(json.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0]["result"], -4);
        EXPECT_EQ(lines[0]["result_text"], kNoReply + ": " + row.reason);
        EXPECT_EQ(lines[0]["reason"], row.reason);

        StartPad(row.pad);
        const Finished line = Tool({"info", "read"});
        EXPECT_EQ(line.status, 1);
        const std::string failure = "FAIL info read: " + kNoReply + ": " + row.reason;
        EXPECT_EQ(line.out.rfind(failure + " (result -4) (", 0), 0u) << line.out;
    }
}

// A pad that answers wrongly fails the step that asked, by the host's own computation or by what
// the run expects; a fault that leaves no usable answer is an error; a check the host cannot make
// (the key was not loaded in this run) is said to be not made, never passed.
TEST_F(ToolVerdicts, WrongAnswersFailAndFaultsAreErrors) {
    const std::string loadMacKey =
        "key clear 00 30 --part 0123456789ABCDEFFEDCBA9876543210\n"
        "key cipher 00 31 TAK --decrypt-key 0123456789ABCDEFFEDCBA9876543210 --key "
        "6E7F8091A2B3C4D5E6F708192A3B4C5D\n";
    const struct {
        std::vector<std::string> pad;  // padsim's options
        std::string steps;             // the run file; its last step is the one checked
        const char* outcomeClass;
        std::string message;  // the start of the checked step's result text
        Json check;           // the fields of its last check
    } rows[] = {
        {{"--wrong-data", "8"},
         loadMacKey + "mac 31 x9.19 4C756D",
         "failed",
         "mac: expected ",
         {{"check", "mac"}, {"source", "host"}, {"ok", false}}},
        {{"--wrong-data", "9"},
         loadMacKey + "data encrypt 31 cbc 0011223344556677",
         "failed",
         "data: expected ",
         {{"check", "data"}, {"source", "host"}, {"ok", false}}},
        {{},
         loadMacKey + "data decrypt 31 ecb 0011223344556677",
         "passed",
         "success",
         {{"check", "data"}, {"source", "host"}, {"ok", true}}},
        {{}, "mac 31 x9.9 4C756D", "failed", "Unmatchable label or no such key", Json::object()},
        {{},
         "card power-on\ncard apdu 00A4000002DEAD --expect sw=9000",
         "failed",
         "sw: expected 9000, pad gave 6A82",
         {{"check", "sw"}, {"source", "expect"}, {"actual", "6A82"}, {"ok", false}}},
        {{"--serial", "0077"},
         "version --expect serial=0042",
         "failed",
         "serial: expected 0042, pad gave 0077",
         {{"source", "expect"}, {"ok", false}}},
        {{"--silent"}, "info read", "error", "excessive time in data reading", Json::object()},
        {{"--cut", "6"}, "info read", "error", "excessive time in data reading", Json::object()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.steps);
        StartPad(row.pad);
        std::ofstream(m_dir + "/steps.txt") << row.steps << "\n";
        const Finished run = Tool({"--json", "--no-key-store", "run", "steps.txt"});
        SCOPED_TRACE(run.out + run.err);
        EXPECT_EQ(run.status, std::string(row.outcomeClass) == "passed" ? 0 : 1);
        const std::vector<Json> lines = JsonLines(run.out);
        ASSERT_GE(lines.size(), 2u);
        const Json& step = lines[lines.size() - 2];  // the summary comes last
        EXPECT_EQ(step["class"], row.outcomeClass);
        EXPECT_EQ(step["result_text"].get<std::string>().rfind(row.message, 0), 0u);
        if (row.check.empty()) continue;
        ASSERT_TRUE(step.contains("checks"));
        for (const auto& [name, value] : row.check.items())
            EXPECT_EQ(step["checks"].back()[name], value) << name;
    }
    // A key that is only in the key store is not trusted for a check: the check is not made.
    StartPad();
    std::ofstream(m_dir + "/steps.txt") << loadMacKey;
    ASSERT_EQ(Tool({"run", "steps.txt"}).status, 0);
    const Finished stored = Tool({"--json", "mac", "31", "x9.19", "4C756D"});
    EXPECT_EQ(stored.status, 0) << stored.out << stored.err;
    const Json step = JsonLines(stored.out).at(0);
    EXPECT_EQ(step["class"], "passed");
    ASSERT_TRUE(step.contains("checks"));
    EXPECT_EQ(step["checks"].back()["made"], false);
    EXPECT_NE(step["checks"].back()["why"].get<std::string>().find("no step of this run loaded"),
              std::string::npos);
}

// A report that cannot be written (a full disk behind standard output) is no success, for one
// step and for a run file, and the record says so.
TEST_F(ToolVerdicts, AReportThatCannotBeWrittenFailsTheRun) {
    std::ofstream(m_dir + "/steps.txt") << "version\n";
    for (const std::string args : {"version", "--record rec.json run steps.txt"}) {
        SCOPED_TRACE(args);
        StartPad();
        const Finished run = padsim::test::RunToEnd(
            {"/bin/sh", "-c", "exec \"$0\" --device \"$1\" " + args + " >/dev/full",
             LUMENORD_PROGRAM, m_link},
            m_dir);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("lumenord: the report could not be written to standard output"),
                  std::string::npos)
            << run.err;
    }
    std::ifstream record(m_dir + "/rec.json");
    EXPECT_EQ(Json::parse(record)["exit_code"], 1);
}

}  // namespace
