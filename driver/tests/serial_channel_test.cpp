// The serial channel over a real pseudo-terminal: line settings, port naming, exclusive use,
// end-byte and counted reads, bounds, and a pad that vanishes.
#include "serial_channel.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "driver_context.h"
#include "frame_exchange.h"
#include "pty_peer.h"
#include "serial_port.h"
#include "settings.h"

namespace lumenord {
namespace {

using test::PtyPeer;
using test::TempWorkDir;
using Clock = std::chrono::steady_clock;
using test::MsSince;

class SerialChannelTest : public ::testing::Test {
protected:
    void SetUp() override { test::WriteSysconfig(1, peer.SlavePath()); }

    // Opens COM1 (the pty) with the given line codes.
    bool OpenPort(int baud = 9600, std::uint8_t parity = 0, std::uint8_t data = 8,
                  std::uint8_t stop = 1) {
        channel.SetParameters(1, baud, parity, data, stop);
        return channel.Open() == 1;
    }

    TempWorkDir dir;
    PtyPeer peer;
    SerialChannel channel{LibraryWaitHooks()};
};

TEST(LineCodes, SelectTheCharacterFrame) {
    struct Case {
        std::uint8_t parity, data, stop;
        CharacterFrame frame;
    };
    const Case cases[] = {
        {0, 8, 1, {8, Parity::kNone, 1}},
        {1, 7, 2, {7, Parity::kOdd, 2}},
        {2, 0, 0, {8, Parity::kEven, 1}},
        {3, 9, 3, {8, Parity::kNone, 1}},
        // Codes are numbers: the characters 'N', '7' and '2' are none of 1, 2, 7 or 2.
        {'N', '7', '2', {8, Parity::kNone, 1}},
        {'Y', '8', '1', {8, Parity::kNone, 1}},
    };
    for (const Case& c : cases) {
        CharacterFrame frame = CharacterFrameFor({9600, c.parity, c.data, c.stop});
        EXPECT_EQ(frame.dataBits, c.frame.dataBits) << int(c.data);
        EXPECT_EQ(frame.parity, c.frame.parity) << int(c.parity);
        EXPECT_EQ(frame.stopBits, c.frame.stopBits) << int(c.stop);
    }
}

TEST(LineCodes, UnlistedRatesOpenAtNineThousandSixHundred) {
    const std::pair<int, int> rates[] = {
        {300, 300},     {600, 600},       {1200, 1200},   {2400, 2400},   {4800, 4800},
        {9600, 9600},   {14400, 9600},    {19200, 19200}, {38400, 38400}, {56000, 56000},
        {57600, 57600}, {115200, 115200}, {230400, 9600}, {0, 9600},      {-9600, 9600}};
    for (const auto& [requested, used] : rates) EXPECT_EQ(EffectiveBaudRate(requested), used);
}

// A pseudo-terminal keeps the speed, the stop bits and the odd-parity flag as set (it forces
// eight data bits and clears the parity enable, so those are checked on the mapping above).
TEST_F(SerialChannelTest, LineSettingsReachTheLine) {
    struct Case {
        int baud;
        std::uint8_t parity, data, stop;
        speed_t speed;
        tcflag_t oddFlag, stopFlag;
    };
    const Case cases[] = {
        {9600, 0, 8, 1, B9600, 0, 0},
        {14400, 0, 8, 1, B9600, 0, 0},
        {115200, 1, 7, 2, B115200, PARODD, CSTOPB},
        {300, 2, 8, 1, B300, 0, 0},
        {4800, 'N', '7', '2', B4800, 0, 0},
        {1200, 'Y', '8', '1', B1200, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        channel.Close();
        ASSERT_TRUE(OpenPort(c.baud, c.parity, c.data, c.stop));
        termios t = peer.Settings();
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & PARODD, c.oddFlag);
        EXPECT_EQ(t.c_cflag & CSTOPB, c.stopFlag);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
    }
}

TEST_F(SerialChannelTest, OpensFiftySixThousandAsAFreeRate) {
    ASSERT_TRUE(OpenPort(56000));
    termios t = peer.Settings();
    EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t(0010000));  // the kernel's "other rate" marker
}

TEST(PortNaming, NumbersAndDevices) {
    TempWorkDir dir;
    test::WriteSysconfig(10, "/dev/pts/mapped10");
    EXPECT_EQ(DevicePathForPort(10), "/dev/pts/mapped10");
    EXPECT_EQ(DevicePathForPort(1), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForPort(9), "/dev/ttyS8");
    EXPECT_EQ(DevicePathForPort(0), "");
    EXPECT_EQ(DevicePathForPort(-1), "");

    const std::pair<const char*, int> names[] = {
        {"com1", 1}, {"com10", 10}, {"COM12x", 12}, {"xyz7", 7},   {"com", 0},
        {"co", 0},   {"comA", 0},   {"com 3", 3},   {"com-2", -2}, {"com99999999999", 0},
    };
    for (const auto& [name, number] : names) EXPECT_EQ(PortNumberFromName(name), number) << name;
}

TEST_F(SerialChannelTest, OpenAndCloseStates) {
    channel.SetParameters(0, 9600, 0, 8, 1);
    EXPECT_EQ(channel.Open(), 0);  // port 0 opens nothing
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.Close(), 1);  // closing a closed channel
    EXPECT_EQ(channel.WriteFrame("\x02", 1), 0);

    ASSERT_TRUE(OpenPort());
    EXPECT_EQ(channel.Open(), 1);  // already open: unchanged
    EXPECT_EQ(channel.WriteFrame("abc", 3), 3);
    EXPECT_EQ(peer.Read(3, 2000), "abc");
    EXPECT_EQ(channel.WriteFrame("abc", 0), 0);
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_FALSE(channel.IsOpen());
}

TEST_F(SerialChannelTest, SecondOpenerIsRefusedAndFirstKeepsWorking) {
    ASSERT_TRUE(OpenPort());
    SerialChannel second{LibraryWaitHooks()};
    second.SetParameters(1, 9600, 0, 8, 1);
    EXPECT_EQ(second.Open(), 0);
    EXPECT_EQ(channel.WriteFrame("ok", 2), 2);
    EXPECT_EQ(peer.Read(2, 2000), "ok");
    channel.Close();
    EXPECT_EQ(second.Open(), 1);  // free again once the first has closed
}

TEST_F(SerialChannelTest, EndByteReadTakesEndAndTwoMoreAndSkipsNothing) {
    ASSERT_TRUE(OpenPort());
    peer.Write(
        "\x7f\x02"
        "002cX\x03"
        "4A");
    std::uint16_t result = channel.ReadByEndChar(0x03, 4, &ReplyFrameEnd);
    EXPECT_EQ(result, 10);
    EXPECT_EQ(std::string(channel.ReceiveBuffer(), channel.ReceivedCount()),
              "\x7f\x02"
              "002cX\x03"
              "4A");
    EXPECT_EQ(channel.ReceiveBuffer()[10], '\0');
}

TEST_F(SerialChannelTest, ReplyStoppingAfterItsEndWaitsForTheTimeOut) {
    test::WriteSysconfig(1, peer.SlavePath(), "TIMEOUTLOGDIR=" + dir.Path() + "/missing\n");
    ASSERT_TRUE(OpenPort());
    peer.Write(
        "\x02"
        "001c\x03"
        "6");  // one check character short
    auto start = Clock::now();
    EXPECT_EQ(channel.ReadByEndChar(0x03, 1, &ReplyFrameEnd), SerialChannel::kEndTimeout);
    EXPECT_GE(MsSince(start), 1000);
    // The bytes that came stay for the caller; the missing log directory is not created.
    EXPECT_EQ(std::string(channel.ReceiveBuffer(), channel.ReceivedCount()),
              "\x02"
              "001c\x03"
              "6");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/missing"));
}

TEST_F(SerialChannelTest, OverlongReplyStaysInsideTheReceiveBuffer) {
    ASSERT_TRUE(OpenPort());
    std::string flood(SerialChannel::kBufferSize + 900, 'A');
    std::thread writer([&] {
        peer.Write(flood +
                   "\x03"
                   "00");
    });
    std::uint16_t result = channel.ReadByEndChar(0x03, 8, &ReplyFrameEnd);
    writer.join();
    EXPECT_EQ(result, SerialChannel::kBufferSize);
    EXPECT_EQ(channel.ReceivedCount(), SerialChannel::kBufferSize);
    EXPECT_EQ(std::string(channel.ReceiveBuffer()), std::string(SerialChannel::kBufferSize, 'A'));
}

// The pad vanishes from inside the wait, once the first half of its reply has been taken.
SerialChannel* g_vanishChannel = nullptr;
PtyPeer* g_vanishPeer = nullptr;
void PINPAD_CALL VanishWhenHalfIsIn() {
    if (g_vanishPeer != nullptr && g_vanishChannel->ReceivedCount() > 0) {
        g_vanishPeer->CloseMaster();
        g_vanishPeer = nullptr;
    }
}

TEST_F(SerialChannelTest, PadVanishingMidReplyEndsTheReadAtOnce) {
    ASSERT_TRUE(OpenPort());
    g_vanishChannel = &channel;
    g_vanishPeer = &peer;
    Lumenord_SetMessagePump(&VanishWhenHalfIsIn);
    peer.Write(
        "\x02"
        "021cABCDE");
    auto start = Clock::now();
    std::uint16_t result = channel.ReadByEndChar(0x03, 4, &ReplyFrameEnd);
    Lumenord_SetMessagePump(nullptr);
    EXPECT_EQ(g_vanishPeer, nullptr) << "the half reply never arrived";
    EXPECT_EQ(result, SerialChannel::kEndTimeout);
    EXPECT_EQ(channel.ReceivedCount(), 0);  // what came is no reply
    EXPECT_LT(MsSince(start), 3000);
    // The line stays gone: a reply read ends at once, a counted read waits out its time-out.
    start = Clock::now();
    EXPECT_EQ(channel.ReadByEndChar(0x03, 4, &ReplyFrameEnd), SerialChannel::kEndTimeout);
    EXPECT_LT(MsSince(start), 900);
    EXPECT_EQ(channel.PollReadCount(1, 1), SerialChannel::kCountTimeout);
    EXPECT_GE(MsSince(start), 1000);
}

int g_pumpCalls = 0;
void PINPAD_CALL CountPump() { ++g_pumpCalls; }

TEST_F(SerialChannelTest, CountedReadPumpsMessagesWhileItWaits) {
    ASSERT_TRUE(OpenPort());
    g_pumpCalls = 0;
    Lumenord_SetMessagePump(&CountPump);
    auto start = Clock::now();
    std::uint16_t result = channel.PollReadCount(1, 1);
    Lumenord_SetMessagePump(nullptr);
    EXPECT_EQ(result, SerialChannel::kCountTimeout);
    EXPECT_GE(MsSince(start), 1000);
    // One call per pass of at most 70 ms; far fewer than a spinning loop would make.
    EXPECT_GE(g_pumpCalls, 10);
    EXPECT_LE(g_pumpCalls, 200);
}

TEST_F(SerialChannelTest, BytesBehindAReplyWaitForTheCountedReadUntilDiscarded) {
    ASSERT_TRUE(OpenPort());
    peer.Write("*");
    EXPECT_EQ(channel.PollReadCount(1, 1), 1);
    EXPECT_EQ(channel.ReceiveBuffer()[0], '*');
    // Two key presses right behind a reply, in one write.
    peer.Write(
        "\x02"
        "001e\x03"
        "57#6");
    EXPECT_EQ(channel.ReadByEndChar(0x03, 4, &ReplyFrameEnd), 8);
    EXPECT_EQ(channel.ReceivedCount(), 8);
    EXPECT_EQ(channel.ReceiveBuffer()[8], '\0');
    EXPECT_EQ(channel.PollReadCount(1, 1), 1);
    EXPECT_EQ(channel.ReceiveBuffer()[0], '#');
    // What is kept and what is queued belongs to no request that comes later.
    peer.Write("9");
    ASSERT_TRUE(peer.WaitQueuedForDriver(1, 2000));
    channel.DiscardPending();
    EXPECT_EQ(channel.PollReadCount(1, 1), SerialChannel::kCountTimeout);
}

}  // namespace
}  // namespace lumenord
