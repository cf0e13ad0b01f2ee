// How the exports judge what comes back from the line and how long they wait for it, against a
// scripted peer on a real pty: check characters, length fields, cut replies, status bytes, one
// deadline per read, stale and trailing bytes, a line that hangs up, the PIN read's time-out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "export_fixture.h"
#include "pinpad.h"
#include "pty_peer.h"

namespace lumenord {
namespace {

using test::Output;
using test::ReplyFrame;
using test::ReplyFrameWithLength;
using Clock = std::chrono::steady_clock;
using test::MsSince;

// The frame with its two check characters replaced.
std::string WithCheck(std::string frame, const std::string& check) {
    frame.replace(frame.size() - 2, 2, check);
    return frame;
}

// The frame without its last `count` bytes.
std::string CutBy(std::string frame, std::size_t count) {
    frame.resize(frame.size() - count);
    return frame;
}

const std::string kMac = "0011223344556677";
constexpr char kUntouched[] = "(untouched)";

class Replies : public test::ExportTest {
protected:
    int Enable() { return PinPad_EnablePort("com1", 9600, "N", "8", "1"); }
    void WriteSettings(const std::string& device, const std::string& systemLines = "") {
        test::WriteSysconfig(1, device, systemLines + "TIMEOUTLOGDIR=" + dir.Path() + "\n");
    }
};

TEST_F(Replies, AreJudgedByTheirBytesAndTheirStatus) {
    auto control = [](char*) { return PinPad_SetControlCode("033", 3); };
    auto keyboard = [](char*) { return PinPad_SetKeyboardValue("1234", 4); };
    auto custInfo = [](char* o) { return PinPad_GetCustInfo(o); };
    auto mac = [](char* o) { return PinPad_MakeMac("312ABCDEFGH", 11, o); };
    // One second, so that replies which never complete cost little.
    auto pinValue = [](char* o) { return PinPad_GetPinValue("", 0, 1, o); };
    constexpr int kNone = LUMENORD_FAILURE_NONE;
    constexpr int kCut = LUMENORD_FAILURE_CUT_REPLY;
    constexpr int kCheck = LUMENORD_FAILURE_BAD_CHECK;
    constexpr int kMalformed = LUMENORD_FAILURE_MALFORMED_REPLY;
    struct Case {
        const char* name;
        std::string reply;
        std::function<int(char*)> call;
        int result;
        int reason;          // what Lumenord_LastFailure names
        std::string output;  // the bytes written from the front, or kUntouched
    };
    const Case cases[] = {
        {"check that does not match", WithCheck(ReplyFrame('e', ""), "58"), control, -4, kCheck,
         kUntouched},
        {"check that is no hex", WithCheck(ReplyFrame('e', ""), "Z7"), control, -4, kCheck,
         kUntouched},
        {"check in lower case", WithCheck(ReplyFrame('c', "INFO"), "5b"), custInfo, 0, kNone,
         "INFO"},
        {"PIN value without ETX and check", CutBy(ReplyFrame('g', "0612345F"), 3), pinValue, -4,
         kCut, kUntouched},
        {"PIN value one check character short", CutBy(ReplyFrame('g', "0612345F"), 1), pinValue, -4,
         kCut, kUntouched},
        {"length field with a letter", ReplyFrameWithLength("0x2", 'e', "5"), control, -4,
         kMalformed, kUntouched},
        {"length field with a sign", ReplyFrameWithLength("-01", 'e', ""), control, -4, kMalformed,
         kUntouched},
        // The bytes stop before the ETX that the length field announces.
        {"length field beyond the bytes", ReplyFrameWithLength("042", 'g', "77"), pinValue, -4,
         kCut, kUntouched},
        {"length field short of the bytes", ReplyFrameWithLength("002", 'e', "777"), control, -4,
         kMalformed, kUntouched},
        {"control code with one data byte", ReplyFrame('e', "5"), control, 0, kNone, kUntouched},
        {"customer information of one byte", ReplyFrame('c', "A"), custInfo, 0, kNone, "A"},
        {"customer information of two bytes", ReplyFrame('c', "AB"), custInfo, 0, kNone, "AB"},
        {"E5 with two data bytes", ReplyFrame('\xE5', "01"), keyboard, 229, kNone, kUntouched},
        {"000 with an error status", ReplyFrameWithLength("000", '\xE5', ""), control, 229, kNone,
         kUntouched},
        {"000 customer information", ReplyFrameWithLength("000", 'c', "INFO"), custInfo, 0, kNone,
         "INFO"},
        {"000 customer information, low battery", ReplyFrameWithLength("000", '\xE0', "INFO"),
         custInfo, 224, kNone, "INFO"},
        {"000 MAC", ReplyFrameWithLength("000", 'h', kMac + "++"), mac, 0, kNone, kMac + '\0'},
        {"status byte 0x00", ReplyFrame('\0', ""), control, -4, kMalformed, kUntouched},
        {"status byte 0x01 with data", ReplyFrame('\x01', kMac), mac, 1, kNone, kUntouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Output out(256);
        int result = -100;
        auto requests = Exchange({c.reply}, [&] { result = c.call(out.data()); });
        EXPECT_EQ(requests.size(), 1u);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(Lumenord_LastFailure(), c.reason);
        if (c.output == kUntouched)
            EXPECT_TRUE(out.Untouched()) << out.Text();
        else
            EXPECT_EQ(std::string(out.data(), c.output.size()), c.output);
    }
}

TEST_F(Replies, CheckVerificationCanBeSwitchedOff) {
    const std::string wrongCheck = WithCheck(ReplyFrame('e', ""), "00");
    int result = 0;
    Exchange({wrongCheck}, [&] { result = PinPad_SetControlCode("032", 3); });
    EXPECT_EQ(result, -4);

    WriteSettings(peer.SlavePath(), "VERIFYCHECK=0\n");
    ASSERT_EQ(Enable(), 0);  // read when the port opens
    Exchange({wrongCheck}, [&] { result = PinPad_SetControlCode("032", 3); });
    EXPECT_EQ(result, 0);
    // The frame itself is still judged.
    Exchange({ReplyFrameWithLength("002", 'e', "777")},
             [&] { result = PinPad_SetControlCode("032", 3); });
    EXPECT_EQ(result, -4);
}

TEST_F(Replies, ALateFirstByteDoesNotStretchTheRead) {
    Output out(256);
    int result = 0;
    long long waited = 0;
    Exchange(
        {"\x02"
         "009g"},
        [&] {
            auto start = Clock::now();
            result = PinPad_GetPinValue("", 0, 1, out.data());
            waited = MsSince(start);
        },
        900);
    EXPECT_EQ(result, -4);
    EXPECT_GE(waited, 1000);
    EXPECT_LT(waited, 1450);  // one second from the start, not from the first byte
}

TEST_F(Replies, StaleReplyIsDiscardedAndBytesBehindAReplyAreKept) {
    Output pin(256);
    Exchange({""}, [&] { EXPECT_EQ(PinPad_GetPinValue("", 0, 1, pin.data()), -4); });
    // The reply comes after the command gave up; the next command must not take it.
    const std::string stale = ReplyFrame('c', "OLD");
    peer.Write(stale);
    ASSERT_TRUE(peer.WaitQueuedForDriver(static_cast<int>(stale.size()), 2000));
    Output mac(17);
    int result = 0;
    Exchange({ReplyFrame('h', kMac)}, [&] { result = PinPad_MakeMac("312ABC", 6, mac.data()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(mac.Text(), kMac);

    // A key echo sent right behind the reply that opened the keypad.
    Exchange({ReplyFrame('e', "") + "7"}, [&] { result = PinPad_SetControlCode("033", 3); });
    EXPECT_EQ(result, 0);
    unsigned char key = 0;
    EXPECT_EQ(PinPad_ReadOneByte(&key), 0);
    EXPECT_EQ(key, '7');
}

TEST_F(Replies, PinValueWaitsUpTo255Seconds) {
    Output out(256);
    for (int seconds : {0, -1, 256, 100000}) {
        SCOPED_TRACE(seconds);
        EXPECT_EQ(PinPad_GetPinValue("", 0, seconds, out.data()), -3);
    }
    EXPECT_TRUE(out.Untouched());
    ExpectNothingSent();
    // 200 seconds, no longer a negative signed byte: a reply after 1.2 s is awaited.
    int result = 0;
    Exchange(
        {ReplyFrame('g', "0612345F")}, [&] { result = PinPad_GetPinValue("", 0, 200, out.data()); },
        1200);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out.Text(), "0612345F");
}

int g_pumpCalls = 0;
void PINPAD_CALL CountPump() { ++g_pumpCalls; }

std::string TimeoutLogText(const std::string& dir) {
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".log") all += test::ReadFileText(entry.path().string());
    return all;
}

TEST_F(Replies, HungUpLineFailsAtOnceKeepsTheKeyWaitAndReopens) {
    // COM1 through a link, so that a device can come back under the same path.
    const std::string link = dir.Path() + "/ttyPAD";
    ASSERT_EQ(symlink(peer.SlavePath().c_str(), link.c_str()), 0);
    WriteSettings(link);
    ASSERT_EQ(Enable(), 0);
    peer.CloseMaster();  // the adapter is pulled

    auto start = Clock::now();
    EXPECT_EQ(PinPad_SetControlCode("032", 3), -4);
    EXPECT_EQ(PinPad_SetControlCode("032", 3), -4);
    EXPECT_LT(MsSince(start), 1000);
    std::string log = TimeoutLogText(dir.Path());
    EXPECT_NE(log.find("LineGone"), std::string::npos) << log;
    EXPECT_EQ(log.find("TimeOut"), std::string::npos) << log;

    // A key-polling loop on the gone line waits its second per call instead of spinning.
    g_pumpCalls = 0;
    Lumenord_SetMessagePump(&CountPump);
    unsigned char key = 0x77;
    start = Clock::now();
    int result = PinPad_ReadOneByte(&key);
    long long waited = MsSince(start);
    Lumenord_SetMessagePump(nullptr);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(key, 0);
    EXPECT_GE(waited, 1000);
    EXPECT_LT(waited, 3000);
    EXPECT_GE(g_pumpCalls, 10);
    EXPECT_LE(g_pumpCalls, 200);

    // The device is back under the same path.
    test::PtyPeer again;
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(again.SlavePath().c_str(), link.c_str()), 0);
    ASSERT_EQ(PinPad_DisablePort(), 0);
    ASSERT_EQ(Enable(), 0);
    again.Serve({ReplyFrame('e', "")});
    EXPECT_EQ(PinPad_SetControlCode("032", 3), 0);
    EXPECT_EQ(again.Requests().size(), 1u);
}

}  // namespace
}  // namespace lumenord
