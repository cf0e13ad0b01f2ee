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

// Runs an export's body so that no exception crosses the C interface.
template <typename Body>
int Guarded(Body body) noexcept {
    os::CallScope scope;
    try {
        return body();
    } catch (...) {
        return PINPAD_ERR_ARGUMENT;
    }
}

}  // namespace lumenord
