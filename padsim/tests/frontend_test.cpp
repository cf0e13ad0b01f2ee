// The padsim program as a process: it links its pty, answers the driver through sysconfig.ini,
// turns scripted and typed keys into key presses, and ends cleanly on signals and end of input.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "pinpad.h"
#include "read_pad_bytes.h"
#include "reference_crypto.h"

namespace {

// The padsim program; stdinMode "pipe" (the test writes and closes it) or "null" (/dev/null).
class Program : public padsim::test::ChildProcess {
public:
    Program(const std::vector<std::string>& args, const std::string& stdinMode)
        : ChildProcess(Argv(args), {"", stdinMode == "pipe", true}) {}

    void Write(const std::string& text) { ASSERT_TRUE(ChildProcess::Write(text)); }
    bool WaitForOutput(const std::string& text, int timeoutMs = 5000) {
        return ChildProcess::WaitForOutput(text, std::chrono::milliseconds(timeoutMs));
    }
    int WaitForExit(int timeoutMs = 5000) {
        return ChildProcess::WaitForExit(std::chrono::milliseconds(timeoutMs));
    }
    const std::string& output() const { return out(); }
    // The device path printed in the sysconfig.ini line.
    std::string MappedPath() const {
        const auto at = output().find("COM1=");
        if (at == std::string::npos) return {};
        return output().substr(at + 5, output().find('\n', at) - at - 5);
    }

private:
    static std::vector<std::string> Argv(const std::vector<std::string>& args) {
        std::vector<std::string> argv{PADSIM_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
};

class FrontEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "padsim-fe-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        m_dir = pattern;
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
        link = m_dir + "/ttyPAD";
    }
    void TearDown() override {
        PinPad_DisablePort();
        std::error_code ignored;
        std::filesystem::current_path(m_previous, ignored);
        std::filesystem::remove_all(m_dir, ignored);
    }
    // Maps COM1 through sysconfig.ini to what the program printed and opens it.
    void OpenThrough(const Program& program) {
        const std::string mapped = program.MappedPath();
        ASSERT_EQ(mapped, link);
        std::ofstream ini("sysconfig.ini");
        ini << "[SYSTEM]\nTIMEOUTLOGDIR=" << m_dir << "\n[PORTS]\nCOM1=" << mapped << "\n";
        ini.close();
        const char none = 0, eight = 8, one = 1;
        ASSERT_EQ(PinPad_EnablePort("com1", 9600, &none, &eight, &one), 0);
    }

    // The statistics padsim wrote at its end.
    static nlohmann::json ReadStats(const std::string& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return nlohmann::json::parse(text.str(), nullptr, false);
    }

    std::string link;

private:
    std::string m_dir;
    std::filesystem::path m_previous;
};

TEST_F(FrontEnd, AnswersTheDriverPressesScriptedKeysAndEndsOnSigint) {
    Program program({"--link", link, "--keys", "12\\r", "--key-delay", "50"}, "pipe");
    ASSERT_TRUE(program.WaitForOutput("COM1=")) << program.output();
    EXPECT_TRUE(program.WaitForOutput("[PORTS]"));
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    OpenThrough(program);
    char area[256] = {};
    ASSERT_EQ(PinPad_GetCustInfo(area), 0);
    EXPECT_EQ(std::string(area + 132, 3), "R4K");
    ASSERT_EQ(PinPad_SetControlCode("035", 3), 0);
    ASSERT_EQ(PinPad_SetControlCode("033", 3), 0);
    EXPECT_EQ(padsim::test::ReadPadBytes(3), "12\r");
    EXPECT_TRUE(program.WaitForOutput("mode: clear-text keypad")) << program.output();
    program.Write("3a");  // typed in its terminal: '3' and the hex letter A
    EXPECT_EQ(padsim::test::ReadPadBytes(2), "3A");
    ASSERT_EQ(PinPad_SetControlCode("032", 3), 0);
    PinPad_DisablePort();
    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitForExit(), 0) << program.output();
    EXPECT_NE(program.output().find("padsim: stopped"), std::string::npos);
    EXPECT_NE(lstat(link.c_str(), &st), 0);  // the link is gone
}

TEST_F(FrontEnd, EndsWhenItsInputCloses) {
    Program program({"--link", link}, "pipe");
    ASSERT_TRUE(program.WaitForOutput("COM1="));
    program.CloseInput();
    EXPECT_EQ(program.WaitForExit(), 0) << program.output();
}

TEST_F(FrontEnd, WithoutInputItRunsInTheBackgroundUntilSigterm) {
    Program program({"--link", link, "--no-input", "--force", "5=E5"}, "null");
    ASSERT_TRUE(program.WaitForOutput("COM1=")) << program.output();
    OpenThrough(program);  // still there although its input ended at once
    char area[256] = {};
    EXPECT_EQ(PinPad_GetCustInfo(area), 0);
    EXPECT_EQ(PinPad_SetControlCode("032", 3), 229);  // the fault option reached the pad
    PinPad_DisablePort();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(), 0) << program.output();
}

TEST_F(FrontEnd, InputFromDevNullEndsAtOnceWithoutNoInput) {
    Program program({"--link", link}, "null");
    EXPECT_EQ(program.WaitForExit(), 0) << program.output();
}

TEST_F(FrontEnd, RefusesUnknownOptionsAndLinksOverOtherFiles) {
    Program bad({"--link", link, "--bogus"}, "null");
    EXPECT_EQ(bad.WaitForExit(), 2);
    EXPECT_NE(bad.output().find("usage"), std::string::npos);
    std::ofstream(link) << "a plain file";
    Program blocked({"--link", link}, "null");
    EXPECT_EQ(blocked.WaitForExit(), 1);
    EXPECT_NE(blocked.output().find("not a symbolic link"), std::string::npos);
}

// One unit among several: its version fields as given. Its MAC and cipher replies are wrong in
// sound frames, so the driver takes them as successes with data of the right length and kind,
// every character other than the right answer's; commands not named are answered right.
TEST_F(FrontEnd, UnitOptionsShowInTheInformationAreaAndWrongDataPassesTheFrameChecks) {
    Program program({"--link", link, "--no-input", "--serial", "0042", "--firmware", "2A7",
                     "--date-code", "2701", "--wrong-data", "8", "--wrong-data", "9"},
                    "null");
    ASSERT_TRUE(program.WaitForOutput("COM1=")) << program.output();
    OpenThrough(program);
    char area[256] = {};
    ASSERT_EQ(PinPad_GetCustInfo(area), 0);
    EXPECT_EQ(std::string(area + 126, 20), std::string("SIM731R4K2A727010042", 20));
    const std::string key = "0123456789ABCDEFFEDCBA9876543210";
    char code[PINPAD_VERIFY_CODE_SIZE] = {};
    ASSERT_EQ(PinPad_DownloadKey(("0002" + key).c_str(), 36, code, 0), 0);
    EXPECT_EQ(std::string(code), padsim::test::RefVerifyCode(key));
    const std::string message = "Now is the time for all ";
    const std::string data = "00112233445566778899AABBCCDDEEFF";
    const struct {
        const char* name;
        std::string request;
        std::function<int(const std::string&, char*)> call;
        std::string right;
    } cases[] = {
        {"MAC", "003" + message,
         [](const std::string& in, char* out) {
             return PinPad_MakeMac(in.c_str(), static_cast<unsigned>(in.size()), out);
         },
         padsim::test::RefRetailMac(key, padsim::test::Hex(message))},
        {"data encryption", "001" + data,
         [](const std::string& in, char* out) {
             return PinPad_EncryptData(in.c_str(), static_cast<unsigned>(in.size()), out);
         },
         padsim::test::RefEncrypt(key, data)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char out[PINPAD_DATA_REPLY_SIZE] = {};
        ASSERT_EQ(c.call(c.request, out), 0);
        const std::string got(out);
        ASSERT_EQ(got.size(), c.right.size());
        EXPECT_EQ(got.find_first_not_of("0123456789ABCDEF"), std::string::npos) << got;
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NE(got[i], c.right[i]) << i;
    }
    PinPad_DisablePort();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(), 0) << program.output();
}

}  // namespace

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A known exchange at a slow rate: the reply's last byte cannot come before the request and the
// reply have both crossed the line (bytes x bits per byte / rate), and comes not much later.
struct PacedExchange {
    const char* rate;
    const char* frame;  // "" = the default 8N1
    int bitsPerByte;
    std::uint64_t requestBytes, replyBytes;  // payload + 8, data + 8
    std::function<int()> call;
};

TEST_F(FrontEnd, PacedLineTakesTheWireTimeOfRequestAndReplyAndCountsTheirBytes) {
    const PacedExchange cases[] = {
        // A leading zero is still decimal, not octal.
        {"01200", "", 10, 3 + 8, 0 + 8, [] { return PinPad_SetControlCode("032", 3); }},
        {"2400", "7E2", 11, 0 + 8, 146 + 8,
         [] {
             char area[256] = {};
             return PinPad_GetCustInfo(area);
         }},
    };
    for (const PacedExchange& c : cases) {
        SCOPED_TRACE(std::string(c.rate) + " " + c.frame);
        const std::string stats = "stats.json";
        std::ofstream(stats) << "left from before";
        std::vector<std::string> args{"--link", link,      "--no-input", "--line-rate",
                                      c.rate,   "--stats", stats};
        if (*c.frame) args.insert(args.end(), {"--frame", c.frame});
        Program program(args, "null");
        ASSERT_TRUE(program.WaitForOutput("COM1=")) << program.output();
        OpenThrough(program);
        const double wireMs = 1000.0 * static_cast<double>(c.requestBytes + c.replyBytes) *
                              c.bitsPerByte / std::stoi(c.rate);
        const auto start = Clock::now();
        ASSERT_EQ(c.call(), 0);
        const double tookMs = MsSince(start);
        EXPECT_GE(tookMs, wireMs);
        EXPECT_LE(tookMs, wireMs + 500);
        PinPad_DisablePort();
        program.Signal(SIGTERM);
        ASSERT_EQ(program.WaitForExit(), 0) << program.output();
        const nlohmann::json got = ReadStats(stats);
        ASSERT_TRUE(got.is_object()) << got;
        EXPECT_EQ(got["bytes_in"], c.requestBytes);
        EXPECT_EQ(got["bytes_out"], c.replyBytes);
        EXPECT_EQ(got["line"]["baud"], std::stoi(c.rate));
        EXPECT_EQ(got["line"]["bits_per_byte"], c.bitsPerByte);
        EXPECT_NEAR(got["wire_ms"].get<double>(), wireMs, 0.001);
        const double firstToLastMs =
            (got["last_out_ns"].get<std::int64_t>() - got["first_in_ns"].get<std::int64_t>()) / 1e6;
        EXPECT_GE(firstToLastMs, wireMs);
        EXPECT_LE(firstToLastMs, tookMs);
    }
}

// Scripted keys at 1200 baud, 100 ms apart: the pad's own time is the wait for the keys less the
// time its reply (8 bytes) and each earlier key's echo (1 byte) held the line.
TEST_F(FrontEnd, OwnTimeIsTheWaitForScriptedKeysWhileTheLineIsIdle) {
    Program program({"--link", link, "--no-input", "--line-rate", "1200", "--keys", "1234",
                     "--key-delay", "100", "--stats", "stats.json"},
                    "null");
    ASSERT_TRUE(program.WaitForOutput("COM1=")) << program.output();
    OpenThrough(program);
    ASSERT_EQ(PinPad_SetControlCode("033", 3), 0);  // the clear-text keypad: keys as characters
    EXPECT_EQ(padsim::test::ReadPadBytes(4), "1234");
    ASSERT_EQ(PinPad_SetControlCode("032", 3), 0);
    PinPad_DisablePort();
    program.Signal(SIGTERM);
    ASSERT_EQ(program.WaitForExit(), 0) << program.output();
    const nlohmann::json got = ReadStats("stats.json");
    ASSERT_TRUE(got.is_object()) << got;
    const double byteMs = 10.0 / 1200 * 1000;
    const double expectedMs = 4 * 100 - 8 * byteMs - 3 * byteMs;
    EXPECT_GE(got["key_wait_ms"].get<double>(), expectedMs - 0.001);
    EXPECT_LE(got["key_wait_ms"].get<double>(), expectedMs + 150);
    EXPECT_EQ(got["bytes_out"], 8 + 4 + 8);
    EXPECT_LT(got["processing_ms"].get<double>(), 100);
    EXPECT_NEAR(got["own_ms"].get<double>(),
                got["key_wait_ms"].get<double>() + got["processing_ms"].get<double>(), 0.001);
}

TEST_F(FrontEnd, PrintsHelpAndVersionAndRefusesBadOptionValues) {
    std::filesystem::create_directory("a-folder");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"--line-rate", "299"}, 2, "300 to 921600"},
        {{"--line-rate", "921601"}, 2, "300 to 921600"},
        {{"--line-rate", "9600x"}, 2, "not a number"},
        {{"--line-rate", "9600", "--frame", "9N1"}, 2, "data bits 7|8"},
        {{"--line-rate", "9600", "--frame", "8X1"}, 2, "data bits 7|8"},
        {{"--line-rate", "9600", "--frame", "8N3"}, 2, "data bits 7|8"},
        {{"--line-rate", "9600", "--frame", "8N1x"}, 2, "data bits 7|8"},
        {{"--frame", "8N1"}, 2, "--frame requires --line-rate"},
        {{"--stats"}, 2, "--stats: 1 required FILE missing"},
        {{"--stats", ""}, 2, "--stats: needs a file name"},
        {{"--stats", "a-folder"}, 1, "not a regular file"},
        {{"--serial", "00042"}, 2, "--serial: wants 4 printable characters"},
        {{"--serial", "42"}, 2, "the value has 2 characters"},
        {{"--serial", ""}, 2, "the value has 0 characters"},
        {{"--serial", "01\x07"}, 2, "byte 0x07, which is not printable"},
        {{"--firmware", "1100"}, 2, "--firmware: wants 3 printable characters"},
        {{"--date-code", "26\xC3\xA9"}, 2, "byte 0xC3, which is not printable"},
        {{"--date-code"}, 2, "--date-code: 1 required TEXT missing"},
        {{"--wrong-data", "Z"}, 2, "--wrong-data: wants one command byte"},
        {{"--wrong-data", "89"}, 2, "--wrong-data: wants one command byte"},
        {{"--wrong-data", "8", "9"}, 2, "not expected: 9"},  // one byte each time
        {{"--line-rate", "0x2580"}, 2, "not a number"},      // decimal only
        {{"--cut", "1", "--cut", "2"}, 2, "--cut: At Most 1 required but received 2"},
        {{"--delay", "8=x"}, 2, "--delay: 'x' is not a number"},
        {{"--delay", "Z=5"}, 2, "--delay: wants C=MS, C a command byte"},
        {{"--delay", "5", "--delay", "7"}, 2, "--delay: MS for every reply is given twice"},
        {{"--force", "5=ZZ"}, 2, "--force: wants the status HH as two hexadecimal digits"},
        {{"--force", "Z=E5"}, 2, "--force: wants C=HH, C a command byte"},
        {{"--force", "5=E5", "--force", "5=E6"}, 2, "--force: command byte '5' is given twice"},
        {{"--disappear", "5@x"}, 2, "--disappear: wants N[@R]"},
        {{"--help"}, 0, "  --disappear N[@R]    at request R"},
        {{"--version"}, 0, "padsim "},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--link", link, "--no-input"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args.back());
        Program program(args, "null");
        EXPECT_EQ(program.WaitForExit(), c.status) << program.output();
        EXPECT_NE(program.output().find(c.says), std::string::npos) << program.output();
        if (c.status == 2) {
            EXPECT_NE(program.output().find("usage"), std::string::npos);
        }
    }
}

}  // namespace
