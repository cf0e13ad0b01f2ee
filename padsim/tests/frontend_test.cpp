// The padsim program as a process: it links its pty, answers the driver through sysconfig.ini,
// turns scripted and typed keys into key presses, and ends cleanly on signals and end of input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pinpad.h"
#include "read_pad_bytes.h"

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

class Program {
public:
    // stdinMode: "pipe" (the test writes and closes it) or "null" (/dev/null).
    Program(const std::vector<std::string>& args, const std::string& stdinMode) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        m_pid = fork();
        if (m_pid == 0) {
            int input = stdinMode == "null" ? open("/dev/null", O_RDONLY) : in[0];
            dup2(input, STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(PADSIM_PROGRAM)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(PADSIM_PROGRAM, argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_stdin = in[1];
        m_stdout = out[0];
        fcntl(m_stdout, F_SETFL, O_NONBLOCK);
        if (stdinMode == "null") CloseInput();
    }
    ~Program() {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        CloseInput();
        if (m_stdout >= 0) close(m_stdout);
    }

    void Write(const std::string& text) {
        ASSERT_EQ(write(m_stdin, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void CloseInput() {
        if (m_stdin >= 0) close(m_stdin);
        m_stdin = -1;
    }
    void Signal(int sig) { kill(m_pid, sig); }

    // Collects output until it contains `text` or the time-out passes.
    bool WaitForOutput(const std::string& text, int timeoutMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_output.find(text) == std::string::npos) {
            pollfd p{m_stdout, POLLIN, 0};
            if (poll(&p, 1, RemainingMs(deadline)) <= 0) return false;
            char buffer[1024];
            const ssize_t n = read(m_stdout, buffer, sizeof buffer);
            if (n <= 0) return m_output.find(text) != std::string::npos;
            m_output.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    // The exit status, or -1 when the program is still running after the time-out.
    int WaitForExit(int timeoutMs = 5000) {
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                if (pidfd >= 0) close(pidfd);
                return -1;
            }
            pollfd p{pidfd, POLLIN, 0};
            poll(&p, pidfd >= 0 ? 1 : 0, pidfd >= 0 ? RemainingMs(deadline) : 10);
        }
        if (pidfd >= 0) close(pidfd);
        m_exited = true;
        WaitForOutput("\x01", 200);  // take what is left
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string& output() const { return m_output; }
    // The device path printed in the sysconfig.ini line.
    std::string MappedPath() const {
        const auto at = m_output.find("COM1=");
        if (at == std::string::npos) return {};
        return m_output.substr(at + 5, m_output.find('\n', at) - at - 5);
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1, m_stdout = -1;
    bool m_exited = false;
    std::string m_output;
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
