// Collecting the bytes the pad sends on its own while one of its input modes is open (PIN
// entry, key entry, clear-text keypad), and the interrupt that ends such a wait.
#pragma once

#include <signal.h>

#include <functional>

namespace cli {

// Byte values the pad reports during input.
inline constexpr unsigned char kBackspaceByte = 0x08;
inline constexpr unsigned char kEnterByte = 0x0D;
inline constexpr unsigned char kEscapeByte = 0x1B;
inline constexpr unsigned char kDigitByte = 0x2A;  // '*': one PIN digit
inline constexpr unsigned char kPadTimeoutByte = 0x80;

// How a key byte is echoed on the terminal: itself when printable, else '?'.
inline char EchoCharacter(unsigned char byte) {
    return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?';
}

// The end of an input that `byte` reports: "enter", "escape" or "pad time-out"; nullptr for
// any other byte.
inline const char* EntryEndOf(unsigned char byte) {
    switch (byte) {
        case kEnterByte:
            return "enter";
        case kEscapeByte:
            return "escape";
        case kPadTimeoutByte:
            return "pad time-out";
        default:
            return nullptr;
    }
}

// Hands every byte the pad sends to `onByte` until it returns true (done: true is returned) or
// `seconds` have passed or an interrupt arrived (false). Each poll waits about a second at most.
bool CollectPadBytes(int seconds, const std::function<bool(unsigned char)>& onByte);

// The signals that end a run: Ctrl-C, SIGTERM, the terminal closed (SIGHUP) and a reader that
// closed the output (SIGPIPE). Each cancels the driver's waits (Lumenord_CancelWait), so that
// the current step ends at once, and stops the run after it; the run then closes the pad's
// input mode and writes its records before the tool exits with 128 + the signal. The handlers
// do not restart system calls, and each signal also makes InterruptFd() readable, so that a
// wait in poll() ends at once however the signal and the wait interleave.
inline constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
void CatchInterrupt();
// In a pad's process forked (without exec) from one that caught them (PadProcess::StartForked),
// with the interrupt signals blocked: a wake pipe of its own, no interrupt yet, the handlers set
// and the signals unblocked.
void CatchInterruptInForkedProcess();
// kInterruptSignals as a set, for blocking them.
sigset_t InterruptSignalSet();
bool InterruptRequested();
// The first of kInterruptSignals that arrived, else 0.
int InterruptSignal();
// Readable once an interrupt arrived; -1 before CatchInterrupt ran.
int InterruptFd();

// Ends whatever input mode the pad may still have open (control code "032"); after an
// interrupt it leaves that to the run.
void EndPadInput();

}  // namespace cli
