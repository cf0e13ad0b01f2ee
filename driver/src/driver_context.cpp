#include "driver_context.h"

#include <atomic>

#include "serial_port.h"

namespace lumenord {
namespace {

std::atomic<Lumenord_MessagePump> g_messagePump{nullptr};
std::atomic<Lumenord_FrameMonitor> g_frameMonitor{nullptr};
std::atomic<void*> g_frameMonitorContext{nullptr};

// Set from signal handlers: only a lock-free atomic may be touched there.
std::atomic<int> g_waitsCancelled{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Built when the library is loaded (reading the trace setting), destroyed at unload.
DriverContext g_context;

// Why the thread's last export call failed: a LUMENORD_FAILURE_ code.
thread_local int t_failure = LUMENORD_FAILURE_NONE;

// Whether a wait has anything to pump: the host's pump, or the thread's window messages.
bool PumpWanted() {
    return os::ThreadMessagesPumped() || g_messagePump.load(std::memory_order_relaxed) != nullptr;
}

}  // namespace

int PortEnabled = 0;

WaitHooks LibraryWaitHooks() { return {&PumpMessages, &PumpWanted, &WaitsCancelled, &NoteFailure}; }

DriverContext::DriverContext() : channel(LibraryWaitHooks()) {}

DriverContext::~DriverContext() { channel.Close(); }

DriverContext& Context() { return g_context; }

void PumpMessages() {
    os::DispatchThreadMessage();
    Lumenord_MessagePump pump = g_messagePump.load(std::memory_order_relaxed);
    if (pump != nullptr) pump();
}

FrameMonitorHook InstalledFrameMonitor() {
    FrameMonitorHook hook;
    // Pairs with the release store of the monitor: its context was stored before it.
    hook.monitor = g_frameMonitor.load(std::memory_order_acquire);
    if (hook.monitor == nullptr) return hook;
    hook.context = g_frameMonitorContext.load(std::memory_order_relaxed);
    return hook;
}

bool WaitsCancelled() { return g_waitsCancelled.load(std::memory_order_acquire) != 0; }

void NoteFailure(int reason) {
    if (t_failure == LUMENORD_FAILURE_NONE) t_failure = reason;
}

int LastFailure() { return t_failure; }

void ClearFailure() { t_failure = LUMENORD_FAILURE_NONE; }

int SettleFailure(int result) {
    if (result == PINPAD_OK) {
        t_failure = LUMENORD_FAILURE_NONE;
    } else if (result == PINPAD_ERR_ARGUMENT) {
        t_failure = LUMENORD_FAILURE_ARGUMENT;
    } else if (result == PINPAD_ERR_PORT) {
        // Opening that failed and a key wait that ended have noted their own causes; every
        // other PINPAD_ERR_PORT is a command on a port that is not open.
        NoteFailure(LUMENORD_FAILURE_PORT_NOT_OPEN);
    }
    return result;
}

namespace {

// The wake-up is raised before the flag and lowered after it, so that whatever the order of a
// raise and a lower, the wake-up is never left raised under a lowered flag (which would make
// every wait end at once, a spinning caller).
void RaiseCancel() {
    RaiseCancelWake();
    g_waitsCancelled.store(1, std::memory_order_release);
}

void LowerCancel() {
    g_waitsCancelled.store(0, std::memory_order_release);
    LowerCancelWake();
    // A raise that came while the wake-up was being drained keeps its wake-up.
    if (WaitsCancelled()) RaiseCancelWake();
}

}  // namespace

}  // namespace lumenord

extern "C" PINPAD_API void PINPAD_CALL Lumenord_SetMessagePump(Lumenord_MessagePump pump) {
    lumenord::g_messagePump.store(pump, std::memory_order_relaxed);
}

extern "C" PINPAD_API void PINPAD_CALL Lumenord_SetFrameMonitor(Lumenord_FrameMonitor monitor,
                                                                void* context) {
    lumenord::g_frameMonitorContext.store(context, std::memory_order_relaxed);
    lumenord::g_frameMonitor.store(monitor, std::memory_order_release);
}

extern "C" PINPAD_API int PINPAD_CALL Lumenord_LastFailure(void) { return lumenord::LastFailure(); }

extern "C" PINPAD_API void PINPAD_CALL Lumenord_CancelWait(int cancel) {
    if (cancel != 0) {
        lumenord::RaiseCancel();
    } else {
        lumenord::LowerCancel();
    }
}
