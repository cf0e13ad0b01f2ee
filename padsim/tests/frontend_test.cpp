// The padsim program as a process: it links its pty, answers the driver through sysconfig.ini,
// turns scripted and typed keys into key presses, and ends cleanly on signals and end of input.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "pinpad.h"
#include "read_pad_bytes.h"

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

}  // namespace
