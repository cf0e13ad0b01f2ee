// A Windows console program for the checks under wine: it loads the driver DLL with the test
// program's own binding code (entry_table.h, library_loader_win32.cpp) and runs one request per
// line of its input, so that a test on the Linux side can drive every export of the real DLL
// against a pad on a pseudo-terminal. Each request is answered with one line.
//
//   load PATH           "loaded bound=N missing=NAME,NAME pump=1" or "not-loaded"
//   unload              "unloaded"
//   pump on|off         installs (or removes) a message pump that counts its calls
//   timer MS            a thread timer (no window) whose procedure counts its calls; 0 stops it
//   post-quit CODE      posts WM_QUIT with CODE to this thread
//   counters            "pump=N timer=N quit=CODE|none": the counts since the last request of
//                       this kind, and a WM_QUIT waiting in the queue (taken out)
//   monitor on|off      installs (or removes) a frame monitor that records what it is shown
//   frames              "frames=N context=ok|wrong D:HEX:STATUS:ROUNDTRIP ...": the frames recorded
//                       since the last request of this kind, in order, D being S (sent) or R
//                       (received), ROUNDTRIP in microseconds; "wrong" when any call came with
//                       another context than the one installed
//   cancel 1|0          raises (1) or lowers (0) the cancel from the thread that makes the calls
//   cancel-after MS     the next call has the cancel raised from another thread MS ms after it
//                       starts (unless the call has ended by then)
//   failure             "failure=N": Lumenord_LastFailure after the last call (this thread's);
//                       "no-failure-entry" when the DLL lacks it
//   call NAME ARG...    "rc=N ms=N out=HEX", or "unbound"
//   exit
//
// Arguments of call: s:HEX bytes passed as a zero-terminated text ("s:" is the empty text),
// i:N an integer, o:N an output buffer of N zeroed bytes (answered as hex up to its last
// non-zero byte), z a null pointer.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "entry_table.h"

namespace {

struct Arg {
    std::vector<char> bytes;  // text (zero-terminated) or output buffer
    long long number = 0;
    bool null = false;
};

// What the frame monitor was shown of one frame.
struct SeenFrame {
    int direction = -1;
    std::string bytes;
    int status = 0;
    int roundTripMicroseconds = 0;
};

// The most frames and bytes of a frame that the monitor keeps between two "frames" requests.
constexpr std::size_t kMostFrames = 64;
constexpr std::size_t kMostFrameBytes = 8192;
// How long a call's end waits for the thread that was to raise the cancel.
constexpr DWORD kCancelThreadExitMs = 10000;

struct State {
    shell::loader::Handle library = nullptr;
    shell::DriverEntries entries;
    long pumpCalls = 0;
    long timerCalls = 0;
    UINT_PTR timer = 0;
    std::vector<SeenFrame> frames;
    bool wrongContext = false;
    // Milliseconds into the next call at which another thread raises the cancel; -1: none.
    long cancelAfterMs = -1;
};

State g_state;

void PINPAD_CALL CountingPump() { ++g_state.pumpCalls; }

void PINPAD_CALL RecordFrame(void* context, const Lumenord_Frame* frame) {
    if (context != &g_state.frames) g_state.wrongContext = true;
    if (frame == nullptr || g_state.frames.size() >= kMostFrames) return;
    SeenFrame seen;
    seen.direction = frame->direction;
    if (frame->bytes != nullptr && frame->length > 0) {
        seen.bytes.assign(reinterpret_cast<const char*>(frame->bytes),
                          std::min(static_cast<std::size_t>(frame->length), kMostFrameBytes));
    }
    seen.status = frame->status;
    seen.roundTripMicroseconds = frame->roundTripMicroseconds;
    g_state.frames.push_back(std::move(seen));
}

decltype(&::Lumenord_CancelWait) ResolveCancelWait() {
    return reinterpret_cast<decltype(&::Lumenord_CancelWait)>(
        shell::loader::Resolve(g_state.library, "Lumenord_CancelWait"));
}

// Raises the cancel from a thread of its own, `delayMs` after it starts, unless `stop` is set
// first (the call it was meant for has ended).
struct CancelRaiser {
    decltype(&::Lumenord_CancelWait) cancel = nullptr;
    DWORD delayMs = 0;
    HANDLE stop = nullptr;
};

DWORD WINAPI RaiseCancelLater(void* argument) {
    const auto* raiser = static_cast<const CancelRaiser*>(argument);
    if (WaitForSingleObject(raiser->stop, raiser->delayMs) == WAIT_TIMEOUT) raiser->cancel(1);
    return 0;
}

void CALLBACK CountingTimer(HWND, UINT, UINT_PTR, DWORD) { ++g_state.timerCalls; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string ToHex(const char* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::size_t i = 0; i < count; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

bool ParseArg(const std::string& token, Arg* arg) {
    if (token == "z") {
        arg->null = true;
        return true;
    }
    if (token.size() < 2 || token[1] != ':') return false;
    const std::string value = token.substr(2);
    switch (token[0]) {
        case 's':
            if (value.size() % 2) return false;
            for (std::size_t i = 0; i < value.size(); i += 2) {
                const int high = HexValue(value[i]), low = HexValue(value[i + 1]);
                if (high < 0 || low < 0) return false;
                arg->bytes.push_back(static_cast<char>(high * 16 + low));
            }
            arg->bytes.push_back('\0');
            return true;
        case 'i':
            arg->number = std::strtoll(value.c_str(), nullptr, 10);
            return true;
        case 'o':
            arg->bytes.assign(static_cast<std::size_t>(std::strtoul(value.c_str(), nullptr, 10)),
                              '\0');
            return true;
    }
    return false;
}

// The arguments of one call, read by position the way the export expects them.
class Args {
public:
    explicit Args(std::vector<Arg> args) : m_args(std::move(args)) {}
    bool Has(std::size_t count) const { return m_args.size() == count; }
    const char* Text(std::size_t i) const {
        return m_args[i].null ? nullptr : m_args[i].bytes.data();
    }
    char* Out(std::size_t i) { return m_args[i].null ? nullptr : m_args[i].bytes.data(); }
    int Int(std::size_t i) const { return static_cast<int>(m_args[i].number); }
    unsigned Unsigned(std::size_t i) const { return static_cast<unsigned>(m_args[i].number); }
    // The export's output buffer, if it has one.
    void MarkOutput(std::size_t i) { m_output = i; }
    // The output buffer's content up to its last non-zero byte.
    std::string OutputHex() const {
        if (m_output >= m_args.size() || m_args[m_output].null) return "";
        const std::vector<char>& out = m_args[m_output].bytes;
        std::size_t end = out.size();
        while (end > 0 && out[end - 1] == '\0') --end;
        return ToHex(out.data(), end);
    }

private:
    std::vector<Arg> m_args;
    std::size_t m_output = static_cast<std::size_t>(-1);
};

// Runs the named export with the arguments; false when the name or the argument count is wrong.
bool Invoke(const shell::DriverEntries& e, const std::string& name, Args& a, int* rc,
            bool* unbound) {
    *unbound = false;
#define LUMENORD_CALL(entry, count, output, ...) \
    if (name == #entry) {                        \
        if (!a.Has(count)) return false;         \
        a.MarkOutput(output);                    \
        if (e.entry == nullptr) {                \
            *unbound = true;                     \
            return true;                         \
        }                                        \
        *rc = e.entry(__VA_ARGS__);              \
        return true;                             \
    }
    const std::size_t none = static_cast<std::size_t>(-1);
    LUMENORD_CALL(PinPad_EnablePort, 5, none, a.Text(0), a.Int(1), a.Text(2), a.Text(3), a.Text(4))
    LUMENORD_CALL(PinPad_DisablePort, 0, none)
    LUMENORD_CALL(PinPad_SetCustInfo, 2, none, a.Text(0), a.Unsigned(1))
    LUMENORD_CALL(PinPad_GetCustInfo, 1, 0, a.Out(0))
    LUMENORD_CALL(PinPad_SetKeyboardValue, 2, none, a.Text(0), a.Unsigned(1))
    LUMENORD_CALL(PinPad_SetControlCode, 2, none, a.Text(0), a.Unsigned(1))
    LUMENORD_CALL(PinPad_ReadOneByte, 1, 0, reinterpret_cast<unsigned char*>(a.Out(0)))
    LUMENORD_CALL(PinPad_DownloadKey, 4, 2, a.Text(0), a.Unsigned(1), a.Out(2), a.Int(3))
    LUMENORD_CALL(PinPad_DownloadEncryptKey, 3, 2, a.Text(0), a.Unsigned(1), a.Out(2))
    LUMENORD_CALL(PinPad_InitAuthorization, 3, 2, a.Text(0), a.Unsigned(1), a.Out(2))
    LUMENORD_CALL(PinPad_GetChallenge, 1, 0, a.Out(0))
    LUMENORD_CALL(PinPad_BidirectionalAuthorization, 5, 4, a.Text(0), a.Unsigned(1), a.Text(2),
                  a.Text(3), a.Out(4))
    LUMENORD_CALL(PinPad_EnablePin, 2, none, a.Text(0), a.Unsigned(1))
    LUMENORD_CALL(PinPad_GetPinValue, 4, 3, a.Text(0), a.Unsigned(1), a.Int(2), a.Out(3))
    LUMENORD_CALL(PinPad_MakeMac, 3, 2, a.Text(0), a.Unsigned(1), a.Out(2))
    LUMENORD_CALL(PinPad_EncryptData, 3, 2, a.Text(0), a.Unsigned(1), a.Out(2))
    LUMENORD_CALL(PinPad_IC_Control, 2, 1, a.Text(0), a.Out(1))
    LUMENORD_CALL(PinPad_IC_Access, 2, 1, a.Text(0), a.Out(1))
    LUMENORD_CALL(PinPad_DispInfoLcd, 2, none, a.Text(0), a.Int(1))
    LUMENORD_CALL(PinPad_TriUntriDes, 4, 2, a.Text(0), a.Text(1), a.Out(2), a.Int(3))
#undef LUMENORD_CALL
    return false;
}

std::string Load(const std::string& path) {
    if (g_state.library != nullptr) shell::loader::Close(g_state.library);
    g_state.entries = shell::DriverEntries{};
    g_state.library = shell::loader::Open(path.c_str());
    if (g_state.library == nullptr) return "not-loaded";
    shell::BindEntries(g_state.library, g_state.entries);
    int bound = 0;
    std::string missing;
    g_state.entries.ForEach([&](const char* name, auto entry) {
        if (entry != nullptr) {
            ++bound;
        } else {
            missing += (missing.empty() ? "" : ",") + std::string(name);
        }
    });
    const bool pump = shell::ResolveMessagePump(g_state.library) != nullptr;
    return "loaded bound=" + std::to_string(bound) + " missing=" + missing +
           " pump=" + (pump ? "1" : "0");
}

std::string SetPump(bool on) {
    auto hook = shell::ResolveMessagePump(g_state.library);
    if (hook == nullptr) return "no-pump-hook";
    hook(on ? &CountingPump : nullptr);
    return on ? "pump-on" : "pump-off";
}

std::string SetTimerPeriod(UINT ms) {
    if (g_state.timer != 0) KillTimer(nullptr, g_state.timer);
    g_state.timer = ms > 0 ? SetTimer(nullptr, 0, ms, &CountingTimer) : 0;
    return ms == 0 || g_state.timer != 0 ? "timer" : "no-timer";
}

std::string Counters() {
    MSG quit{};
    const bool quitWaiting = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    std::string line = "pump=" + std::to_string(g_state.pumpCalls) +
                       " timer=" + std::to_string(g_state.timerCalls) +
                       " quit=" + (quitWaiting ? std::to_string(quit.wParam) : "none");
    g_state.pumpCalls = 0;
    g_state.timerCalls = 0;
    return line;
}

std::string SetMonitor(bool on) {
    auto hook = shell::ResolveFrameMonitor(g_state.library);
    if (hook == nullptr) return "no-monitor-hook";
    if (on) {
        hook(&RecordFrame, &g_state.frames);
    } else {
        hook(nullptr, nullptr);
    }
    return on ? "monitor-on" : "monitor-off";
}

std::string Frames() {
    std::string line = "frames=" + std::to_string(g_state.frames.size()) +
                       " context=" + (g_state.wrongContext ? "wrong" : "ok");
    for (const SeenFrame& frame : g_state.frames) {
        line += frame.direction == LUMENORD_FRAME_SENT       ? " S:"
                : frame.direction == LUMENORD_FRAME_RECEIVED ? " R:"
                                                             : " ?:";
        line += ToHex(frame.bytes.data(), frame.bytes.size()) + ":" + std::to_string(frame.status) +
                ":" + std::to_string(frame.roundTripMicroseconds);
    }
    g_state.frames.clear();
    g_state.wrongContext = false;
    return line;
}

std::string SetCancel(const std::string& value) {
    auto cancel = ResolveCancelWait();
    if (cancel == nullptr) return "no-cancel";
    cancel(value == "1" ? 1 : 0);
    return value == "1" ? "cancel-raised" : "cancel-lowered";
}

std::string LastFailure() {
    auto lastFailure = shell::ResolveLastFailure(g_state.library);
    if (lastFailure == nullptr) return "no-failure-entry";
    return "failure=" + std::to_string(lastFailure());
}

std::string ArmCancel(long ms) {
    if (ResolveCancelWait() == nullptr) return "no-cancel";
    if (ms < 0) return "bad-delay";
    g_state.cancelAfterMs = ms;
    return "cancel-armed";
}

std::string Call(std::istringstream& in) {
    std::string name, token;
    in >> name;
    std::vector<Arg> parsed;
    while (in >> token) {
        Arg arg;
        if (!ParseArg(token, &arg)) return "bad-argument " + token;
        parsed.push_back(std::move(arg));
    }
    Args args(std::move(parsed));
    int rc = 0;
    bool unbound = false;
    CancelRaiser raiser;
    HANDLE raiserThread = nullptr;
    if (g_state.cancelAfterMs >= 0) {
        raiser.cancel = ResolveCancelWait();
        raiser.delayMs = static_cast<DWORD>(g_state.cancelAfterMs);
        raiser.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_state.cancelAfterMs = -1;
        if (raiser.cancel != nullptr && raiser.stop != nullptr)
            raiserThread = CreateThread(nullptr, 0, RaiseCancelLater, &raiser, 0, nullptr);
        if (raiserThread == nullptr) {
            if (raiser.stop != nullptr) CloseHandle(raiser.stop);
            return "no-cancel-thread";
        }
    }
    const ULONGLONG start = GetTickCount64();
    const bool known = Invoke(g_state.entries, name, args, &rc, &unbound);
    const ULONGLONG elapsed = GetTickCount64() - start;
    if (raiserThread != nullptr) {
        SetEvent(raiser.stop);
        // The thread reads `raiser`, which lives on this stack: it must be gone before we return.
        if (WaitForSingleObject(raiserThread, kCancelThreadExitMs) != WAIT_OBJECT_0) {
            std::printf("cancel thread did not end\n");
            std::exit(3);
        }
        CloseHandle(raiserThread);
        CloseHandle(raiser.stop);
    }
    if (!known) return "bad-call " + name;
    if (unbound) return "unbound";
    return "rc=" + std::to_string(rc) + " ms=" + std::to_string(elapsed) +
           " out=" + args.OutputHex();
}

std::string Handle(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "load") {
        std::string path;
        std::getline(in >> std::ws, path);
        return Load(path);
    }
    if (verb == "unload") {
        shell::loader::Close(g_state.library);
        g_state.library = nullptr;
        g_state.entries = shell::DriverEntries{};
        return "unloaded";
    }
    if (verb == "pump") {
        std::string mode;
        in >> mode;
        return SetPump(mode == "on");
    }
    if (verb == "timer") {
        UINT ms = 0;
        in >> ms;
        return SetTimerPeriod(ms);
    }
    if (verb == "post-quit") {
        int code = 0;
        in >> code;
        PostQuitMessage(code);
        return "posted";
    }
    if (verb == "counters") return Counters();
    if (verb == "monitor") {
        std::string mode;
        in >> mode;
        return SetMonitor(mode == "on");
    }
    if (verb == "frames") return Frames();
    if (verb == "cancel") {
        std::string value;
        in >> value;
        return SetCancel(value);
    }
    if (verb == "cancel-after") {
        long ms = -1;
        in >> ms;
        return ArmCancel(ms);
    }
    if (verb == "failure") return LastFailure();
    if (verb == "call") return Call(in);
    return "unknown " + verb;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::string line;
    static char buffer[1 << 16];
    while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
        line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line == "exit") break;
        if (line.empty()) continue;
        std::printf("%s\n", Handle(line).c_str());
    }
    if (g_state.library != nullptr) shell::loader::Close(g_state.library);
    return 0;
}
