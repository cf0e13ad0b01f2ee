#include "keypad_reader.h"

#if defined(__linux__)
#include <pthread.h>
#endif

#include <chrono>
#include <system_error>
#include <thread>

namespace operations {
namespace {

using namespace std::chrono_literals;

// While the window thread holds the port the reader steps aside in short pauses instead of
// spinning.
constexpr auto kPortRequestPause = 1ms;
constexpr int kReadBufferSize = 10;

// The name shows in debuggers and process lists.
void NameThread(std::thread& thread) {
#if defined(__linux__)
    pthread_setname_np(thread.native_handle(), "keypad reader");
#else
    (void)thread;
#endif
}

}  // namespace

KeypadReader::KeypadReader(shell::Shell& shell, Events events)
    : m_shell(shell), m_events(std::move(events)) {}

KeypadReader::OpenResult KeypadReader::Open() {
    {
        std::lock_guard lock(m_mutex);
        m_shell.padInputClosed = 0;
        m_shell.keyPollActive = 1;
        if (m_shell.readerThread.joinable() && !m_left) return OpenResult::kAlreadyRunning;
    }
    // A thread that decided to leave returns at once.
    if (m_shell.readerThread.joinable()) m_shell.readerThread.join();
    m_shell.portRequest = 0;
    m_shell.readerBusy = 0;
    std::lock_guard lock(m_mutex);
    m_left = false;
    try {
        m_shell.readerThread = std::thread(&KeypadReader::Run, this);
    } catch (const std::system_error&) {
        m_left = true;
        return OpenResult::kNotCreated;
    }
    NameThread(m_shell.readerThread);
    return OpenResult::kStarted;
}

bool KeypadReader::Running() {
    std::lock_guard lock(m_mutex);
    return m_shell.readerThread.joinable() && !m_left;
}

bool KeypadReader::Leaving() {
    std::lock_guard lock(m_mutex);
    if (m_shell.keyPollActive == 0 || m_shell.padInputClosed == 1) m_left = true;
    return m_left;
}

void KeypadReader::Run() {
    auto readOneByte = m_shell.Entries().PinPad_ReadOneByte;
    int shown = 0;  // bytes shown since this thread last emptied the memos
    while (!Leaving()) {
        if (m_shell.portRequest == 1) {
            m_shell.readerBusy = 0;
            std::this_thread::sleep_for(kPortRequestPause);
            continue;
        }
        unsigned char buffer[kReadBufferSize] = {};
        const auto start = std::chrono::steady_clock::now();
        m_shell.readerBusy = 1;
        const int result =
            readOneByte == nullptr ? -1 : m_shell.GuardedCall([&] { return readOneByte(buffer); });
        m_shell.readerBusy = 0;
        if (result != 0) {
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
