// Windows side of the driver's operating-system services.
#include <windows.h>

#include "os_services.h"

namespace lumenord::os {
namespace {

// Per calling thread: how deep it is in exported calls, and a quit request taken meanwhile.
thread_local int t_callDepth = 0;
thread_local bool t_quitTaken = false;
thread_local WPARAM t_quitCode = 0;

ClockReading FromSystemTime(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace

std::string PortDevice(int portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

const char* DefaultTimeoutLogDirectory() { return "C:\\halmstrom\\"; }

ClockReading LocalClock() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return FromSystemTime(t);
}

ClockReading UtcClock() {
    SYSTEMTIME t{};
    GetSystemTime(&t);
    return FromSystemTime(t);
}

void DispatchThreadMessage() {
    MSG message{};
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return;
    if (message.message == WM_QUIT) {
        // Dispatching would lose it and the host's loop would never end.
        t_quitTaken = true;
        t_quitCode = message.wParam;
        return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

CallScope::CallScope() { ++t_callDepth; }

CallScope::~CallScope() {
    if (--t_callDepth > 0 || !t_quitTaken) return;
    t_quitTaken = false;
    PostQuitMessage(static_cast<int>(t_quitCode));
}

}  // namespace lumenord::os
