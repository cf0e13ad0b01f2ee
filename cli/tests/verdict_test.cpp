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

}  // namespace
