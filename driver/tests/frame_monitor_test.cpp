// The frame monitor hook over a real pty against a scripted peer: the monitor sees the exact
// bytes written and read, in order, with the reply's status and a round trip, and nothing once
// it is removed.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "export_fixture.h"
#include "pinpad.h"
#include "pty_peer.h"

namespace lumenord {
namespace {

using test::Hex;
using test::ReplyFrame;

struct SeenFrame {
    int direction = -1;
    std::string bytes;
    long long timeMicroseconds = 0;
    int status = 0;
    int roundTripMicroseconds = 0;
};

struct Recorder {
    std::vector<SeenFrame> frames;
    static void PINPAD_CALL Record(void* context, const Lumenord_Frame* frame) {
        SeenFrame seen;
        seen.direction = frame->direction;
        seen.bytes.assign(reinterpret_cast<const char*>(frame->bytes),
                          static_cast<std::size_t>(frame->length));
        seen.timeMicroseconds = frame->timeMicroseconds;
        seen.status = frame->status;
        seen.roundTripMicroseconds = frame->roundTripMicroseconds;
        static_cast<Recorder*>(context)->frames.push_back(seen);
    }
};

class FrameMonitor : public test::ExportTest {
protected:
    void TearDown() override {
        Lumenord_SetFrameMonitor(nullptr, nullptr);
        test::ExportTest::TearDown();
    }
};

long long NowMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

TEST_F(FrameMonitor, SeesTheBytesOnTheLine) {
    const std::string kData = "0123456789ABCDEF0123456789ABCDEF";
    const std::string kReply = ReplyFrame('j', kData);
    struct Case {
        const char* name;
        std::string peerWrites;    // what the pad answers
        std::string seenReceived;  // what the monitor sees as received
        int status;
        int result;
    };
    const Case cases[] = {
        {"sound reply", kReply, kReply, 'j', PINPAD_OK},
        {"refusal", ReplyFrame('5', ""), ReplyFrame('5', ""), '5', '5'},
        {"noise before the frame", std::string("\x7f\x13", 2) + kReply, kReply, 'j', PINPAD_OK},
        {"wrong check: all bytes, no status", kReply.substr(0, kReply.size() - 2) + "00",
         kReply.substr(0, kReply.size() - 2) + "00", -1, PINPAD_ERR_NO_REPLY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder;
        Lumenord_SetFrameMonitor(&Recorder::Record, &recorder);
        test::Output out(33);
        int result = 99;
        long long before = NowMicroseconds();
        auto requests = Exchange({c.peerWrites}, [&] { result = PinPad_GetChallenge(out.data()); });
        long long after = NowMicroseconds();
        Lumenord_SetFrameMonitor(nullptr, nullptr);
        EXPECT_EQ(result, c.result);
        ASSERT_EQ(requests.size(), 1u);
        ASSERT_EQ(recorder.frames.size(), 2u);
        const SeenFrame& sent = recorder.frames[0];
        const SeenFrame& received = recorder.frames[1];
        EXPECT_EQ(sent.direction, LUMENORD_FRAME_SENT);
        EXPECT_EQ(Hex(sent.bytes), Hex(requests[0]));
        EXPECT_EQ(sent.status, -1);
        EXPECT_EQ(sent.roundTripMicroseconds, 0);
        EXPECT_EQ(received.direction, LUMENORD_FRAME_RECEIVED);
        EXPECT_EQ(Hex(received.bytes), Hex(c.seenReceived));
        EXPECT_EQ(received.status, c.status);
        EXPECT_GT(received.roundTripMicroseconds, 0);
        EXPECT_LE(received.roundTripMicroseconds, after - before);
        EXPECT_LE(before, sent.timeMicroseconds);
        EXPECT_LE(sent.timeMicroseconds, received.timeMicroseconds);
        EXPECT_LE(received.timeMicroseconds, after);
    }
}

TEST_F(FrameMonitor, SeesNothingOnceRemovedAndASilentPadAsAnEmptyReply) {
    Recorder recorder;
    Lumenord_SetFrameMonitor(&Recorder::Record, &recorder);
    Lumenord_SetFrameMonitor(nullptr, nullptr);
    test::Output out(33);
    Exchange({ReplyFrame('j', "0123456789ABCDEF0123456789ABCDEF")},
             [&] { EXPECT_EQ(PinPad_GetChallenge(out.data()), PINPAD_OK); });
    EXPECT_TRUE(recorder.frames.empty());

    Lumenord_SetFrameMonitor(&Recorder::Record, &recorder);
    EXPECT_EQ(PinPad_EnablePin("30061", 5), PINPAD_ERR_NO_REPLY);
    ASSERT_EQ(recorder.frames.size(), 2u);
    EXPECT_EQ(recorder.frames[1].direction, LUMENORD_FRAME_RECEIVED);
    EXPECT_EQ(recorder.frames[1].bytes, "");
    EXPECT_EQ(recorder.frames[1].status, -1);
    // The round trip covers the whole wait for the silent pad.
    EXPECT_GE(recorder.frames[1].roundTripMicroseconds, 1000000);
}

}  // namespace
}  // namespace lumenord
