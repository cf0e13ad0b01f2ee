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
//   call NAME ARG...    "rc=N ms=N out=HEX", or "unbound"
//   exit
//
// Arguments of call: s:HEX bytes passed as a zero-terminated text ("s:" is the empty text),
// i:N an integer, o:N an output buffer of N zeroed bytes (answered as hex up to its last
// non-zero byte), z a null pointer.
#include <windows.h>

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

struct State {
    shell::loader::Handle library = nullptr;
    shell::DriverEntries entries;
    long pumpCalls = 0;
    long timerCalls = 0;
    UINT_PTR timer = 0;
};

State g_state;

void PINPAD_CALL CountingPump() { ++g_state.pumpCalls; }

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
    const ULONGLONG start = GetTickCount64();
    if (!Invoke(g_state.entries, name, args, &rc, &unbound)) return "bad-call " + name;
    if (unbound) return "unbound";
    const ULONGLONG elapsed = GetTickCount64() - start;
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
