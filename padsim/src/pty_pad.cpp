#include "padsim/pty_pad.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

namespace padsim {
namespace {

using std::chrono::milliseconds;

// The most bytes that wait for their time on the line: a buffer's worth, as a UART's driver keeps.
constexpr std::size_t kInputLimit = 4096;

timespec TimeoutUntil(std::chrono::steady_clock::time_point due) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
        due - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    return {static_cast<time_t>(left.count() / 1'000'000'000),
            static_cast<long>(left.count() % 1'000'000'000)};
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

PtyPad::PtyPad(PadOptions options)
    : m_options(std::move(options)),
      m_engine(m_options.seed),
      m_in(m_options.line),
      m_out(m_options.line) {
    m_engine.faults() = m_options.faults;
    m_engine.SetIdentity(m_options.identity);
    m_script = m_options.scriptedKeys;
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        CloseFd(m_master);
        throw std::runtime_error("no pseudo-terminal");
    }
    m_slavePath = name;
    // Holding the slave open keeps the master from hanging up while the driver closes and
    // reopens its port; raw mode keeps the line discipline from echoing or translating.
    m_slaveKeepAlive = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    int wake[2];
    if (m_slaveKeepAlive < 0 || pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        CloseFd(m_master);
        CloseFd(m_slaveKeepAlive);
        throw std::runtime_error("cannot set up the pseudo-terminal");
    }
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    termios raw{};
    tcgetattr(m_slaveKeepAlive, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slaveKeepAlive, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_lastTick = Clock::now();
    m_thread = std::thread([this] { Run(); });
}

PtyPad::~PtyPad() {
    Stop();
    CloseFd(m_wakeRead);
    CloseFd(m_wakeWrite);
}

void PtyPad::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        WakeLocked();
    }
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard lock(m_mutex);
    CloseLine();
}

void PtyPad::PressKeys(std::string_view keys) {
    std::lock_guard lock(m_mutex);
    m_eventSinceNotify = true;
    for (char key : keys) QueueOut(m_engine.PressKey(key));
    WakeLocked();
}

void PtyPad::SetScriptedKeys(std::string keys) {
    std::lock_guard lock(m_mutex);
    m_script = std::move(keys);
    m_scriptPos = std::string::npos;
}

bool PtyPad::WaitFor(const std::function<bool(const PadSimulator&)>& pred, milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return pred(m_engine); });
}

void PtyPad::Disappear() {
    std::lock_guard lock(m_mutex);
    m_eventSinceNotify = true;
    CloseLine();
    WakeLocked();
}

bool PtyPad::Disappeared() const {
    std::lock_guard lock(m_mutex);
    return m_gone;
}

LineStats PtyPad::Stats() const {
    std::lock_guard lock(m_mutex);
    return m_stats;
}

void PtyPad::WakeLocked() {
    const char one = 1;
    if (m_wakeWrite >= 0 && write(m_wakeWrite, &one, 1) < 0) {
        // A full pipe already holds a wake-up; nothing is lost.
    }
    m_changed.notify_all();
}

void PtyPad::CloseLine() {
    if (m_master < 0) return;
    CloseFd(m_master);
    CloseFd(m_slaveKeepAlive);
    m_gone = true;
    m_in.Clear();
    m_out.Clear();
    m_outBlocked = false;
    m_closeWhenSent = false;
    m_delayed.clear();
    m_scriptPos = std::string::npos;
}

void PtyPad::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        pollfd fds[2] = {{m_wakeRead, POLLIN, 0}, {m_master, 0, 0}};
        // Input waits while the line still carries a buffer's worth: the host's writes then
        // stall as they would on a slow line.
        if (m_in.size() < kInputLimit && !m_closeWhenSent) fds[1].events |= POLLIN;
        if (m_outBlocked) fds[1].events |= POLLOUT;
        const nfds_t count = m_master >= 0 ? 2 : 1;
        const std::optional<Clock::time_point> wake = NextWakeLocked();
        timespec timeout{};
        if (wake) timeout = TimeoutUntil(*wake);
        lock.unlock();
        const int ready = ppoll(fds, count, wake ? &timeout : nullptr, nullptr);
        lock.lock();
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }
        AdvanceClockLocked();
        if (m_master >= 0 && count == 2 && (fds[1].revents & POLLIN)) ReadInput();
        if (fds[1].revents & POLLOUT) m_outBlocked = false;
        HandleArrived();
        FlushOutput();
        if (m_closeWhenSent && m_out.empty()) CloseLine();
        m_changed.notify_all();
        // Only real events are reported: a wake-up from With() alone must not loop back here
        // through an observer that inspects the pad.
        if (std::exchange(m_eventSinceNotify, false) && m_options.onChange) m_options.onChange();
    }
}

// Everything time-driven: the engine's time-outs, held-back replies and scripted keys.
void PtyPad::AdvanceClockLocked() {
    const auto now = Clock::now();
    const auto elapsed = std::chrono::duration_cast<milliseconds>(now - m_lastTick);
    if (elapsed.count() > 0) {
        m_lastTick += elapsed;
        const Mode before = m_engine.mode();
        const std::string timed = m_engine.Elapse(elapsed);
        if (!timed.empty()) m_eventSinceNotify = true;
        QueueOut(timed);
        if (m_engine.mode() == Mode::Idle && before != Mode::Idle) m_scriptPos = std::string::npos;
    }
    if (!m_delayed.empty() && now >= m_delayedDue) {
        QueueOut(m_delayed);
        m_delayed.clear();
    }
    while (m_scriptPos != std::string::npos && now >= m_scriptDue) {
        if (m_scriptPos >= m_script.size() || m_engine.mode() == Mode::Idle) {
            m_scriptPos = std::string::npos;
            break;
        }
        PressScriptedKey();
        m_scriptDue += m_options.scriptedKeyDelay;
    }
}

// The wait for this key counts as the pad's own time while nothing was on its way to the host:
// the reply that opened the mode and the previous key's echo are the line's time.
void PtyPad::PressScriptedKey() {
    const auto now = Clock::now();
    const auto from = std::max(m_scriptWaitFrom, m_out.IdleAt());
    if (now > from) m_stats.keyWait += now - from;
    m_scriptWaitFrom = now;
    QueueOut(m_engine.PressKey(m_script[m_scriptPos++]));
    m_eventSinceNotify = true;
    if (m_scriptPos == m_script.size()) m_scriptPos = std::string::npos;  // the script is done
}

std::optional<PtyPad::Clock::time_point> PtyPad::NextWakeLocked() const {
    std::optional<Clock::time_point> due;
    const auto earliest = [&due](std::optional<Clock::time_point> t) {
        if (t && (!due || *t < *due)) due = t;
    };
    if (auto next = m_engine.NextDeadline()) earliest(m_lastTick + *next);
    if (!m_delayed.empty()) earliest(m_delayedDue);
    if (m_scriptPos != std::string::npos) earliest(m_scriptDue);
    if (!m_closeWhenSent) earliest(m_in.NextThrough());
    if (!m_outBlocked) earliest(m_out.NextThrough());
    return due;
}

void PtyPad::ReadInput() {
    char buffer[kInputLimit];
    while (m_in.size() < kInputLimit) {
        const ssize_t n = read(m_master, buffer, kInputLimit - m_in.size());
        if (n <= 0) return;  // EAGAIN: all taken; EIO cannot happen while the slave is held
        const auto now = Clock::now();
        CountHostWait(now);
        if (!m_stats.firstIn) m_stats.firstIn = std::max(now, m_in.IdleAt());
        m_in.Push(std::string_view(buffer, static_cast<std::size_t>(n)), now);
    }
}

void PtyPad::CountHostWait(Clock::time_point now) {
    const bool padIdle =
        m_in.empty() && m_out.empty() && m_delayed.empty() && m_scriptPos == std::string::npos;
    if (!padIdle || !m_stats.lastOut) return;
    const auto from = std::max(*m_stats.lastOut, m_in.IdleAt());
    if (now > from) m_stats.hostWait += now - from;
}

namespace {

// How long the reply to the request just answered is held: the delay for its command when one is
// set, else the delay for every reply.
std::chrono::milliseconds ReplyDelay(const PadSimulator& engine, std::uint64_t answeredBefore) {
    const Faults& faults = engine.faults();
    if (engine.requestCount() != answeredBefore && !engine.payloadLog().empty()) {
        const auto own = faults.commandDelay.find(engine.payloadLog().back().front());
        if (own != faults.commandDelay.end()) return own->second;
    }
    return faults.delay;
}

}  // namespace

// Hands the engine the bytes that are through the line: the pad acts on a request only once its
// last byte has arrived.
void PtyPad::HandleArrived() {
    const std::size_t count = m_in.Through(Clock::now());
    if (count == 0 || m_master < 0 || m_closeWhenSent) return;
    const std::string bytes = m_in.Peek(count);
    m_in.Take(count);
    m_stats.bytesIn += count;
    m_eventSinceNotify = true;
    const Mode before = m_engine.mode();
    const auto answeredBefore = m_engine.requestCount();
    const auto start = Clock::now();
    std::string reply = m_engine.Receive(bytes);
    if (m_engine.requestCount() != answeredBefore) m_stats.processing += Clock::now() - start;
    const Faults& faults = m_engine.faults();
    if (m_engine.requestCount() != answeredBefore && faults.disappearAfter >= 0 &&
        m_engine.requestCount() >= faults.disappearAtRequest) {
        DisappearWith(reply);
        return;
    }
    QueueReply(reply, ReplyDelay(m_engine, answeredBefore));
    ArmScriptIfModeOpened(before);
}

void PtyPad::ArmScriptIfModeOpened(Mode before) {
    const Mode now = m_engine.mode();
    if (now == Mode::Idle || now == before || m_script.empty()) return;
    m_scriptPos = 0;
    m_scriptWaitFrom = Clock::now();
    m_scriptDue = m_scriptWaitFrom + m_options.scriptedKeyDelay;
}

// The pad dies in the middle of the exchange: part of the reply, then nothing.
void PtyPad::DisappearWith(const std::string& reply) {
    Faults& faults = m_engine.faults();
    const auto keep = std::min(reply.size(), static_cast<std::size_t>(faults.disappearAfter));
    faults.disappearAfter = -1;
    QueueOut(std::string_view(reply).substr(0, keep));
    // The line closes once these bytes are through it; nothing more is read meanwhile.
    m_closeWhenSent = true;
    FlushOutput();
    if (m_out.empty()) CloseLine();
}

void PtyPad::QueueReply(const std::string& bytes, std::chrono::milliseconds delay) {
    if (bytes.empty()) return;
    // A reply never overtakes one held before it.
    if (delay.count() > 0 || !m_delayed.empty()) {
        if (m_delayed.empty()) m_delayedDue = Clock::now() + delay;
        m_delayed += bytes;
        return;
    }
    QueueOut(bytes);
}

void PtyPad::QueueOut(std::string_view bytes) {
    if (m_master >= 0) m_out.Push(bytes, Clock::now());
}

// Writes what is through the line by now; the rest waits for its time.
void PtyPad::FlushOutput() {
    while (!m_outBlocked && m_master >= 0) {
        const std::size_t due = m_out.Through(Clock::now());
        if (due == 0) return;
        const std::string bytes = m_out.Peek(due);
        // Stamped before the write: once written, the host may have the bytes before this thread
        // runs again, and the last byte's time must not come after the host's.
        const auto writing = Clock::now();
        const ssize_t n = write(m_master, bytes.data(), bytes.size());
        if (n > 0) {
            m_out.Take(static_cast<std::size_t>(n));
            m_stats.bytesOut += static_cast<std::uint64_t>(n);
            m_stats.lastOut = writing;
        }
        // The host's side is full: POLLOUT brings us back.
        if (n < static_cast<ssize_t>(bytes.size())) m_outBlocked = true;
    }
}

}  // namespace padsim
