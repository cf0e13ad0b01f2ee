// The key loop of a PIN entry started on the pad: it echoes the pad's key presses as stars until
// the entry ends. The PIN page and the key page's password entry both run it.
#pragma once

#include <QString>
#include <functional>

#include "star_echo.h"

class QLineEdit;

namespace shell {
class Shell;
}

namespace operations {

inline constexpr const char* kPinEntryStarted =
    "succeed in starting PIN ,please input your password in the keyboard";
inline constexpr const char* kPinEntryStartFailure =
    "failure in starting the PIN,the failure reason is:%s";
inline constexpr const char* kPinEntryFinished =
    "user finish inputting the password ,and then password encryption text can be selected";

// What differs between the pages as an entry ends.
struct StarEchoEnding {
    // The status of a finished entry, from the byte that finished it (Enter or the last digit).
    std::function<QString(unsigned char byte)> finishedText;
    // Runs after the status of the end is shown; may be empty.
    std::function<void(StarEcho::End end)> ended;
};

// Marks the key loop active, keeps the port open while it runs, and shows the stars in `stars`
// until the entry ends or another operation stops the loop.
void RunStarEchoEntry(shell::Shell& shell, StarEcho& echo, QLineEdit* stars,
                      const StarEchoEnding& ending);

}  // namespace operations
