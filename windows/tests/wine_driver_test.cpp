// Lumenord.dll of one bitness (the program's argument: x86 or x64) under wine, driven through the
// console bridge of the same bitness that binds it with the test program's own binding code (the
// 32-bit DLL by the plain names of its stdcall exports): COM1 of the wine prefix is a pty with a
// scripted peer (byte-exact frames, line settings, trace) or the simulated pad (every export, a
// silent pad, a pad that disappears, a frame monitor and a cancel installed through the DLL,
// logs behind links, long port mappings). Results are recomputed here with OpenSSL, as in the
// Linux driver tests. Where this machine cannot run programs of that bitness, the program says
// why and ends with kSkipped, which ctest reports as a skip.
#include <gtest/gtest.h>
#include <pinpad.h>
#include <termios.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "padsim/pty_pad.h"
#include "pty_peer.h"
#include "reference_crypto.h"
#include "wine_session.h"

namespace {

namespace fs = std::filesystem;
using lumenord::test::PtyPeer;
using lumenord::test::ReadFileText;
using lumenord::test::ReplyFrame;
using lumenord::test::ReplyFrameWithLength;
using padsim::test::RefDecrypt;
using padsim::test::RefEncrypt;
using padsim::test::RefVerifyCode;
using padsim::test::RequestFrame;
using padsim::test::XorHex;

const std::string kImk = "0123456789ABCDEFFEDCBA9876543210";
const std::string kWorking = "1C587F1C13924FEF4A5B3D2C1F0E8F9D";  // odd parity
const std::string kAuthKey = "00112233445566778899AABBCCDDEEFF";
const std::string kAccount = "123456789012";

class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { wine::Prefix::Instance().Start(); }
    void TearDown() override { wine::Prefix::Instance().Stop(); }
};
const ::testing::Environment* const kWine =
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);

// Arguments of a bridged call: a text, an integer, an output buffer of n bytes.
std::string Text(const std::string& bytes) { return "s:" + padsim::test::Hex(bytes); }
std::string Int(long long n) { return "i:" + std::to_string(n); }
std::string Out(int size) { return "o:" + std::to_string(size); }

struct Result {
    int rc = -1000;  // no answer
    long ms = -1;
    std::string out;  // the output buffer up to its last non-zero byte
};

class WineDriver : public ::testing::Test {
protected:
    lumenord::test::TempWorkDir dir;
    std::unique_ptr<wine::Bridge> bridge;

    // Starts the bridge in `folder` (the working directory by default) with COM1 on `device`;
    // the DLL lies beside it unless `withDll` is false.
    void StartBridge(const std::string& device, const std::string& sysconfig = "",
                     const std::string& folder = "", bool withDll = true) {
        const std::string where = folder.empty() ? dir.Path() : folder;
        fs::create_directories(where);
        const std::string& binaries = wine::CurrentArchitecture().binaries;
        fs::copy_file(binaries + "/wine_bridge.exe", where + "/wine_bridge.exe");
        if (withDll) fs::copy_file(binaries + "/Lumenord.dll", where + "/Lumenord.dll");
        if (!sysconfig.empty()) std::ofstream(where + "/sysconfig.ini") << sysconfig;
        wine::Prefix::Instance().PointCom1At(device);
        bridge = std::make_unique<wine::Bridge>(where);
    }
    std::string Request(const std::string& line) {
        std::string answer = bridge->Request(line);
        if (answer.empty()) ADD_FAILURE() << "no answer to " << line << "\n" << bridge->Log();
        return answer;
    }
    Result Call(const std::string& name, const std::vector<std::string>& args = {}) {
        std::string line = "call " + name;
        for (const std::string& a : args) line += " " + a;
        const std::string answer = Request(line);
        static const std::regex kAnswer("rc=(-?[0-9]+) ms=([0-9]+) out=([0-9A-F]*)");
        std::smatch m;
        Result result;
        if (!std::regex_match(answer, m, kAnswer)) {
            ADD_FAILURE() << name << " answered " << answer;
            return result;
        }
        result.rc = std::stoi(m[1]);
        result.ms = std::stol(m[2]);
        result.out = padsim::test::Unhex(m[3].str());
        return result;
    }
    int Rc(const std::string& name, const std::vector<std::string>& args = {}) {
        return Call(name, args).rc;
    }
    void LoadDriver() { ASSERT_EQ(Request("load Lumenord.dll").rfind("loaded bound=20", 0), 0u); }
    // Opens com1; the codes are numeric bytes.
    int EnableCom1(int baud = 9600, char parity = 0, char dataBits = 8, char stopBits = 1) {
        return EnablePort("com1", baud, parity, dataBits, stopBits);
    }
    int EnablePort(const std::string& name, int baud = 9600, char parity = 0, char dataBits = 8,
                   char stopBits = 1) {
        return Rc("PinPad_EnablePort",
                  {Text(name), Int(baud), Text(std::string(1, parity)),
                   Text(std::string(1, dataBits)), Text(std::string(1, stopBits))});
    }
};

TEST_F(WineDriver, BindsTwentyOfTheTwentyTwoNamesAndReportsAMissingLibrary) {
    StartBridge("/nonexistent");
    EXPECT_EQ(Request("load Lumenord.dll"),
              "loaded bound=20 missing=PinPad_SetPassword,PinPad_LoadKeyAuthenticate pump=1");
    EXPECT_EQ(
        Call("PinPad_TriUntriDes", {Text("0000000000000000"), Text(kWorking), Out(64), Int(0)})
            .out.substr(0, 8),
        RefVerifyCode(kWorking));
    // Without the DLL beside the program nothing is bound.
    const std::string alone = dir.Path() + "/alone";
    StartBridge("/nonexistent", "", alone, false);
    EXPECT_EQ(Request("load Lumenord.dll"), "not-loaded");
    EXPECT_EQ(Request("call PinPad_GetCustInfo o:256"), "unbound");
}

// The rate, odd parity and two stop bits, as wine set them from the DCB. A pty keeps no parity
// enable and no character size (the kernel forces eight bits), and wine on a pty refuses even
// parity with seven data bits and has no 56000, so those are left to the Linux mapping tests.
TEST_F(WineDriver, LineSettingsReachTheLine) {
    PtyPeer peer;
    StartBridge(peer.SlavePath());
    LoadDriver();
    struct Case {
        int baud;
        char parity, dataBits, stopBits;
        speed_t speed;
        tcflag_t odd, stop;
    };
    const Case cases[] = {
        {9600, 0, 8, 1, B9600, 0, 0},
        {115200, 1, 7, 2, B115200, PARODD, CSTOPB},
        {19200, 1, 8, 1, B19200, PARODD, 0},
        {300, 2, 8, 2, B300, 0, CSTOPB},
        // Unlisted rates open at 9600; the codes are numbers, so the characters '1', '7' and
        // '2' select no parity, eight data bits and one stop bit.
        {14400, '1', '7', '2', B9600, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        ASSERT_EQ(EnableCom1(c.baud, c.parity, c.dataBits, c.stopBits), 0);
        const termios line = peer.Settings();
        EXPECT_EQ(cfgetospeed(&line), c.speed);
        EXPECT_EQ(line.c_cflag & PARODD, c.odd);
        EXPECT_EQ(line.c_cflag & CSTOPB, c.stop);
        EXPECT_EQ(Rc("PinPad_DisablePort"), 0);
    }
}

TEST_F(WineDriver, FramesResultsAndTraceAsOnLinux) {
    PtyPeer peer;
    StartBridge(peer.SlavePath(), "[SYSTEM]\r\nDEBUG=1\r\n");
    LoadDriver();
    ASSERT_EQ(EnableCom1(), 0);

    struct Case {
        std::string name;
        std::vector<std::string> args;
        std::string reply;  // what the peer answers
        std::string frame;  // what it must have read
        int rc;
        std::string out;
    };
    const std::string area = std::string("customer") + std::string(3, '\0') + "R4K";
    const Case cases[] = {
        // Line noise ahead of the reply's STX is skipped.
        {"PinPad_GetCustInfo",
         {Out(256)},
         "\xFF\x7Fjunk" + ReplyFrame('c', area),
         std::string("\x02"
                     "0013\x03"
                     "01"),
         0,
         area},
        {"PinPad_SetControlCode",
         {Text("033"), Int(3)},
         ReplyFrame('e', ""),
         std::string("\x02"
                     "0045033\x03"
                     "32"),
         0,
         ""},
        // The pad's own status comes back unchanged, not as a negative number.
        {"PinPad_SetKeyboardValue",
         {Text(std::string(48, '3')), Int(48)},
         ReplyFrame('\xE5', ""),
         RequestFrame('4', std::string(48, '3')),
         229,
         ""},
        // A reply announced with length "000" is success with nothing taken.
        {"PinPad_DownloadEncryptKey",
         {Text("003000"), Int(6), Out(128)},
         ReplyFrameWithLength("000", 'b', ""),
         RequestFrame('2', "003000"),
         0,
         ""},
    };
    for (const Case& c : cases) {
        peer.Serve({c.reply});
        const Result result = Call(c.name, c.args);
        const std::vector<std::string> requests = peer.Requests();
        ASSERT_EQ(requests.size(), 1u) << c.name;
        EXPECT_EQ(lumenord::test::Hex(requests[0]), lumenord::test::Hex(c.frame)) << c.name;
        EXPECT_EQ(result.rc, c.rc) << c.name;
        EXPECT_EQ(result.out, c.out) << c.name;
    }

    // Written by the Windows runtime in text mode: every line ends in CR LF.
    const std::string trace = ReadFileText(dir.Path() + "/logbuf.txt");
    EXPECT_NE(trace.find("Send To POS   ["), std::string::npos) << trace;
    EXPECT_NE(trace.find("\r\nBCD[02 30 30 31 33 03 30 31 ]\r\n\r\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Receive From POS  ["), std::string::npos) << trace;

    // A name without a number opens nothing; the flag is set all the same.
    EXPECT_EQ(Rc("PinPad_EnablePort", {Text("co"), Int(9600), Text("N"), Text("8"), Text("1")}),
              -1);
    EXPECT_EQ(Rc("PinPad_SetControlCode", {Text("032"), Int(3)}), 2);
    EXPECT_EQ(Rc("PinPad_DisablePort"), 0);
    EXPECT_EQ(Rc("PinPad_SetControlCode", {Text("032"), Int(3)}), -1);
}

// The simulated pad, with the keys the operations need: an IMK at 00 and the working key as
// PIN key at 30, MAC key at 31 and data key at 40.
class WinePad : public WineDriver {
protected:
    padsim::PtyPad pad{padsim::PadOptions{}};

    void SetUp() override {
        StartBridge(pad.DevicePath());
        LoadDriver();
        ASSERT_EQ(EnableCom1(), 0);
    }
    void LoadKeys() {
        Result imk = Call("PinPad_DownloadKey", {Text("0002" + kImk), Int(36), Out(128), Int(0)});
        ASSERT_EQ(imk.rc, 0);
        EXPECT_EQ(imk.out, RefVerifyCode(kImk));
        for (const char* slot : {"303", "315", "406"}) {
            const std::string record = std::string("00") + slot[0] + slot[1] + slot[2] + "2" +
                                       RefEncrypt(kImk, kWorking) + RefVerifyCode(kWorking);
            Result working =
                Call("PinPad_DownloadEncryptKey",
                     {Text(record), Int(static_cast<long long>(record.size())), Out(128)});
            ASSERT_EQ(working.rc, 0) << slot;
            EXPECT_EQ(working.out, RefVerifyCode(kWorking)) << slot;
        }
    }
    void Fault(const std::function<void(padsim::Faults&)>& set) {
        pad.With([&](padsim::PadSimulator& e) { set(e.faults()); });
    }
};

TEST_F(WinePad, EveryExportAgainstTheSimulatedPad) {
    const std::string keys = "3132333435363738393A3B3C3D3E3F404142434445464748";
    ASSERT_EQ(Rc("PinPad_SetCustInfo", {Text("customer 42"), Int(11)}), 0);
    ASSERT_EQ(Rc("PinPad_SetKeyboardValue", {Text(keys), Int(48)}), 0);
    const Result info = Call("PinPad_GetCustInfo", {Out(256)});
    ASSERT_EQ(info.rc, 0);
    ASSERT_EQ(info.out.size(), 146u);
    EXPECT_EQ(info.out.substr(0, 11), "customer 42");
    EXPECT_EQ(info.out.substr(50, 48), keys);
    EXPECT_EQ(info.out.substr(118, 8), "PADSIM01");
    EXPECT_EQ(info.out.substr(142, 4), "0001");
    ASSERT_EQ(Rc("PinPad_SetControlCode", {Text("220"), Int(3)}), 0);
    EXPECT_EQ(pad.With([](padsim::PadSimulator& e) { return e.settings().pinTimeoutSeconds; }),
              0x20);
    LoadKeys();

    const Result init = Call("PinPad_InitAuthorization", {Text(kAuthKey), Int(32), Out(256)});
    ASSERT_EQ(init.rc, 0);
    EXPECT_EQ(init.out, kAuthKey);
    const Result challenge = Call("PinPad_GetChallenge", {Out(256)});
    ASSERT_EQ(challenge.rc, 0);
    ASSERT_EQ(challenge.out.size(), 32u);
    const Result mutual =
        Call("PinPad_BidirectionalAuthorization",
             {Text(kAuthKey), Int(32), Text("30"), Text(challenge.out), Out(256)});
    ASSERT_EQ(mutual.rc, 0);
    EXPECT_EQ(mutual.out,
              RefEncrypt(kWorking, RefEncrypt(kAuthKey, RefEncrypt(kWorking, challenge.out))));

    // PIN entry: the pad's echoes come one byte a call.
    pad.SetScriptedKeys("4711\r");
    ASSERT_EQ(Rc("PinPad_EnablePin", {Text("30 000" + kAccount), Int(18)}), 0);
    std::string echoes;
    for (int i = 0; i < 20 && echoes.size() < 5; ++i) {
        const Result byte = Call("PinPad_ReadOneByte", {Out(1)});
        if (byte.rc == 0) echoes += byte.out.empty() ? std::string(1, '\0') : byte.out;
    }
    EXPECT_EQ(echoes, "****\r");
    const Result pin = Call("PinPad_GetPinValue", {Text(""), Int(0), Int(5), Out(256)});
    ASSERT_EQ(pin.rc, 0);
    ASSERT_EQ(pin.out.size(), 20u);
    EXPECT_EQ(
        XorHex(RefDecrypt(kWorking, pin.out.substr(4)), "0000" + ("0" + kAccount.substr(0, 11))),
        "044711FFFFFFFFFF");

    const std::string message = "Now is the time for all ";
    const Result mac = Call("PinPad_MakeMac", {Text("312" + message), Int(27), Out(32)});
    ASSERT_EQ(mac.rc, 0);
    const std::string cbc =
        padsim::test::RefCbcEncrypt(kWorking.substr(0, 16), padsim::test::Hex(message));
    EXPECT_EQ(mac.out, cbc.substr(cbc.size() - 16));
    const Result data =
        Call("PinPad_EncryptData", {Text("4010123456789ABCDEF"), Int(19), Out(4096)});
    ASSERT_EQ(data.rc, 0);
    EXPECT_EQ(data.out, RefEncrypt(kWorking, "0123456789ABCDEF"));

    const Result power = Call("PinPad_IC_Control", {Text("1881"), Out(2048)});
    ASSERT_EQ(power.rc, 0);
    EXPECT_EQ(power.out, padsim::PadSimulator::kAtr);
    const Result select = Call("PinPad_IC_Access", {Text("100A40000023F00"), Out(2048)});
    ASSERT_EQ(select.rc, 0);
    EXPECT_EQ(select.out, "6F0A84023F00A504880101009000");
    ASSERT_EQ(Rc("PinPad_DispInfoLcd", {Text("0Hello"), Int(6)}), 0);
    EXPECT_EQ(pad.With([](padsim::PadSimulator& e) { return e.displayText(); }), "Hello");

    ASSERT_EQ(Rc("PinPad_DisablePort"), 0);
    EXPECT_EQ(Rc("PinPad_SetControlCode", {Text("032"), Int(3)}), -1);
}

// The dated time-out log in C:\halmstrom\ (UTC date), as the driver names it.
std::string TimeoutLogName() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char name[32];
    std::snprintf(name, sizeof name, "debug%02d%02d.log", utc.tm_mon + 1, utc.tm_mday);
    return name;
}

TEST_F(WinePad, SilentPadGivesMinusFourAfterItsTimeOutWhileTheHostIsServed) {
    const std::string logDir = wine::Prefix::Instance().DriveC() + "/halmstrom";
    fs::remove_all(logDir);
    Fault([](padsim::Faults& f) { f.silent = true; });

    // Without C:\halmstrom\ nothing is logged, and the directory is not made.
    Result silent = Call("PinPad_SetControlCode", {Text("032"), Int(3)});
    EXPECT_EQ(silent.rc, -4);
    EXPECT_FALSE(fs::exists(logDir));

    // While the call waits, the library dispatches this thread's messages (a thread timer's
    // WM_TIMER runs its procedure) and calls the installed pump; a quit request posted before
    // the call is still there for the host afterwards.
    fs::create_directories(logDir);
    ASSERT_EQ(Request("pump on"), "pump-on");
    ASSERT_EQ(Request("timer 50"), "timer");
    ASSERT_EQ(Request("counters").rfind("pump=", 0), 0u);
    ASSERT_EQ(Request("post-quit 7"), "posted");
    silent = Call("PinPad_GetCustInfo", {Out(256)});
    EXPECT_EQ(silent.rc, -4);
    EXPECT_GE(silent.ms, 4000);
    EXPECT_LT(silent.ms, 5500);
    const std::string counters = Request("counters");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(counters, m, std::regex("pump=([0-9]+) timer=([0-9]+) quit=(.*)")))
        << counters;
    // A pass about every 10 ms, or sooner for a message; a wait that spun would pass far more.
    EXPECT_GE(std::stoi(m[1]), 100) << counters;
    EXPECT_LE(std::stoi(m[1]), 2000) << counters;
    EXPECT_GE(std::stoi(m[2]), 20) << counters;  // about 80 periods of 50 ms
    EXPECT_EQ(m[3], "7") << counters;
    const std::string log = ReadFileText(logDir + "/" + TimeoutLogName());
    EXPECT_NE(log.find("Data=[sReadByEndChar:TimeOut]  Len=[0]"), std::string::npos) << log;

    // Nothing arrives for a single-byte read: -1 after about a second.
    const Result none = Call("PinPad_ReadOneByte", {Out(1)});
    EXPECT_EQ(none.rc, -1);
    EXPECT_GE(none.ms, 1000);
    EXPECT_LT(none.ms, 2000);
    fs::remove_all(logDir);
}

TEST_F(WinePad, PadThatDisappearsEndsTheCallsWithoutSpinning) {
    Fault([](padsim::Faults& f) { f.disappearAfter = 3; });
    const Result cut = Call("PinPad_GetCustInfo", {Out(256)});
    EXPECT_NE(cut.rc, 0);
    EXPECT_TRUE(pad.Disappeared());
    const Result after = Call("PinPad_SetControlCode", {Text("032"), Int(3)});
    EXPECT_NE(after.rc, 0);
    const Result byte = Call("PinPad_ReadOneByte", {Out(1)});
    EXPECT_EQ(byte.rc, -1);
    EXPECT_LT(cut.ms + after.ms + byte.ms, 11000);
}

// The DLL tells why a call failed, through its own export bound by the program's loader: each of
// the simulated pad's faults, the host's cancel and a refused argument give the reason of the
// Linux build, read right after the call on the thread that made it.
TEST_F(WinePad, LastFailureNamesTheFaultBehindEachResult) {
    const std::vector<std::string> pinValueWithinASecond = {Text(""), Int(0), Int(1), Out(256)};
    const std::vector<std::string> controlCode = {Text("032"), Int(3)};
    struct Row {
        const char* name;
        void (*fault)(padsim::Faults&);
        std::string call;
        std::vector<std::string> args;
        int rc;
        int reason;
        bool cancelled = false;  // the cancel is raised for the call
    };
    auto none = [](padsim::Faults&) {};
    // The pad that disappears comes last: it is gone for good.
    const Row rows[] = {
        {"success", none, "PinPad_SetControlCode", controlCode, PINPAD_OK, LUMENORD_FAILURE_NONE},
        {"silent pad", [](padsim::Faults& f) { f.silent = true; }, "PinPad_GetPinValue",
         pinValueWithinASecond, PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_NO_REPLY},
        {"reply cut after six bytes", [](padsim::Faults& f) { f.cutReplyAfter = 6; },
         "PinPad_GetPinValue", pinValueWithinASecond, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_CUT_REPLY},
        {"wrong check", [](padsim::Faults& f) { f.wrongCheck = true; }, "PinPad_SetControlCode",
         controlCode, PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_BAD_CHECK},
        {"line noise and no frame",
         [](padsim::Faults& f) {
             f.cutReplyAfter = 0;
             f.noise = "NOISE";
         },
         "PinPad_GetPinValue", pinValueWithinASecond, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_MALFORMED_REPLY},
        {"reply beyond the output",
         [](padsim::Faults& f) { f.oversizeData = 300; },
         "PinPad_GetCustInfo",
         {Out(256)},
         PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_REPLY_TOO_LONG},
        {"cancelled", [](padsim::Faults& f) { f.silent = true; }, "PinPad_SetControlCode",
         controlCode, PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_CANCELLED, true},
        {"argument refused",
         none,
         "PinPad_GetCustInfo",
         {"z"},
         PINPAD_ERR_ARGUMENT,
         LUMENORD_FAILURE_ARGUMENT},
        {"pad gone after three bytes of its reply", [](padsim::Faults& f) { f.disappearAfter = 3; },
         "PinPad_SetControlCode", controlCode, PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_LINE_HUNG_UP},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fault([&row](padsim::Faults& f) {
            f = padsim::Faults{};
            row.fault(f);
        });
        if (row.cancelled) {
            ASSERT_EQ(Request("cancel 1"), "cancel-raised");
        }
        EXPECT_EQ(Rc(row.call, row.args), row.rc);
        EXPECT_EQ(Request("failure"), "failure=" + std::to_string(row.reason));
        if (row.cancelled) {
            ASSERT_EQ(Request("cancel 0"), "cancel-lowered");
        }
    }
}

// The frames that the bridge's monitor recorded since the last look, as "frames" reports them.
struct MonitoredFrames {
    bool rightContext = false;
    std::vector<int> directions;
    std::vector<std::string> bytes;
    std::vector<int> statuses;
    std::vector<int> roundTrips;
};

MonitoredFrames ParseFrames(const std::string& answer) {
    MonitoredFrames frames;
    std::istringstream in(answer);
    std::string count, context, frame;
    in >> count >> context;
    EXPECT_EQ(count.rfind("frames=", 0), 0u) << answer;
    frames.rightContext = context == "context=ok";
    static const std::regex kFrame("([SR]):([0-9A-F]*):(-?[0-9]+):([0-9]+)");
    while (in >> frame) {
        std::smatch m;
        if (!std::regex_match(frame, m, kFrame)) {
            ADD_FAILURE() << "frame " << frame;
            continue;
        }
        frames.directions.push_back(m[1] == "S" ? LUMENORD_FRAME_SENT : LUMENORD_FRAME_RECEIVED);
        frames.bytes.push_back(padsim::test::Unhex(m[2].str()));
        frames.statuses.push_back(std::stoi(m[3]));
        frames.roundTrips.push_back(std::stoi(m[4]));
    }
    EXPECT_EQ(count, "frames=" + std::to_string(frames.bytes.size())) << answer;
    return frames;
}

TEST_F(WinePad, FrameMonitorInstalledThroughTheDllSeesEachRequestAndReply) {
    ASSERT_EQ(Request("monitor on"), "monitor-on");
    const std::string area = pad.With([](padsim::PadSimulator& e) { return e.customerArea(); });
    ASSERT_EQ(Rc("PinPad_GetCustInfo", {Out(256)}), PINPAD_OK);
    ASSERT_EQ(Rc("PinPad_SetControlCode", {Text("032"), Int(3)}), PINPAD_OK);
    const MonitoredFrames seen = ParseFrames(Request("frames"));
    EXPECT_TRUE(seen.rightContext);
    const std::vector<std::string> expected = {
        RequestFrame('3', ""), lumenord::test::ReplyFrame('c', area), RequestFrame('5', "032"),
        lumenord::test::ReplyFrame('e', "")};
    ASSERT_EQ(seen.bytes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const bool sent = i % 2 == 0;
        EXPECT_EQ(seen.directions[i], sent ? LUMENORD_FRAME_SENT : LUMENORD_FRAME_RECEIVED);
        EXPECT_EQ(lumenord::test::Hex(seen.bytes[i]), lumenord::test::Hex(expected[i]));
        EXPECT_EQ(seen.statuses[i], sent ? -1 : static_cast<unsigned char>(expected[i][4]));
        if (sent) {
            EXPECT_EQ(seen.roundTrips[i], 0);
        } else {
            EXPECT_GT(seen.roundTrips[i], 0);
        }
    }

    // Removed through the DLL, it sees nothing more.
    ASSERT_EQ(Request("monitor off"), "monitor-off");
    ASSERT_EQ(Rc("PinPad_GetCustInfo", {Out(256)}), PINPAD_OK);
    EXPECT_EQ(Request("frames"), "frames=0 context=ok");
}

// A silent pad keeps a command waiting for its five-second time-out; a cancel raised before the
// call, or from another thread while it waits, ends it long before that, and once lowered the
// next command goes through.
TEST_F(WinePad, CancelWaitEndsAWaitEarlyAndLoweringItLetsTheNextCommandThrough) {
    struct Case {
        const char* name;
        std::string raise;  // the bridge request that raises the cancel
        long atLeastMs, belowMs;
    };
    const Case cases[] = {
        {"raised before the call", "cancel 1", 0, 1000},
        {"raised from another thread 500 ms into the wait", "cancel-after 500", 450, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fault([](padsim::Faults& f) { f.silent = true; });
        ASSERT_NE(Request(c.raise).find("cancel-"), std::string::npos);
        const Result cancelled = Call("PinPad_GetCustInfo", {Out(256)});
        EXPECT_EQ(cancelled.rc, PINPAD_ERR_NO_REPLY);
        EXPECT_GE(cancelled.ms, c.atLeastMs);
        EXPECT_LT(cancelled.ms, c.belowMs);
        // Still raised: the next wait ends at once too.
        const Result still = Call("PinPad_SetControlCode", {Text("032"), Int(3)});
        EXPECT_EQ(still.rc, PINPAD_ERR_NO_REPLY);
        EXPECT_LT(still.ms, 1000);

        ASSERT_EQ(Request("cancel 0"), "cancel-lowered");
        Fault([](padsim::Faults& f) { f.silent = false; });
        EXPECT_EQ(Rc("PinPad_SetControlCode", {Text("032"), Int(3)}), PINPAD_OK);
        const Result info = Call("PinPad_GetCustInfo", {Out(256)});
        EXPECT_EQ(info.rc, PINPAD_OK);
        EXPECT_NE(info.out.find("PADSIM01"), std::string::npos);
    }
}

// The frame trace and the time-out log are written only to a regular file with no other name at
// their own path: never through a symbolic link (which wine opens as the file it leads to), never
// to a file with a second hard link, and a link to nothing makes no file at its end.
TEST_F(WineDriver, LogsAreNeverWrittenThroughALinkOrASecondName) {
    padsim::PtyPad pad{padsim::PadOptions{}};
    // COM2 is mapped to a path too long to be used, which the time-out log notes at once.
    StartBridge(pad.DevicePath(), "[SYSTEM]\r\nDEBUG=1\r\nTIMEOUTLOGDIR=logs\r\n[PORTS]\r\nCOM2=" +
                                      std::string(600, 'x') + "\r\n");
    LoadDriver();
    fs::create_directories(dir.Path() + "/logs");
    fs::create_directories(dir.Path() + "/elsewhere");
    const std::string trace = dir.Path() + "/logbuf.txt";
    const std::string timeoutLog = dir.Path() + "/logs/" + TimeoutLogName();
    struct Log {
        std::string path, elsewhere, entry;
    };
    const Log logs[] = {
        {trace, dir.Path() + "/elsewhere/trace", "Send To POS"},
        {timeoutLog, dir.Path() + "/elsewhere/timeout", "Data=[EnablePort:DevicePathTooLong]"}};
    enum class Kind { kRegular, kSymbolicLink, kLinkToNothing, kHardLink };
    struct Case {
        const char* name;
        Kind kind;
    };
    const Case cases[] = {
        {"a regular file is written", Kind::kRegular},
        {"a symbolic link to a file", Kind::kSymbolicLink},
        {"a symbolic link to nothing", Kind::kLinkToNothing},
        {"a file with a second hard link", Kind::kHardLink},
    };
    const std::string kept = "not a log\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Log& log : logs) {
            fs::remove(log.path);
            fs::remove(log.elsewhere);
            if (c.kind == Kind::kRegular) std::ofstream(log.path) << kept;
            if (c.kind == Kind::kSymbolicLink || c.kind == Kind::kHardLink)
                std::ofstream(log.elsewhere) << kept;
            if (c.kind == Kind::kSymbolicLink || c.kind == Kind::kLinkToNothing)
                fs::create_symlink(log.elsewhere, log.path);
            if (c.kind == Kind::kHardLink) fs::create_hard_link(log.elsewhere, log.path);
        }
        ASSERT_EQ(EnableCom1(), PINPAD_OK);
        EXPECT_EQ(Rc("PinPad_SetControlCode", {Text("032"), Int(3)}), PINPAD_OK);
        EXPECT_EQ(Rc("PinPad_DisablePort"), PINPAD_OK);
        EXPECT_EQ(EnablePort("com2"), PINPAD_ERR_PORT);
        EXPECT_EQ(Rc("PinPad_DisablePort"), PINPAD_OK);
        for (const Log& log : logs) {
            SCOPED_TRACE(log.path);
            switch (c.kind) {
                case Kind::kRegular:
                    EXPECT_NE(ReadFileText(log.path).find(log.entry), std::string::npos)
                        << ReadFileText(log.path);
                    break;
                case Kind::kSymbolicLink:
                    EXPECT_TRUE(fs::is_symlink(log.path));
                    EXPECT_EQ(ReadFileText(log.elsewhere), kept);
                    break;
                case Kind::kLinkToNothing:
                    EXPECT_TRUE(fs::is_symlink(log.path));
                    EXPECT_FALSE(fs::exists(fs::symlink_status(log.elsewhere)));
                    break;
                case Kind::kHardLink:
                    EXPECT_EQ(fs::hard_link_count(log.path), 2u);
                    EXPECT_EQ(ReadFileText(log.elsewhere), kept);
                    break;
            }
        }
    }
}

// A [PORTS] mapping may name the device with up to 511 characters: the longer ones of them, which
// the system's plain names cannot hold, open all the same, and one character more is refused
// with a note in the time-out log.
TEST_F(WineDriver, LongPortMappingsOpenUpTo511Characters) {
    padsim::PtyPad pad{padsim::PadOptions{}};
    StartBridge(pad.DevicePath());
    LoadDriver();
    fs::create_directories(dir.Path() + "/logs");
    struct Case {
        std::size_t length;
        int rc;
    };
    const Case cases[] = {{259, PINPAD_OK},
                          {260, PINPAD_OK},
                          {400, PINPAD_OK},
                          {511, PINPAD_OK},
                          {512, PINPAD_ERR_PORT}};
    char folder = 'a';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        // "<letter>\<name>\...\pad", relative to the working directory, exactly c.length long,
        // its last name a link to the pad's pty.
        std::string mapping(1, folder);
        std::string unixPath = dir.Path() + "/" + mapping;
        const std::size_t tail = std::string("\\pad").size();
        while (mapping.size() + tail < c.length) {
            const std::size_t name =
                std::min<std::size_t>(200, c.length - tail - mapping.size() - 1);
            ASSERT_GT(name, 0u);
            mapping += "\\" + std::string(name, folder);
            unixPath += "/" + std::string(name, folder);
        }
        mapping += "\\pad";
        ASSERT_EQ(mapping.size(), c.length);
        fs::create_directories(unixPath);
        fs::create_symlink(pad.DevicePath(), unixPath + "/pad");
        ++folder;
        std::ofstream(dir.Path() + "/sysconfig.ini")
            << "[SYSTEM]\r\nTIMEOUTLOGDIR=logs\r\n[PORTS]\r\nCOM3=" << mapping << "\r\n";
        fs::remove(dir.Path() + "/logs/" + TimeoutLogName());

        EXPECT_EQ(EnablePort("com3"), c.rc);
        if (c.rc == PINPAD_OK) {
            const Result info = Call("PinPad_GetCustInfo", {Out(256)});
            EXPECT_EQ(info.rc, PINPAD_OK);
            EXPECT_NE(info.out.find("PADSIM01"), std::string::npos);
        } else {
            EXPECT_NE(ReadFileText(dir.Path() + "/logs/" + TimeoutLogName())
                          .find("Data=[EnablePort:DevicePathTooLong]"),
                      std::string::npos);
        }
        EXPECT_EQ(Rc("PinPad_DisablePort"), PINPAD_OK);
    }
}

}  // namespace

// The exit code that ctest takes for a skip (SKIP_RETURN_CODE).
constexpr int kSkipped = 77;

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: wine_driver_tests [gtest options] x86|x64\n");
        return 2;
    }
    const wine::Architecture architecture = wine::ArchitectureNamed(argv[1]);
    if (const std::string why = wine::WhyCannotRun(architecture); !why.empty()) {
        std::printf("SKIPPED: the %s DLL and key store writer are not run under wine: %s\n",
                    architecture.bitness.c_str(), why.c_str());
        return kSkipped;
    }
    wine::UseArchitecture(architecture);
    return RUN_ALL_TESTS();
}
