// Request frames byte for byte, read time-outs, and how replies are found, cut and judged, over a
// real pseudo-terminal.
#include "frame_exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "driver_context.h"
#include "pty_peer.h"
#include "serial_channel.h"

namespace lumenord {
namespace {

using test::Hex;
using test::PtyPeer;
using test::ReplyFrame;
using test::ReplyFrameWithLength;
using test::TempWorkDir;
using Clock = std::chrono::steady_clock;
using test::MsSince;

std::string Frame(char command, const std::string& payload) {
    std::vector<char> frame(payload.size() + 8);
    int length =
        BuildFrame(command, payload.data(), static_cast<int>(payload.size()), frame.data());
    return std::string(frame.data(), static_cast<std::size_t>(length));
}

TEST(BuildFrame, ExactBytes) {
    EXPECT_EQ(Hex(Frame('3', "")), "02 30 30 31 33 03 30 31");
    EXPECT_EQ(Hex(Frame('5', "033")), "02 30 30 34 35 30 33 33 03 33 32");
}

TEST(BuildFrame, LengthFieldAndCheckForLongPayloads) {
    for (std::size_t n : {1u, 63u, 998u, 999u, 1500u, 4088u}) {
        std::string payload(n, 'A');
        payload[n / 2] = 'z';
        std::string frame = Frame('9', payload);
        ASSERT_EQ(frame.size(), n + 8);
        // The peer's own frame builder is an independent check of length field and XOR.
        EXPECT_EQ(frame, ReplyFrame('9', payload)) << n;
    }
    EXPECT_EQ(Frame('9', std::string(998, 'A')).substr(1, 3), "999");
    EXPECT_EQ(Frame('9', std::string(999, 'A')).substr(1, 3), "000");
}

TEST(ReadTimeout, GrowsTwoSecondsPerSixtyFourBytes) {
    const std::pair<int, int> cases[] = {{0, 4},   {2, 4},   {3, 4},      {66, 4},     {67, 6},
                                         {130, 6}, {131, 8}, {3970, 126}, {3971, 128}, {4088, 130}};
    for (const auto& [length, seconds] : cases)
        EXPECT_EQ(ReadTimeoutFor(length), seconds) << length;
}

TEST(ReplyFrameEnd, LengthFieldPlacesTheEndElseTheFirstEtxDoes) {
    const std::string frame = ReplyFrame('d', "12345");  // 13 bytes
    struct Case {
        const char* name;
        std::string bytes;
        int end;
    };
    const Case cases[] = {
        {"nothing yet", "", 0},
        {"noise without STX",
         "\x7f\x03"
         "ab",
         0},
        {"head not complete", frame.substr(0, 4), 0},
        {"one check character short", frame.substr(0, 12), 0},
        {"whole frame", frame, 13},
        {"noise before it",
         "\x7f\x03"
         "ab" +
             frame,
         17},
        {"a key echo behind it", frame + "*", 13},
        {"ETX inside the data, whole frame",
         ReplyFrame('d',
                    "1\x03"
                    "345"),
         13},
        {"ETX inside the data, where the length field puts none",
         ReplyFrameWithLength("006", 'd',
                              "1\x03"
                              "345")
             .substr(0, 10),
         0},
        {"000: the first ETX after the status byte", ReplyFrameWithLength("000", 'd', "12") + "*",
         10},
        {"length field that is no number", ReplyFrameWithLength("0x6", 'd', "12") + "*", 10},
        {"length field short of the data", ReplyFrameWithLength("002", 'd', "12") + "*", 10},
        {"length field beyond the data", ReplyFrameWithLength("042", 'd', "12") + "*", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplyFrameEnd(c.bytes.data(), static_cast<int>(c.bytes.size())), c.end) << c.name;
    }
}

TEST(ParseStatus, HandsOnFailuresAndJudgesTheStatusByte) {
    auto reply = [](unsigned char status) {
        ExchangeResult result;
        result.status = status;
        result.dataLength = 2;
        return result;
    };
    EXPECT_EQ(ParseStatus(reply('d'), 'd'), 0);
    EXPECT_EQ(ParseStatus(reply('d'), 'c'), 'd');
    EXPECT_EQ(ParseStatus(reply(0xE5), 'd'), 229);
    EXPECT_EQ(ParseStatus(reply(0x01), 'd'), 1);
    EXPECT_EQ(ParseStatus(reply(0x00), 'd'), -4);  // would read as success
    for (int failure : {-3, -4, 2, 3}) {
        ExchangeResult failed = reply('d');
        failed.failure = failure;
        EXPECT_EQ(ParseStatus(failed, 'd'), failure);
    }
}

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteSysconfig(1, peer.SlavePath());
        channel.SetParameters(1, 9600, 0, 8, 1);
        ASSERT_EQ(channel.Open(), 1);
    }

    // One exchange of command '4' with payload "AB" against the given reply bytes.
    ExchangeResult Exchange(const std::string& replyBytes, char* reply, std::size_t size) {
        peer.Serve({replyBytes});
        ExchangeResult result = SendCommand(channel, '4', "AB", 2, reply, size);
        requests = peer.Requests();
        return result;
    }

    TempWorkDir dir;
    PtyPeer peer;
    SerialChannel channel{LibraryWaitHooks()};
    std::vector<std::string> requests;
};

TEST_F(ExchangeTest, SendsTheFrameAndCutsTheReply) {
    char reply[256];
    ExchangeResult result = Exchange(ReplyFrame('d', "12345"), reply, sizeof reply);
    EXPECT_EQ(result.failure, 0);
    EXPECT_EQ(result.status, 'd');
    EXPECT_EQ(result.dataLength, 5);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], Frame('4', "AB"));
    EXPECT_EQ(std::string(reply),
              "\x02"
              "006d12345");  // ETX and check left off
}

TEST_F(ExchangeTest, SkipsLineNoiseBeforeTheStx) {
    for (const std::string& noise :
         {std::string("\x7f\xff\x00\x13", 4), std::string("\x02\x03\x13"),
          std::string("\x02"
                      "001")}) {
        SCOPED_TRACE(Hex(noise));
        char reply[256];
        ExchangeResult result = Exchange(noise + ReplyFrame('d', "9"), reply, sizeof reply);
        EXPECT_EQ(result.failure, 0);
        EXPECT_EQ(result.dataLength, 1);
        EXPECT_EQ(std::string(reply),
                  "\x02"
                  "002d9");
    }
}

TEST_F(ExchangeTest, ErrorStatusIsAnUnsignedByte) {
    char reply[256];
    ExchangeResult result = Exchange(ReplyFrame(static_cast<char>(0xE5), ""), reply, sizeof reply);
    EXPECT_EQ(ParseStatus(result, 'd'), 229);
}

TEST_F(ExchangeTest, LongReplyIsCutToTheDestination) {
    std::vector<char> reply(16);  // exact size on the heap, so an overrun shows under ASan
    std::string data(300, 'Q');
    ExchangeResult result = Exchange(ReplyFrame('d', data), reply.data(), reply.size());
    EXPECT_EQ(result.failure, 0);
    EXPECT_EQ(result.dataLength, 300);
    EXPECT_EQ(std::string(reply.data()),
              "\x02"
              "301d" +
                  std::string(10, 'Q'));
}

TEST_F(ExchangeTest, RefusesBadArgumentsBeforeWriting) {
    char reply[256];
    std::vector<char> big(kMaxPayload + 1, 'A');
    EXPECT_EQ(SendCommand(channel, '4', "AB", 2, nullptr, 256).failure, -3);
    EXPECT_EQ(SendCommand(channel, '4', nullptr, 2, reply, sizeof reply).failure, -3);
    EXPECT_EQ(SendCommand(channel, '4', "\0B", 2, reply, sizeof reply).failure, -3);
    EXPECT_EQ(SendCommand(channel, '9', big.data(), kMaxPayload + 1, reply, sizeof reply).failure,
              -3);
    EXPECT_EQ(SendCommand(channel, '4', "AB", -1, reply, sizeof reply).failure, -3);
    EXPECT_EQ(peer.Read(1, 50), "");  // nothing reached the line
}

TEST_F(ExchangeTest, LargestPayloadGoesOutWhole) {
    std::string payload(kMaxPayload, 'D');
    peer.Serve({ReplyFrame('i', "")}, 20000);
    char reply[256];
    ExchangeResult result =
        SendCommand(channel, '9', payload.data(), kMaxPayload, reply, sizeof reply);
    EXPECT_EQ(result.failure, 0);
    EXPECT_EQ(result.status, 'i');
    std::vector<std::string> got = peer.Requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Frame('9', payload));
}

TEST_F(ExchangeTest, ClosedChannelWritesNothing) {
    channel.Close();
    char reply[256];
    EXPECT_EQ(SendCommand(channel, '4', "AB", 2, reply, sizeof reply).failure, 2);
}

// Replies that stop before their status byte are no reply, whatever their first bytes say.
TEST_F(ExchangeTest, ReplyCutShortAfterItsStxIsNoReply) {
    for (const std::string& cut : {std::string("\x02"
                                               "0"),
                                   std::string("\x02"
                                               "001\x03")}) {
        SCOPED_TRACE(Hex(cut));
        peer.Serve({cut});
        char reply[256];
        auto start = Clock::now();
        EXPECT_EQ(SendCommandTimed(channel, '4', "AB", 2, 1, reply, sizeof reply).failure, -4);
        EXPECT_GE(MsSince(start), 1000);
        EXPECT_EQ(reply[0], '\0');  // nothing copied
        peer.Requests();
    }
}

TEST_F(ExchangeTest, PadVanishingMidReplyGivesNoReplyWithinTheTimeOut) {
    peer.Serve(
        {"\x02"
         "021cABCDEFG"});
    char reply[256];
    std::thread vanish([&] {
        peer.Requests();  // the half reply has been written
        peer.CloseMaster();
    });
    auto start = Clock::now();
    int result = SendCommand(channel, '3', "", 0, reply, sizeof reply).failure;
    vanish.join();
    EXPECT_EQ(result, -4);
    EXPECT_LT(MsSince(start), 4000);
}

}  // namespace
}  // namespace lumenord
