// lumenord as a process against padsim as a process: the acceptance script of examples/ with
// its JSON checked field by field, exit codes, run files and the two ways to name the port.
// Against a scripted pad on a pty: hostile replies and signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "acceptance_keys.h"
#include "child_process.h"
#include "key_store.h"
#include "pad_folder_test.h"
#include "pty_peer.h"
#include "reference_crypto.h"

namespace {

using cli::test::JsonLines;

using padsim::test::ChildProcess;
using padsim::test::Finished;
using Json = nlohmann::json;
using padsim::test::RefCbcEncrypt;
using padsim::test::RefEncrypt;
using padsim::test::RefIbm3624Offset;
using padsim::test::RefRetailMac;
using padsim::test::RefVerifyCode;

class Lumenord : public cli::test::PadFolderTest {
protected:
    Finished Tool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{LUMENORD_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        return padsim::test::RunToEnd(argv, m_dir);
    }
    std::string CustomerInfo() {
        const Finished read = Tool({"--device", m_link, "--json", "info", "read"});
        return JsonLines(read.out).at(0)["reply"]["customer_info"];
    }
};

using cli::test::kMasterKey;
using cli::test::kPart1;
using cli::test::kPart2;
using cli::test::kPart3;
using cli::test::kPinKey;
using cli::test::kTerminalKey;
const std::string kMacKey = "6E7F8091A2B3C4D5E6F708192A3B4C5D";
const std::string kMacData = "4C756D656E6F726420616363657074616E6365";

TEST_F(Lumenord, AcceptanceScriptRunsThroughADeviceWithoutSettingsFile) {
    StartPad({"--keys", "1234"});
    // The bench's view: the key parts and the PIN shown.
    const Finished run =
        Tool({"--device", m_link, "--json", "--show-secrets", "run", ACCEPTANCE_SCRIPT});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/sysconfig.ini"));  // nothing written here
    EXPECT_NE(run.err.find("****\n"), std::string::npos) << run.err;  // the stars, beside the JSON

    struct Expected {
        std::string operation;
        std::string request;  // "" : not checked
        Json reply;           // the fields checked
    };
    const std::string tmkCipher = RefEncrypt(kMasterKey, kTerminalKey);
    const Expected expected[] = {
        {"version", "", {{"model", "SIM731"}, {"hardware", "R4K"}}},
        {"key clear",
         "0012" + kPart1 + kPart2 + kPart3,
         {{"verify_code", RefVerifyCode(kMasterKey)}, {"check_value", RefVerifyCode(kMasterKey)}}},
        {"key cipher",
         "001022" + tmkCipher + RefVerifyCode(kTerminalKey),
         {{"cipher", tmkCipher}, {"verify_code", RefVerifyCode(kTerminalKey)}}},
        {"key cipher",
         "",
         {{"cipher", RefEncrypt(kTerminalKey, kPinKey)}, {"verify_code", RefVerifyCode(kPinKey)}}},
        {"key cipher",
         "",
         {{"cipher", RefEncrypt(kTerminalKey, kMacKey)}, {"verify_code", RefVerifyCode(kMacKey)}}},
        {"key verify-code", "001000", {{"verify_code", RefVerifyCode(kTerminalKey)}}},
        {"key verify-code", "103000", {{"verify_code", RefVerifyCode(kPinKey)}}},
        {"mac", "313" + kMacData, {{"mac", RefRetailMac(kMacKey, kMacData)}}},
        {"pin start",
         "30 004"
         "4000001234567899",
         {{"digits", 4}, {"end", "length"}}},
        {"pin read", "", {{"length", "04"}, {"pin", "1234"}}},
        {"card power-on", "1881", {{"answer", "3B6800000073C84013009000"}}},
        {"card apdu", "100A40000023F00", {{"sw", "9000"}}},
        {"card power-off", "1883", Json::object()},
    };
    const std::vector<Json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), std::size(expected) + 1) << run.out;
    int previousLine = 0;
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].operation + " " + lines[i].dump());
        const Json& step = lines[i];
        EXPECT_EQ(step["step"], i + 1);
        EXPECT_GT(step["line"].get<int>(), previousLine);
        previousLine = step["line"];
        EXPECT_EQ(step["operation"], expected[i].operation);
        if (!expected[i].request.empty()) {
            EXPECT_EQ(step["request"], expected[i].request);
        }
        EXPECT_EQ(step["result"], 0);
        EXPECT_EQ(step["result_text"], "success");
        EXPECT_EQ(step["ok"], true);
        EXPECT_GE(step["ms"].get<long long>(), 0);
        for (const auto& [name, value] : expected[i].reply.items())
            EXPECT_EQ(step["reply"][name], value) << name;
    }
    EXPECT_EQ(lines.back()["summary"]["steps"], std::size(expected));
    EXPECT_EQ(lines.back()["summary"]["failures"], 0);
    EXPECT_EQ(lines.back()["summary"]["skipped"], 0);
}

// The steps the acceptance script leaves out, each accepted by the pad and its reply checked
// against an independent computation where there is one.
TEST_F(Lumenord, TheOtherStepsReachThePadInItsOwnFormat) {
    StartPad({"--keys", "1234"});
    const std::string dataKey = "0E1F2A3B4C5D6E7F8091A2B3C4D5E6F7";
    const std::string clear = "00112233445566778899AABBCCDDEEFF";
    const std::string validation = "0006502105278100", table = "0123456789012345";
    const std::string offset = RefIbm3624Offset(kPinKey, validation, table, "1234");
    const std::string authData = "A1B2C3D4E5F60718293A4B5C6D7E8F90";
    const std::string steps = WriteFile(
        "steps.txt",
        "key clear 00 30 --part " + kMasterKey + "\n" + "key cipher 00 10 TMK --decrypt-key " +
            kMasterKey + " --key " + kTerminalKey + "\n" + "key cipher 10 40 TDK --decrypt-key " +
            kTerminalKey + " --key " + dataKey + "\n" + "key cipher 10 30 TPK --decrypt-key " +
            kTerminalKey + " --key " + kPinKey + "\n" + "data encrypt 40 cbc " + clear + "\n" +
            "data decrypt 40 ecb " + RefEncrypt(dataKey, clear) + "\n" +
            "pin start-short --length 04\n" +
            "pin read --index 30 --format iso0 --account 4000001234567899 --key " + kPinKey + "\n" +
            "pin renew 30 " + validation + " " + table + "\n" + "pin verify 30 " + validation +
            " " + table + " " + offset + "\n" + "auth init " + authData + "\n" + "auth mutual 00 " +
            authData + "\n" + "keyboard 303132333435363738392E2A0D1B0800 41424344 45464748\n" +
            "control 6 44\n" + "display 30 --text HELLO\n" + "keypad --count 4\n" + "des encrypt " +
            clear + " " + dataKey + "\n" + "key erase 10 40\n");
    const Finished run = Tool({"--device", m_link, "--json", "run", steps});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<Json> lines = JsonLines(run.out);
    const std::pair<std::size_t, Json> checks[] = {
        {4, {{"data", RefCbcEncrypt(dataKey, clear)}}},
        {5, {{"data", clear}}},
        {6, {{"digits", 4}, {"end", "length"}}},
        {7, {{"pin", "****"}}},  // masked without --show-secrets
        {8, {{"offset", offset}}},
        {9, {{"match", true}}},
        {13, {{"host_baud", 9600}}},
        {15, {{"keys", "1234"}}},
        {16, {{"data", RefEncrypt(dataKey, clear)}}},
        {17, {{"verify_code", RefVerifyCode(dataKey)}}},
    };
    for (const auto& [index, reply] : checks) {
        for (const auto& [name, value] : reply.items())
            EXPECT_EQ(lines.at(index)["reply"][name], value) << lines.at(index);
    }
    // The pad enciphers the challenge under the key at 00, the tool that under the authorization
    // data, and the pad that again under the key at 00.
    const std::string challenge = lines.at(11)["reply"]["challenge"];
    EXPECT_EQ(lines.at(11)["reply"]["data"],
              RefEncrypt(kMasterKey, RefEncrypt(authData, RefEncrypt(kMasterKey, challenge))));
    EXPECT_EQ(lines.at(8)["request"], "30a" + validation + table);
    EXPECT_EQ(lines.at(14)["request"], "3048454C4C4F");  // mode byte and text, shown in hex
}

// Exit code 1 for a step the pad or the host refuses, or a port that does not open; the JSON
// result text says why. (Usage errors, exit code 2, are checked in process: usage_test.cpp.)
TEST_F(Lumenord, RefusedStepsExitWithOne) {
    StartPad();
    const struct {
        std::vector<std::string> args;
        std::string text;  // in the JSON result text
    } rows[] = {
        {{"--device", m_link, "--json", "mac", "7F", "x9.9", "0102"},
         "Unmatchable label or no such key"},
        {{"--device", m_link, "--json", "key", "clear", "00", "30", "--part", kPart1 + ":00000000"},
         "differs from the expected 00000000; nothing was sent"},
        {{"--device", m_link + "-missing", "--json", "version"},
         "cannot open " + m_link + "-missing"},
    };
    for (const auto& row : rows) {
        const Finished run = Tool(row.args);
        SCOPED_TRACE(row.args.back() + "\n" + run.out + run.err);
        EXPECT_EQ(run.status, 1);
        const Json step = JsonLines(run.out).at(0);
        EXPECT_EQ(step["ok"], false);
        EXPECT_NE(step["result_text"].get<std::string>().find(row.text), std::string::npos);
    }
    const Json refused =
        JsonLines(Tool({"--device", m_link, "--json", "mac", "7F", "x9.9", "0102"}).out).at(0);
    EXPECT_EQ(refused["result"], 229);
    EXPECT_EQ(refused["request"], "7F20102");
}

TEST_F(Lumenord, RunFileStopsAtTheFirstFailureUnlessToldToKeepGoing) {
    StartPad();
    const std::string steps =
        WriteFile("steps.txt",
                  "info write FIRST   # a comment\n\nmac 7F x9.9 0102\ninfo write \"LAST ONE\"\n");
    Finished run = Tool({"--device", m_link, "--json", "run", steps});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    std::vector<Json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(lines[0]["request"], "FIRST");
    EXPECT_EQ(lines[1]["line"], 3);
    EXPECT_EQ(
        lines[2]["summary"],
        Json({{"steps", 2}, {"failures", 1}, {"skipped", 1}, {"ms", lines[2]["summary"]["ms"]}}));
    EXPECT_EQ(CustomerInfo(), "FIRST");

    run = Tool({"--device", m_link, "run", steps, "--keep-going"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("line 4: ok   info write"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("run: 3 steps, 1 failed, 0 not run"), std::string::npos) << run.out;
    EXPECT_EQ(CustomerInfo(), "LAST ONE");

    // A line that does not parse stops the file before its first step reaches the pad.
    const std::string broken =
        WriteFile("broken.txt", "info write NEVER\n# the MAC data is odd\nmac 30 x9.9 012\n");
    run = Tool({"--device", m_link, "run", broken});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(broken + ":3: DATA"), std::string::npos) << run.err;
    EXPECT_EQ(CustomerInfo(), "LAST ONE");
}

// A pad whose replies carry a check of its own works once VERIFYCHECK=0 is set, with --device too.
TEST_F(Lumenord, DeviceKeepsTheSettingsOfTheCurrentFolder) {
    StartPad({"--wrong-check"});
    EXPECT_EQ(Tool({"--device", m_link, "version"}).status, 1);
    const std::string settings = "[SYSTEM]\nVERIFYCHECK=0\n";
    WriteFile("sysconfig.ini", settings);
    const Finished run = Tool({"--device", m_link, "version"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::ifstream file(m_dir + "/sysconfig.ini");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), settings);  // left as it was
}

// The private copy of the settings that --device opens through leaves nothing behind, and a
// copy that a killed tool left (its process gone) is removed by the next run; a live tool's
// folder and what is not a tool's folder stay.
TEST_F(Lumenord, DeviceLeavesNoSettingsCopyBehind) {
    StartPad();
    const std::string temp = m_dir + "/temp";
    std::filesystem::create_directory(temp);
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    const std::string left = temp + "/lumenord-" + std::to_string(gone) + "-a1b2c3";
    const std::string alive = temp + "/lumenord-" + std::to_string(getpid()) + "-a1b2c3";
    const std::string other = temp + "/lumenord-" + std::to_string(gone) + "-a1b2c3d";
    for (const std::string& folder : {left, alive, other})
        std::filesystem::create_directory(folder);
    std::ofstream(left + "/sysconfig.ini") << "[PORTS]\nCOM1=" << m_link << "\n";

    const Finished run = padsim::test::RunToEnd(
        {"/usr/bin/env", "TMPDIR=" + temp, LUMENORD_PROGRAM, "--device", m_link, "version"}, m_dir);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(temp))
        kept.push_back(entry.path().string());
    std::vector<std::string> expected{alive, other};
    std::sort(kept.begin(), kept.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(kept, expected);
}

TEST_F(Lumenord, PortNameOpensTheDeviceThatSysconfigIniMapsIt) {
    StartPad();
    WriteFile("sysconfig.ini", "[PORTS]\nCOM3=" + m_link + "\n");
    const Finished run = Tool({"--port", "com3", "version"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out.rfind("ok   version: description=PADSIM01 model=SIM731 hardware=R4K", 0), 0u)
        << run.out;
}

// Bytes a terminal would act on, other than the line ends.
bool HasControlCharacters(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\n') || byte == 0x7F;
    });
}

// Nothing reached the pad: not a byte is waiting on its side of the line.
void ExpectNothingSent(lumenord::test::PtyPeer& pad) {
    EXPECT_EQ(lumenord::test::Hex(pad.Read(1, 0)), "");
}

// The information area as the pad sends it: customer information, key values, identification.
std::string InfoArea(const std::string& customer, const std::string& model = "SIM731") {
    std::string area = customer;
    area.resize(50, '\0');
    area +=
        "303132333435363738392E2A0D1B0800"
        "41424344"
        "45464748";
    area.resize(118, '\0');
    return area + "PADSIM01" + model + "R4K" + "110" + "2612" + "0001";
}

// A step succeeds only with every field its reply promises, each of its length and characters;
// pad text reaches the line output escaped, one step one line.
TEST_F(Lumenord, ShortRepliesFailTheStepAndPadTextIsEscaped) {
    using lumenord::test::ReplyFrame;
    const std::string authData = "A1B2C3D4E5F60718293A4B5C6D7E8F90";
    const std::string validation = "0006502105278100", table = "0123456789012345";
    const struct {
        std::vector<std::string> step;
        std::vector<std::string> replies;  // one frame for each request the step sends
        int status;
        std::string text;  // in the step's line
    } rows[] = {
        {{"mac", "30", "x9.9", "0102"},
         {ReplyFrame('h', "1234")},
         1,
         "FAIL mac: reply too short: mac '1234' (4 characters, 16 hex characters expected)"},
        {{"mac", "30", "x9.9", "0102"},
         {ReplyFrame('h', std::string(16, '\0'))},
         1,
         "reply too short: mac ''"},
        {{"mac", "30", "x9.9", "0102"},
         {ReplyFrame('h', "\x1b[2J\x1b[31m1234567")},
         1,
         "reply malformed: mac '\\x1B[2J\\x1B[31m1234567'"},
        {{"auth", "challenge"}, {ReplyFrame('j', "")}, 1, "reply too short: challenge ''"},
        {{"auth", "init", authData},
         {ReplyFrame('j', "ABCDEF")},
         1,
         "reply too short: data (6 characters, 32 hex characters expected)"},
        // A cut challenge is never answered: no second request follows.
        {{"auth", "mutual", "00", authData},
         {ReplyFrame('j', "0123")},
         1,
         "reply too short: challenge '0123'"},
        {{"version"}, {ReplyFrame('c', "")}, 1, "reply too short: description ''"},
        {{"version"},
         {ReplyFrame('c', InfoArea("", "\x1b[31mA"))},
         1,
         "reply malformed: model '\\x1B[31mA'"},
        {{"info", "read"},
         {ReplyFrame('c', InfoArea("").substr(0, 60))},
         1,
         "reply too short: main_keys '3031323334' (10 characters"},
        {{"info", "read"},
         {ReplyFrame('c', InfoArea("A\nline 9: ok   version\r\\"))},
         0,
         "ok   info read: customer_info=A\\nline 9: ok   version\\r\\\\ main_keys="},
        {{"data", "encrypt", "30", "ecb", "0011223344556677"},
         {ReplyFrame('i', "")},
         1,
         "reply too short: data ''"},
        {{"data", "decrypt", "30", "cbc", "0011223344556677"},
         {ReplyFrame('i', "AB")},
         1,
         "reply too short: data 'AB' (2 characters, 16 hex characters expected)"},
        {{"key", "verify-code", "00", "10"},
         {ReplyFrame('b', "")},
         1,
         "reply too short: verify_code ''"},
        {{"key", "clear", "00", "30", "--part", kPart1.substr(0, 16)},
         {ReplyFrame('a', "1234567\x07")},
         1,
         "reply malformed: verify_code '1234567\\x07'"},
        {{"pin", "read"}, {ReplyFrame('g', "01")}, 1, "reply too short: length ''"},
        {{"pin", "read"}, {ReplyFrame('g', "0104")}, 1, "reply too short: pin_block ''"},
        {{"pin", "renew", "30", validation, table},
         {ReplyFrame('g', "010412")},
         1,
         "reply too short: offset '12' (2 characters, 4 decimal digits expected)"},
        {{"pin", "verify", "30", validation, table, "1234"},
         {ReplyFrame('g', "0104")},
         1,
         "reply too short: verdict ''"},
        {{"card", "power-on"}, {ReplyFrame('p', "1880")}, 1, "reply too short: answer ''"},
        {{"card", "apdu", "00A40000023F00"},
         {ReplyFrame('q', "090")},
         1,
         "reply too short: sw '90'"},
    };
    for (const auto& row : rows) {
        lumenord::test::PtyPeer pad;
        pad.Serve(row.replies);
        std::vector<std::string> args{"--device", pad.SlavePath()};
        args.insert(args.end(), row.step.begin(), row.step.end());
        const Finished run = Tool(args);
        SCOPED_TRACE(row.step.front() + " " + row.step.back() + "\n" + run.out + run.err);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.out.find(row.text), std::string::npos);
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
        EXPECT_FALSE(HasControlCharacters(run.out));
        EXPECT_EQ(pad.Requests().size(), row.replies.size());
        ExpectNothingSent(pad);
    }
}

// The pad holds the authorization data once it has answered, whatever its reply looks like: the
// reply replaces the record of the data before, as sent, or empty when the store cannot keep
// it. A reply of the wrong shape still fails the step.
TEST_F(Lumenord, AuthorizationReplyReplacesTheRecordBefore) {
    using lumenord::test::ReplyFrame;
    const std::string authData = "A1B2C3D4E5F60718293A4B5C6D7E8F90";
    const struct {
        std::string reply;
        int status;
        std::string stored, text;
    } rows[] = {
        {authData, 0, authData, "ok   auth init"},
        {"ABCDEF", 1, "ABCDEF", "FAIL auth init: reply too short: data (6 characters"},
        {"0123456789ABCDEF\n0123456789ABCDE", 1, "", "FAIL auth init: reply malformed: data"},
    };
    const padlogic::KeyStore store(m_dir + "/KeyStock.txt");
    for (const auto& row : rows) {
        ASSERT_TRUE(store.Write(padlogic::KeyRecords().AuthData(std::string(32, 'F'))).ok());
        lumenord::test::PtyPeer pad;
        pad.Serve({ReplyFrame('j', row.reply)});
        const Finished run = Tool({"--device", pad.SlavePath(), "auth", "init", authData});
        SCOPED_TRACE(run.out + run.err);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.out.find(row.text), std::string::npos);
        EXPECT_EQ(store.AuthData(), row.stored);
    }
}

// Ctrl-C or SIGTERM while the steps are still being read from a pipe ends the tool at once: the
// steps read so far never run.
TEST_F(Lumenord, InterruptWhileReadingStepsSendsNothing) {
    const struct {
        int signal;
        int status;
    } rows[] = {{SIGINT, 130}, {SIGTERM, 143}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.signal);
        lumenord::test::PtyPeer pad;
        ChildProcess tool({LUMENORD_PROGRAM, "--device", pad.SlavePath(), "run", "-"},
                          padsim::test::ChildOptions{m_dir, true});
        ASSERT_TRUE(tool.Write("info write NEVER\n"));
        // The pipe stays open; once the tool has taken the line it waits for the next one.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (tool.UnreadInput() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_EQ(tool.UnreadInput(), 0u);
        tool.Signal(row.signal);
        EXPECT_EQ(tool.WaitForExit(std::chrono::seconds(30)), row.status)
            << tool.out() << tool.err();
        EXPECT_TRUE(tool.out().empty());
        ExpectNothingSent(pad);
    }
}

}  // namespace
