#include "pad_input.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "pinpad.h"

namespace cli {
namespace {

volatile sig_atomic_t g_signal = 0;
int g_wakeRead = -1;
int g_wakeWrite = -1;

void OnInterrupt(int signal) {
    const int savedErrno = errno;
    if (g_signal == 0) g_signal = signal;
    // Ends the driver's wait in progress, or the next one if none is running yet.
    Lumenord_CancelWait(1);
    // Only write() is safe here; a full pipe already wakes every reader.
    if (g_wakeWrite >= 0) {
        const ssize_t written = write(g_wakeWrite, "!", 1);
        static_cast<void>(written);
    }
    errno = savedErrno;
}

}  // namespace

void CatchInterrupt() {
    int wake[2];
    if (g_wakeRead < 0 && pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_wakeRead = wake[0];
        g_wakeWrite = wake[1];
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked read returns EINTR
    for (const int signal : kInterruptSignals) sigaction(signal, &action, nullptr);
    // A pad's process of a run of several pads starts with them blocked (pad_process.h): one
    // that came meanwhile is taken now, by the handler.
    const sigset_t interrupts = InterruptSignalSet();
    sigprocmask(SIG_UNBLOCK, &interrupts, nullptr);
}

sigset_t InterruptSignalSet() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signal : kInterruptSignals) sigaddset(&interrupts, signal);
    return interrupts;
}

void CatchInterruptInForkedProcess() {
    // The wake pipe is the parent's: a write to it would wake the parent's wait, not this one's.
    if (g_wakeRead >= 0) close(g_wakeRead);
    if (g_wakeWrite >= 0) close(g_wakeWrite);
    g_wakeRead = g_wakeWrite = -1;
    g_signal = 0;
    CatchInterrupt();
}

bool InterruptRequested() { return g_signal != 0; }

int InterruptSignal() { return g_signal; }

int InterruptFd() { return g_wakeRead; }

bool CollectPadBytes(int seconds, const std::function<bool(unsigned char)>& onByte) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline && !InterruptRequested()) {
        unsigned char byte = 0;
        if (PinPad_ReadOneByte(&byte) == 0 && onByte(byte)) return true;
    }
    return false;
}

void EndPadInput() {
    // After an interrupt the run closes the input itself, with the driver's cancel lowered.
    if (!InterruptRequested()) PinPad_SetControlCode("032", 3);
}

}  // namespace cli
