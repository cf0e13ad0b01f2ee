// The reader thread of the clear-text keypad: while the mode is open it picks up every byte the
// pad sends and hands it to the window, keeping out of the window thread's driver calls.
#pragma once

#include <functional>
#include <mutex>

#include "shell.h"

namespace operations {

// The memos are emptied before the byte that takes the count past this many.
inline constexpr int kKeyEchoLimit = 300;

class KeypadReader {
public:
    // Both run on the reader thread; they hand their work to the window thread.
    struct Events {
        std::function<void(unsigned char byte, bool emptyFirst)> onByte;
        std::function<void()> onEnd;  // the thread leaves; the buttons may come back
    };

    // The thread itself is kept by the shell, which starts, stops and joins it.
    KeypadReader(shell::Shell& shell, Events events);

    enum class OpenResult { kStarted, kAlreadyRunning, kNotCreated };
    // Marks the keypad mode open (Shell::OpenKeypadMode) and starts the reader thread unless one
    // is still reading. A thread that has left its loop is joined first.
    OpenResult Open();

    // True while a reader thread runs and has not decided to leave.
    bool Running();

private:
    void Run();
    // Whether the flags end the mode; the decision is taken under the lock that Open takes.
    bool Leaving();

    shell::Shell& m_shell;
    Events m_events;
    std::mutex m_mutex;  // orders the thread's decision to leave against Open
    bool m_left = true;  // the thread has decided to leave (or none was started)
};

}  // namespace operations
