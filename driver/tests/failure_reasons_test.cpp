// Why a call failed, as Lumenord_LastFailure tells it: every fault the simulated pad can inject on
// a real pty, the host's cancel, a line that hangs up, refused arguments, a closed port, a missing
// device and a write that the system refuses; each row is fault -> result code -> reason, seen
// by the caller after the call and by the frame monitor while the reply is reported.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "export_fixture.h"
#include "padsim/pty_pad.h"
#include "pinpad.h"
#include "pty_peer.h"
#include "serial_port_posix_calls.h"

namespace lumenord {
namespace {

// Every write to the line fails as a device error that is no hang-up, while it lives.
class RefusedWrites {
public:
    RefusedWrites() : m_saved(posix::Calls()) { posix::Calls().write = &Refuse; }
    ~RefusedWrites() { posix::Calls() = m_saved; }
    RefusedWrites(const RefusedWrites&) = delete;
    RefusedWrites& operator=(const RefusedWrites&) = delete;

private:
    static ssize_t Refuse(int, const void*, size_t) {
        errno = EINVAL;
        return -1;
    }
    posix::SystemCalls m_saved;
};

// What the frame monitor saw of the replies: the reason named while each reply that is not
// sound was reported. With `cancelOnSend` it raises the cancel as soon as a request is out, so
// that the wait for the reply is what the cancel ends.
struct MonitorSeen {
    bool cancelOnSend = false;
    std::vector<int> unsoundReasons;
};

void PINPAD_CALL Watch(void* context, const Lumenord_Frame* frame) {
    auto* seen = static_cast<MonitorSeen*>(context);
    if (frame->direction == LUMENORD_FRAME_SENT) {
        if (seen->cancelOnSend) Lumenord_CancelWait(1);
    } else if (frame->status < 0) {
        seen->unsoundReasons.push_back(Lumenord_LastFailure());
    }
}

// Where COM1 leads for a row.
enum class Line {
    kPad,            // the simulated pad
    kUnplugged,      // the simulated pad, gone before the call
    kMissingDevice,  // a path with nothing behind it: opening fails
};

int ControlCode() { return PinPad_SetControlCode("032", 3); }
int CustomerInfo() {
    test::Output out(PINPAD_CUST_INFO_SIZE);
    return PinPad_GetCustInfo(out.data());
}
// A PIN value read of one second, so that the rows that wait out a time-out cost little.
int PinValueWithinASecond() {
    test::Output out(PINPAD_PIN_VALUE_SIZE);
    return PinPad_GetPinValue("", 0, 1, out.data());
}
int OneByte() {
    unsigned char key = 0;
    return PinPad_ReadOneByte(&key);
}

struct Row {
    const char* name;
    void (*fault)(padsim::Faults&);
    Line line;
    std::function<int(MonitorSeen&)> call;
    int result;
    int reason;
    bool unsoundReply;  // the monitor is told of a reply that is not sound
};

class FailureReasons : public ::testing::Test {
protected:
    test::TempWorkDir dir;
};

TEST_F(FailureReasons, EachFaultIsNamedAfterTheCallAndWhileItsReplyIsReported) {
    auto none = [](padsim::Faults&) {};
    const Row rows[] = {
        {"success", none, Line::kPad, [](MonitorSeen&) { return ControlCode(); }, PINPAD_OK,
         LUMENORD_FAILURE_NONE, false},
        {"the pad's own status", [](padsim::Faults& f) { f.forcedStatus['5'] = 0xE5; }, Line::kPad,
         [](MonitorSeen&) { return ControlCode(); }, 0xE5, LUMENORD_FAILURE_NONE, false},
        {"silent pad", [](padsim::Faults& f) { f.silent = true; }, Line::kPad,
         [](MonitorSeen&) { return PinValueWithinASecond(); }, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_NO_REPLY, true},
        {"reply cut after six bytes", [](padsim::Faults& f) { f.cutReplyAfter = 6; }, Line::kPad,
         [](MonitorSeen&) { return PinValueWithinASecond(); }, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_CUT_REPLY, true},
        {"pad gone after three bytes of its reply", [](padsim::Faults& f) { f.disappearAfter = 3; },
         Line::kPad, [](MonitorSeen&) { return ControlCode(); }, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_LINE_HUNG_UP, true},
        {"pad unplugged before the command", none, Line::kUnplugged,
         [](MonitorSeen&) { return ControlCode(); }, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_LINE_HUNG_UP, true},
        {"wrong check", [](padsim::Faults& f) { f.wrongCheck = true; }, Line::kPad,
         [](MonitorSeen&) { return ControlCode(); }, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_BAD_CHECK, true},
        {"line noise and no frame",
         [](padsim::Faults& f) {
             f.cutReplyAfter = 0;
             f.noise = "NOISE";
         },
         Line::kPad, [](MonitorSeen&) { return PinValueWithinASecond(); }, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_MALFORMED_REPLY, true},
        {"card reply without its status character",
         [](padsim::Faults& f) { f.forcedData['A'] = "1"; }, Line::kPad,
         [](MonitorSeen&) {
             test::Output out(PINPAD_CARD_REPLY_SIZE);
             return PinPad_IC_Access("100A40000023F00", out.data());
         },
         PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_MALFORMED_REPLY, false},
        {"reply beyond the receive buffer", [](padsim::Faults& f) { f.oversizeData = 5000; },
         Line::kPad, [](MonitorSeen&) { return CustomerInfo(); }, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_REPLY_TOO_LONG, true},
        {"reply beyond the output", [](padsim::Faults& f) { f.oversizeData = 300; }, Line::kPad,
         [](MonitorSeen&) { return CustomerInfo(); }, PINPAD_ERR_NO_REPLY,
         LUMENORD_FAILURE_REPLY_TOO_LONG, false},
        {"cancelled before the command", [](padsim::Faults& f) { f.silent = true; }, Line::kPad,
         [](MonitorSeen&) {
             Lumenord_CancelWait(1);
             const int result = ControlCode();
             Lumenord_CancelWait(0);
             return result;
         },
         PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_CANCELLED, false},
        {"cancelled while the reply is awaited", [](padsim::Faults& f) { f.silent = true; },
         Line::kPad,
         [](MonitorSeen& seen) {
             seen.cancelOnSend = true;
             const int result = ControlCode();
             Lumenord_CancelWait(0);
             return result;
         },
         PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_CANCELLED, true},
        {"cancelled while a key is awaited", none, Line::kPad,
         [](MonitorSeen&) {
             Lumenord_CancelWait(1);
             const int result = OneByte();
             Lumenord_CancelWait(0);
             return result;
         },
         PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_CANCELLED, false},
        {"no key pressed", none, Line::kPad, [](MonitorSeen&) { return OneByte(); },
         PINPAD_ERR_PORT, LUMENORD_FAILURE_NO_REPLY, false},
        {"key awaited on an unplugged pad", none, Line::kUnplugged,
         [](MonitorSeen&) { return OneByte(); }, PINPAD_ERR_PORT, LUMENORD_FAILURE_LINE_HUNG_UP,
         false},
        {"argument refused", none, Line::kPad,
         [](MonitorSeen&) { return PinPad_SetControlCode(nullptr, 3); }, PINPAD_ERR_ARGUMENT,
         LUMENORD_FAILURE_ARGUMENT, false},
        {"port disabled", none, Line::kPad,
         [](MonitorSeen&) {
             PinPad_DisablePort();
             return ControlCode();
         },
         PINPAD_ERR_PORT, LUMENORD_FAILURE_PORT_NOT_OPEN, false},
        {"port opened on a missing device", none, Line::kMissingDevice,
         [](MonitorSeen&) { return PinPad_EnablePort("com1", 9600, "N", "8", "1"); },
         PINPAD_ERR_PORT, LUMENORD_FAILURE_OPEN_FAILED, false},
        {"command after the port failed to open", none, Line::kMissingDevice,
         [](MonitorSeen&) { return ControlCode(); }, PINPAD_ERR_NOT_WRITTEN,
         LUMENORD_FAILURE_PORT_NOT_OPEN, false},
        {"request the system refuses to write", none, Line::kPad,
         [](MonitorSeen&) {
             RefusedWrites refused;
             return PinValueWithinASecond();
         },
         PINPAD_ERR_NO_REPLY, LUMENORD_FAILURE_WRITE_FAILED, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        padsim::PadOptions options;
        row.fault(options.faults);
        padsim::PtyPad pad(options);
        const std::string device =
            row.line == Line::kMissingDevice ? dir.Path() + "/no-such-device" : pad.DevicePath();
        test::WriteSysconfig(1, device, "TIMEOUTLOGDIR=" + dir.Path() + "\n");
        const int opened = PinPad_EnablePort("com1", 9600, "N", "8", "1");
        ASSERT_EQ(opened, row.line == Line::kMissingDevice ? PINPAD_ERR_PORT : PINPAD_OK);
        if (row.line == Line::kUnplugged) pad.Disappear();
        // The last call's reason is replaced by the next call's, also by none.
        ASSERT_EQ(PinPad_GetCustInfo(nullptr), PINPAD_ERR_ARGUMENT);
        ASSERT_EQ(Lumenord_LastFailure(), LUMENORD_FAILURE_ARGUMENT);

        MonitorSeen seen;
        Lumenord_SetFrameMonitor(&Watch, &seen);
        const int result = row.call(seen);
        const int reason = Lumenord_LastFailure();
        Lumenord_SetFrameMonitor(nullptr, nullptr);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(reason, row.reason);
        // The functions beside the PinPad_ calls leave it as it is.
        EXPECT_EQ(Lumenord_LastFailure(), row.reason);
        if (row.unsoundReply) {
            EXPECT_EQ(seen.unsoundReasons, std::vector<int>{row.reason});
        } else {
            EXPECT_TRUE(seen.unsoundReasons.empty());
        }
        // Each thread has its own: one that made no call has none.
        int elsewhere = -1;
        std::thread([&elsewhere] { elsewhere = Lumenord_LastFailure(); }).join();
        EXPECT_EQ(elsewhere, LUMENORD_FAILURE_NONE);
        PinPad_DisablePort();
    }
}

}  // namespace
}  // namespace lumenord
