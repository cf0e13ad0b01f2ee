#include "keypad_reader.h"

#include <chrono>
#include <optional>
#include <thread>

namespace operations {
namespace {

using namespace std::chrono_literals;

// While the window thread holds the port the reader steps aside in short pauses instead of
// spinning.
constexpr auto kPortRequestPause = 1ms;
constexpr int kReadBufferSize = 10;

}  // namespace

KeypadReader::KeypadReader(shell::Shell& shell, Events events)
    : m_shell(shell), m_events(std::move(events)) {}

KeypadReader::OpenResult KeypadReader::Open() {
    {
        std::lock_guard lock(m_mutex);
        m_shell.OpenKeypadMode();
        if (m_shell.ReaderThreadExists() && !m_left) return OpenResult::kAlreadyRunning;
    }
    // A thread that has decided to leave no longer takes the lock: the shell may join it here.
    std::lock_guard lock(m_mutex);
    m_left = false;
    if (!m_shell.StartReaderThread([this] { Run(); })) {
        m_left = true;
        return OpenResult::kNotCreated;
    }
    return OpenResult::kStarted;
}

bool KeypadReader::Running() {
    std::lock_guard lock(m_mutex);
    return m_shell.ReaderThreadExists() && !m_left;
}

bool KeypadReader::Leaving() {
    std::lock_guard lock(m_mutex);
    if (m_shell.KeyPollingEnded()) m_left = true;
    return m_left;
}

void KeypadReader::Run() {
    auto readOneByte = m_shell.Entries().PinPad_ReadOneByte;
    int shown = 0;  // bytes shown since this thread last emptied the memos
    while (!Leaving()) {
        unsigned char buffer[kReadBufferSize] = {};
        const auto start = std::chrono::steady_clock::now();
        const std::optional<int> result = m_shell.ReaderDriverCall(
            [&] { return readOneByte == nullptr ? -1 : readOneByte(buffer); });
        if (!result) {
            // The window thread holds the port.
            std::this_thread::sleep_for(kPortRequestPause);
            continue;
        }
        if (*result != 0) {
            const auto rest = shell::FailedReadRest(start);
            if (rest > rest.zero()) std::this_thread::sleep_for(rest);
            continue;
        }
        const bool emptyFirst = ++shown > kKeyEchoLimit;
        if (emptyFirst) shown = 0;
        m_events.onByte(buffer[0], emptyFirst);
    }
    m_events.onEnd();
}

}  // namespace operations
