#include "driver_context.h"

#include <atomic>

namespace lumenord {
namespace {

std::atomic<Lumenord_MessagePump> g_messagePump{nullptr};

// Built when the library is loaded (reading the trace setting), destroyed at unload.
DriverContext g_context;

}  // namespace

int PortEnabled = 0;

DriverContext::DriverContext() = default;

DriverContext::~DriverContext() { channel.Close(); }

DriverContext& Context() { return g_context; }

void PumpMessages() {
    os::DispatchThreadMessage();
    Lumenord_MessagePump pump = g_messagePump.load(std::memory_order_relaxed);
    if (pump != nullptr) pump();
}

}  // namespace lumenord

extern "C" PINPAD_API void PINPAD_CALL Lumenord_SetMessagePump(Lumenord_MessagePump pump) {
    lumenord::g_messagePump.store(pump, std::memory_order_relaxed);
}
