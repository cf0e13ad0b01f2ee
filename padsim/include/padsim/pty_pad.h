// Runs a PadSimulator on a pseudo-terminal in a thread of its own: the peer that the driver opens
// as its serial port in end-to-end tests, benchmarks and the padsim program.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "padsim/line_rate.h"
#include "padsim/pad_simulator.h"

namespace padsim {

struct PadOptions {
    std::uint32_t seed = 1;
    Faults faults;             // in force from the start
    UnitIdentity identity;     // the unit's version fields (the constructor refuses bad ones)
    std::string scriptedKeys;  // pressed whenever an input mode opens (see SetScriptedKeys)
    // Pause before the first scripted key and between scripted keys, so that each key arrives
    // on its own after the reply that opened the mode.
    std::chrono::milliseconds scriptedKeyDelay{150};
    // The serial line's rate and format, which a pty does not carry; a rate of 0 paces nothing.
    LineFormat line;
    // Called on the pad's thread after anything changed (request answered, key pressed, time-out).
    // Keep it short; it must not call back into the PtyPad.
    std::function<void()> onChange;
};

// What crossed the line and how long the pad itself took, for benchmarks that set a run beside
// the line's limit. Times are on the steady clock (CLOCK_MONOTONIC).
struct LineStats {
    std::uint64_t bytesIn = 0;   // from the host, counted as they are through the line
    std::uint64_t bytesOut = 0;  // to the host, counted as they are written
    // When the first byte from the host started on the line (it was read from the pty then).
    std::optional<std::chrono::steady_clock::time_point> firstIn;
    // When the last byte to the host was through the line (it was written to the pty then).
    std::optional<std::chrono::steady_clock::time_point> lastOut;
    // The pad's own time, in which it waits on nobody and the line is idle: answering requests
    // (from the last byte's arrival to the reply), and waiting for scripted keys.
    std::chrono::nanoseconds processing{0};
    std::chrono::nanoseconds keyWait{0};
    // Not the pad's: from the last byte written to the host, with nothing more to send or to
    // wait for, until the host's next request started on the line.
    std::chrono::nanoseconds hostWait{0};
};

class PtyPad {
public:
    // Throws std::runtime_error without a pty, std::invalid_argument for a bad identity.
    explicit PtyPad(PadOptions options = {});
    ~PtyPad();  // stops and joins
    PtyPad(const PtyPad&) = delete;
    PtyPad& operator=(const PtyPad&) = delete;

    // The slave side to open as the serial port (map it as [PORTS] COM1=<path>).
    const std::string& DevicePath() const { return m_slavePath; }

    // Key presses on the pad, from any thread; their echoes go out at once.
    void PressKeys(std::string_view keys);
    // Keys pressed one after another each time an input mode opens (PIN entry, key entry,
    // clear-text keypad); "" turns the script off. Each opening replays the whole script.
    void SetScriptedKeys(std::string keys);

    // Runs f(PadSimulator&) under the pad's lock and returns its result: inspection and fault
    // injection from any thread. Faults changed here apply to the next reply.
    template <class F>
    auto With(F f) {
        std::unique_lock lock(m_mutex);
        struct Wake {  // the loop re-reads deadlines and faults after f ran
            PtyPad* pad;
            ~Wake() { pad->WakeLocked(); }
        } wake{this};
        return f(m_engine);
    }

    // Waits until pred(const PadSimulator&) holds or the time-out passes; returns whether it held.
    bool WaitFor(const std::function<bool(const PadSimulator&)>& pred,
                 std::chrono::milliseconds timeout);

    // The pad vanishes now: the pseudo-terminal is closed (the driver's side sees a hang-up).
    void Disappear();
    bool Disappeared() const;
    LineStats Stats() const;
    // Ends the thread; the pty is closed. Safe to call twice.
    void Stop();

private:
    void Run();
    void WakeLocked();
    void ReadInput();
    void CountHostWait(std::chrono::steady_clock::time_point now);
    void HandleArrived();
    void FlushOutput();
    void QueueOut(std::string_view bytes);
    void PressScriptedKey();
    void QueueReply(const std::string& bytes, std::chrono::milliseconds delay);
    void DisappearWith(const std::string& reply);
    void ArmScriptIfModeOpened(Mode before);
    void CloseLine();
    std::optional<std::chrono::steady_clock::time_point> NextWakeLocked() const;
    void AdvanceClockLocked();

    PadOptions m_options;
    PadSimulator m_engine;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
    int m_master = -1;
    int m_slaveKeepAlive = -1;
    int m_wakeRead = -1, m_wakeWrite = -1;
    std::string m_slavePath;
    bool m_stop = false;
    bool m_gone = false;
    bool m_eventSinceNotify = false;  // something the observer should see happened

    using Clock = std::chrono::steady_clock;
    Clock::time_point m_lastTick;
    WireQueue m_in;                // read from the pty, not yet through the line
    WireQueue m_out;               // for the host, written once through the line
    bool m_outBlocked = false;     // the pty took less than was due: wait for POLLOUT
    bool m_closeWhenSent = false;  // the pad vanishes once m_out is written
    LineStats m_stats;
    std::string m_delayed;  // reply bytes held back by the delay fault
    Clock::time_point m_delayedDue;
    std::string m_script;
    std::size_t m_scriptPos = std::string::npos;  // next scripted key, npos when idle
    Clock::time_point m_scriptDue;
    Clock::time_point m_scriptWaitFrom;  // the mode's opening or the previous scripted key
};

}  // namespace padsim
