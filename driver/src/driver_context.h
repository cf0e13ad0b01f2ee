// The library's single global state: the serial channel, the DES engine, the port flag, the
// host's message pump and frame monitor. Built when the library is loaded, destroyed (closing the
// port) at unload.
#pragma once

#include "des_engine.h"
#include "os_services.h"
#include "pinpad.h"
#include "serial_channel.h"

namespace lumenord {

class DriverContext {
public:
    DriverContext();
    virtual ~DriverContext();
    DriverContext(const DriverContext&) = delete;
    DriverContext& operator=(const DriverContext&) = delete;

    SerialChannel channel;
    DesEngine des;
};

DriverContext& Context();

// The library's own pump, cancel and failure notes, for its serial channel.
WaitHooks LibraryWaitHooks();

// Set by PinPad_EnablePort, cleared by PinPad_DisablePort; device commands refuse with
// PINPAD_ERR_PORT while 0.
extern int PortEnabled;

// Dispatches a waiting window message of the calling thread (Windows) and calls the host's
// message pump, if one is installed. Every wait calls it on each pass.
void PumpMessages();

// The host's frame monitor and its context; monitor null when none is installed.
struct FrameMonitorHook {
    Lumenord_FrameMonitor monitor = nullptr;
    void* context = nullptr;
};
// Costs one relaxed atomic load while no monitor is installed.
FrameMonitorHook InstalledFrameMonitor();

// Whether the host has cancelled the waits (Lumenord_CancelWait(1)) and not yet lowered the
// cancel. Every wait looks at it on each pass, and a command does not send while it holds.
bool WaitsCancelled();

// Notes why the calling thread's current export call fails (a LUMENORD_FAILURE_ code), where
// the cause is known. The first cause noted in a call stays: what follows from it (the reply
// missing after a write that failed) says less.
void NoteFailure(int reason);
// What Lumenord_LastFailure returns.
int LastFailure();
// Starts an export call with no cause noted.
void ClearFailure();
// Ends an export call: success clears the cause, and the results that name their cause by
// themselves get it (PINPAD_ERR_ARGUMENT; PINPAD_ERR_PORT when nothing more was noted).
// Returns `result`.
int SettleFailure(int result);

// Runs an export's body so that no exception crosses the C interface, and keeps the reason for
// its result for Lumenord_LastFailure.
template <typename Body>
int Guarded(Body body) noexcept {
    os::CallScope scope;
    ClearFailure();
    int result = PINPAD_ERR_ARGUMENT;
    try {
        result = body();
    } catch (...) {
    }
    return SettleFailure(result);
}

}  // namespace lumenord
