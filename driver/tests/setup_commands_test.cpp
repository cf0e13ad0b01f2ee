// The port and setup exports against a scripted pad on a pseudo-terminal: request frames, result
// codes, argument checks, the port flag, exclusive use, single-byte reads, the time-out log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "driver_context.h"
#include "os_services.h"
#include "pinpad.h"
#include "pty_peer.h"
#include "serial_channel.h"

namespace {

using lumenord::test::Hex;
using lumenord::test::PtyPeer;
using lumenord::test::ReadFileText;
using lumenord::test::ReplyFrame;
using lumenord::test::ReplyFrameWithLength;
using lumenord::test::TempWorkDir;
using Clock = std::chrono::steady_clock;
using lumenord::test::MsSince;

constexpr char kChildVariable[] = "LUMENORD_SETUP_CHILD";

int Enable(const char* name, int baud = 9600, const char* parity = "N", const char* data = "8",
           const char* stop = "1") {
    return PinPad_EnablePort(name, baud, parity, data, stop);
}

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        lumenord::test::WriteSysconfig(1, peer.SlavePath(), extraSettings);
        ASSERT_EQ(Enable("com1"), 0);
    }
    void TearDown() override { PinPad_DisablePort(); }

    // Runs `call` against one scripted reply; returns its result and keeps the request.
    int Exchange(const std::function<int()>& call, const std::string& reply) {
        peer.Serve({reply});
        int result = call();
        std::vector<std::string> got = peer.Requests();
        request = got.empty() ? "" : got[0];
        return result;
    }

    TempWorkDir dir;
    PtyPeer peer;
    std::string extraSettings;
    std::string request;
};

TEST_F(SetupTest, SettingExportsSendTheirFramesAndJudgeTheStatus) {
    char output[256] = {};
    struct Case {
        const char* name;
        std::function<int()> call;
        std::string expectedRequest;
        std::string reply;
        int result;
    };
    const Case cases[] = {
        {"read request", [&] { return PinPad_GetCustInfo(output); }, "02 30 30 31 33 03 30 31",
         ReplyFrame('c', "INFO"), 0},
        {"empty write is the read", [] { return PinPad_SetCustInfo("", 0); },
         "02 30 30 31 33 03 30 31", ReplyFrame('c', ""), 0},
        {"customer info", [] { return PinPad_SetCustInfo("HELLO", 5); },
         Hex(ReplyFrame('3', "HELLO")), ReplyFrame('c', ""), 0},
        {"control code", [] { return PinPad_SetControlCode("033", 3); },
         "02 30 30 34 35 30 33 33 03 33 32", ReplyFrame('e', ""), 0},
        {"empty control code", [] { return PinPad_SetControlCode("", 0); },
         "02 30 30 31 35 03 30 37", ReplyFrame('e', ""), 0},
        {"length decides, not the text", [] { return PinPad_SetControlCode("0320", 3); },
         Hex(ReplyFrame('5', "032")), ReplyFrame('e', ""), 0},
        {"keyboard value", [] { return PinPad_SetKeyboardValue("1234", 4); },
         Hex(ReplyFrame('4', "1234")), ReplyFrame('d', ""), 0},
        {"pad error 0xE5", [] { return PinPad_SetKeyboardValue("1234", 4); },
         Hex(ReplyFrame('4', "1234")), ReplyFrame('\xE5', ""), 229},
        {"other command's success byte", [] { return PinPad_SetControlCode("032", 3); },
         Hex(ReplyFrame('5', "032")), ReplyFrame('d', ""), 'd'},
        {"length field 000", [] { return PinPad_SetControlCode("032", 3); },
         Hex(ReplyFrame('5', "032")), ReplyFrameWithLength("000", 'e', ""), 0},
        {"full 256-byte payload",
         [] { return PinPad_SetCustInfo(std::string(256, 'K').c_str(), 256); },
         Hex(ReplyFrame('3', std::string(256, 'K'))), ReplyFrame('c', ""), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Exchange(c.call, c.reply), c.result);
        EXPECT_EQ(Hex(request), c.expectedRequest);
    }
}

TEST_F(SetupTest, CustomerInformationReadOutcomes) {
    const std::string data(200, 'V');
    struct Case {
        const char* name;
        std::string reply;
        int result;
        std::size_t written;  // bytes of the output replaced from the front
    };
    const Case cases[] = {
        {"success", ReplyFrame('c', data), 0, 200},
        {"low battery, data valid", ReplyFrame('\xE0', data), 224, 200},
        {"pad error '2'", ReplyFrame('2', data), 50, 0},
        {"length field 000", ReplyFrameWithLength("000", 'c', data), 0, 200},
        // More than the 256-byte reply buffer holds (250 data bytes): refused, not cut.
        {"oversized reply", ReplyFrame('c', std::string(300, 'V')), -4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> output(256, '\x55');  // exact size, so ASan sees any overrun
        EXPECT_EQ(Exchange([&] { return PinPad_GetCustInfo(output.data()); }, c.reply), c.result);
        std::size_t replaced = 0;
        while (replaced < output.size() && output[replaced] != '\x55') ++replaced;
        EXPECT_EQ(replaced, c.written);
        if (c.written > 0) {
            EXPECT_EQ(output[0], 'V');
        }
    }
}

TEST_F(SetupTest, ArgumentChecksComeFirst) {
    const std::string tooLong(257, 'A');
    EXPECT_EQ(PinPad_SetCustInfo(nullptr, 0), -3);
    EXPECT_EQ(PinPad_SetCustInfo("\0AB", 3), -3);
    EXPECT_EQ(PinPad_SetCustInfo(tooLong.c_str(), 257), -3);
    EXPECT_EQ(PinPad_SetKeyboardValue("", 0), -3);
    EXPECT_EQ(PinPad_SetKeyboardValue(nullptr, 4), -3);
    EXPECT_EQ(PinPad_SetKeyboardValue(tooLong.c_str(), 257), -3);
    EXPECT_EQ(PinPad_SetControlCode(nullptr, 0), -3);
    EXPECT_EQ(PinPad_SetControlCode(tooLong.c_str(), 257), -3);
    EXPECT_EQ(PinPad_GetCustInfo(nullptr), -3);
    EXPECT_EQ(PinPad_ReadOneByte(nullptr), -3);
    EXPECT_EQ(peer.Read(1, 50), "");  // none of them reached the line

    EXPECT_EQ(PinPad_EnablePort(nullptr, 9600, "N", "8", "1"), -3);
    EXPECT_EQ(PinPad_EnablePort("", 9600, "N", "8", "1"), -3);
    EXPECT_EQ(PinPad_EnablePort("com1", 9600, nullptr, "8", "1"), -3);
    EXPECT_EQ(PinPad_EnablePort("com1", 9600, "N", nullptr, "1"), -3);
    EXPECT_EQ(PinPad_EnablePort("com1", 9600, "N", "8", nullptr), -3);
    EXPECT_EQ(Enable("com0000000000001"), -3);  // 16 characters
    EXPECT_EQ(Enable("com000000000001"), 0);    // 15 characters: port 1
}

TEST_F(SetupTest, PortFlagGatesTheDeviceCommands) {
    char output[256] = {};
    EXPECT_EQ(PinPad_DisablePort(), 0);
    EXPECT_EQ(PinPad_DisablePort(), 0);  // also when nothing is open
    EXPECT_EQ(PinPad_SetCustInfo("AB", 2), -1);
    EXPECT_EQ(PinPad_SetKeyboardValue("AB", 2), -1);
    EXPECT_EQ(PinPad_SetControlCode("032", 3), -1);
    EXPECT_EQ(PinPad_GetCustInfo(output), -1);
    unsigned char byte = 0x77;
    EXPECT_EQ(PinPad_ReadOneByte(&byte), -1);  // closed: no wait, no byte
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(peer.Read(1, 50), "");

    // A failed open still sets the flag: device commands then find the port unwritable.
    EXPECT_EQ(Enable("co"), -1);
    EXPECT_EQ(PinPad_SetControlCode("032", 3), 2);
    EXPECT_EQ(PinPad_GetCustInfo(output), 2);
}

TEST_F(SetupTest, LongPortNumbersUseTheirMapping) {
    std::ofstream("sysconfig.ini")
        << "[PORTS]\nCOM1=" << dir.Path() << "/absent\nCOM10=" << peer.SlavePath() << "\n";
    EXPECT_EQ(Enable("com1"), -1);
    EXPECT_EQ(Enable("com10"), 0);
    EXPECT_EQ(Exchange([] { return PinPad_SetControlCode("032", 3); }, ReplyFrame('e', "")), 0);
}

TEST_F(SetupTest, EnablePortSetsTheLine) {
    struct Case {
        int baud;
        const char *parity, *data, *stop;
        speed_t speed;
        tcflag_t oddFlag, stopFlag;
    };
    const Case cases[] = {
        {115200, "N", "7", "2", B115200, 0, 0},  // characters, not the codes 7 and 2
        {14400, "\x01", "\x07", "\x02", B9600, PARODD, CSTOPB},
        {2400, "\x02", "\x08", "\x01", B2400, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        ASSERT_EQ(Enable("com1", c.baud, c.parity, c.data, c.stop), 0);
        termios t = peer.Settings();
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & PARODD, c.oddFlag);
        EXPECT_EQ(t.c_cflag & CSTOPB, c.stopFlag);
    }
}

// Run only as the child of ExclusiveUse: the port is held by the parent.
TEST(SetupChild, EnablePortIsRefused) {
    if (std::getenv(kChildVariable) == nullptr) GTEST_SKIP() << "runs only as a child process";
    EXPECT_EQ(Enable("com1"), -1);
}

int RunChildOpen() {
    setenv(kChildVariable, "1", 1);
    pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", "setup_tests", "--gtest_filter=SetupChild.*", nullptr);
        _exit(127);
    }
    unsetenv(kChildVariable);
    if (child < 0) return -1;
    auto start = Clock::now();
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (MsSince(start) > 20000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SetupTest, ExclusiveUse) {
    lumenord::SerialChannel second{lumenord::LibraryWaitHooks()};  // another opener in this process
    second.SetParameters(1, 9600, 0, 8, 1);
    EXPECT_EQ(second.Open(), 0);
    EXPECT_EQ(RunChildOpen(), 0) << "another process could open the port";
    char output[256] = {};
    EXPECT_EQ(Exchange([&] { return PinPad_GetCustInfo(output); }, ReplyFrame('c', "STILL")), 0);
    EXPECT_EQ(std::string(output), "STILL");
}

int g_pumpCalls = 0;
void PINPAD_CALL CountPump() { ++g_pumpCalls; }

TEST_F(SetupTest, ReadOneByte) {
    peer.Write("*");
    unsigned char byte = 0;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    int result = -1;
    while (result != 0 && Clock::now() < deadline) result = PinPad_ReadOneByte(&byte);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(byte, '*');

    // A silent pad: none after about a second, while the host's pump keeps being called.
    g_pumpCalls = 0;
    Lumenord_SetMessagePump(&CountPump);
    byte = 0x77;
    auto start = Clock::now();
    result = PinPad_ReadOneByte(&byte);
    long long waited = MsSince(start);
    Lumenord_SetMessagePump(nullptr);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(byte, 0);
    EXPECT_GE(waited, 1000);
    EXPECT_LT(waited, 3000);
    EXPECT_GE(g_pumpCalls, 10);
    EXPECT_LE(g_pumpCalls, 200);
}

// The dated log's file name and stamp, for the current UTC time.
struct LogName {
    std::string file;
    std::string yearMonth, day;
};
LogName LogNameNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char file[48], yearMonth[48], day[16];
    std::snprintf(file, sizeof file, "debug%02d%02d.log", utc.tm_mon + 1, utc.tm_mday);
    std::snprintf(yearMonth, sizeof yearMonth, "%04d-%02d", utc.tm_year + 1900, utc.tm_mon + 1);
    std::snprintf(day, sizeof day, "%02d", utc.tm_mday);
    return {file, yearMonth, day};
}

class SilentPadTest : public SetupTest {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir.Path() + "/logs");
        extraSettings = "TIMEOUTLOGDIR=" + dir.Path() + "/logs\n";
        SetupTest::SetUp();
    }
};

TEST_F(SilentPadTest, NoReplyAfterTheTimeOutAndANoteInTheDatedLog) {
    LogName before = LogNameNow();
    auto start = Clock::now();
    EXPECT_EQ(Exchange([] { return PinPad_SetControlCode("032", 3); }, ""), -4);
    EXPECT_GE(MsSince(start), 4000);
    LogName after = LogNameNow();
    std::string log = ReadFileText(dir.Path() + "/logs/" + after.file);
    if (log.empty()) log = ReadFileText(dir.Path() + "/logs/" + before.file);  // midnight
    std::smatch m;
    ASSERT_TRUE(std::regex_match(log, m,
                                 std::regex("---(\\d{4}-\\d{2}) (\\d{2}):\\d{2}:[ \\d]\\d\\d?---\n"
                                            "Data=\\[sReadByEndChar:TimeOut\\]  Len=\\[0\\]\n")))
        << log;
    EXPECT_TRUE(m[1] == after.yearMonth || m[1] == before.yearMonth);
    EXPECT_TRUE(m[2] == after.day || m[2] == before.day);
}

// Whether another opener could claim `device` as the driver claims its port.
bool Claimable(const std::string& device) {
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

// Every time-out log entry under `dir`.
std::string LogsIn(const std::string& dir) {
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        all += ReadFileText(entry.path().string());
    return all;
}

TEST_F(SetupTest, SettingsThatCannotBeFollowedOpenNothing) {
    const std::string logs = dir.Path() + "/logs";
    const std::string defaultLogs = dir.Path() + "/default-logs";
    lumenord::os::testing::SetDefaultTimeoutLogDirectory(defaultLogs.c_str());
    const std::string pty = peer.SlavePath();
    // Paths that name the pty in their first 511 characters: extra slashes change nothing.
    const std::string longest = std::string(511 - pty.size(), '/') + pty;
    const std::string settings = "[SYSTEM]\nTIMEOUTLOGDIR=" + logs + "\n[PORTS]\nCOM1=";
    struct Case {
        const char* name;
        std::string content;
        mode_t mode;
        int result;
        std::string note;    // the time-out log's entry, if any
        bool noteInDefault;  // there, not in the folder that the settings name
    };
    const Case cases[] = {
        {"device path of 511 characters", settings + longest + "\n", 0644, 0, "", false},
        {"device path of 600 characters", settings + longest + std::string(89, 'X') + "\n", 0644,
         -1, "EnablePort:DevicePathTooLong", false},
        {"settings over the size limit", settings + pty + "\n" + std::string(1 << 20, ';') + "\n",
         0644, -1, "EnablePort:SettingsUnreadable", true},
        {"settings this user may not read", settings + pty + "\n", 0, -1,
         "EnablePort:SettingsUnreadable", true},
        {"device path cut by a NUL byte", settings + pty + std::string("\0X\n", 3), 0644, -1,
         "EnablePort:DevicePathHoldsNul", false},
        {"settings that are a FIFO", "", 0644, -1, "EnablePort:SettingsUnreadable", true},
        {"time-out log folder of 600 characters",
         "[SYSTEM]\nTIMEOUTLOGDIR=" + logs + std::string(600 - logs.size(), '/') +
             "elsewhere\n[PORTS]\nCOM1=" + pty + std::string(600, 'X') + "\n",
         0644, -1, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.mode == 0 && geteuid() == 0) continue;  // root reads every file
        std::filesystem::remove_all(logs);
        std::filesystem::remove_all(defaultLogs);
        std::filesystem::create_directory(logs);
        std::filesystem::create_directory(defaultLogs);
        std::filesystem::remove("sysconfig.ini");
        if (c.content.empty()) {
            mkfifo("sysconfig.ini", c.mode);
        } else {
            std::ofstream("sysconfig.ini") << c.content;
        }
        chmod("sysconfig.ini", c.mode);

        EXPECT_EQ(Enable("com1"), c.result);
        if (c.result == 0) {
            EXPECT_FALSE(Claimable(pty));
        } else {
            // Nothing open: the command is not written anywhere.
            EXPECT_EQ(PinPad_SetControlCode("032", 3), 2);
            EXPECT_EQ(peer.Read(64, 100), "");
            EXPECT_TRUE(Claimable(pty));
        }
        const std::string entry = "Data=[" + c.note + "]  Len=[0]";
        const std::string named = LogsIn(logs), fallback = LogsIn(defaultLogs);
        if (c.note.empty()) {
            // No note, or none that a cut folder name could have sent here.
            EXPECT_EQ(named, "");
            EXPECT_EQ(fallback, "");
            continue;
        }
        EXPECT_EQ(named.find(entry) != std::string::npos, !c.noteInDefault) << named;
        EXPECT_EQ(fallback.find(entry) != std::string::npos, c.noteInDefault) << fallback;
    }
    chmod("sysconfig.ini", 0644);
    lumenord::os::testing::SetDefaultTimeoutLogDirectory(nullptr);
}

}  // namespace
