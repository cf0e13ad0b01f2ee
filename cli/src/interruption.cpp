#include "interruption.h"

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>

#include "pinpad.h"

namespace cli {
namespace {

// The steps that open an input mode on the pad or wait for one to end.
const char* const kInputOperations[] = {"pin start",  "pin start-short", "pin read", "pin renew",
                                        "pin verify", "key clear",       "keypad"};

// Raises the driver's cancel once `limit` has passed, unless Stop() came first.
class CancelAfter {
public:
    explicit CancelAfter(std::chrono::milliseconds limit)
        : m_thread([this, limit] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_stopped.wait_for(lock, limit, [this] { return m_stop; }))
                  Lumenord_CancelWait(1);
          }) {}
    ~CancelAfter() { Stop(); }
    CancelAfter(const CancelAfter&) = delete;
    CancelAfter& operator=(const CancelAfter&) = delete;

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_stopped.notify_one();
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
    std::thread m_thread;  // last: it starts once the members it uses are there
};

}  // namespace

bool MayLeaveInputOpen(const std::string& operation) {
    return std::find(std::begin(kInputOperations), std::end(kInputOperations), operation) !=
           std::end(kInputOperations);
}

int CallAfterInterrupt(std::chrono::milliseconds limit, const std::function<int()>& call) {
    Lumenord_CancelWait(0);
    int result = PINPAD_ERR_NO_REPLY;
    {
        CancelAfter deadline(limit);
        result = call();
    }
    // Nothing after the interrupt is to wait for the pad again.
    Lumenord_CancelWait(1);
    return result;
}

int CloseInputAfterInterrupt(std::chrono::milliseconds limit) {
    return CallAfterInterrupt(limit, [] { return PinPad_SetControlCode("032", 3); });
}

void SettleInterruptedStep(const Step& step, StepOutcome& outcome,
                           std::chrono::milliseconds closeLimit) {
    if (outcome.ok) return;
    outcome.aborted = true;
    outcome.message = "interrupted";
    if (outcome.reply.contains("end")) outcome.reply["end"] = "interrupted";
    if (!step.needsPad || !MayLeaveInputOpen(step.operation)) return;
    outcome.reply["input_closed"] = CloseInputAfterInterrupt(closeLimit) == PINPAD_OK;
}

}  // namespace cli
