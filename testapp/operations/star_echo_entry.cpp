#include "star_echo_entry.h"

#include <QLineEdit>

#include "shell.h"

namespace operations {

void RunStarEchoEntry(shell::Shell& shell, StarEcho& echo, QLineEdit* stars,
                      const StarEchoEnding& ending) {
    using Step = shell::Shell::KeyStep;
    shell.SetClosePortEnabled(false);
    const bool ended = shell.PollKeysWhileActive([&](unsigned char byte) {
        const StarEcho::Step step = echo.Take(byte);
        if (step.show) stars->setText(echo.Stars());
        switch (step.end) {
            case StarEcho::End::kNone:
                return Step::kMore;
            case StarEcho::End::kCancelled:
                shell.ShowStatus("user has cancelled  the password input");
                break;
            case StarEcho::End::kFinished:
                shell.ShowStatus(ending.finishedText(byte));
                break;
            case StarEcho::End::kTimedOut:
                shell.ShowStatus("user inputting the password time out");
                break;
        }
        if (ending.ended) ending.ended(step.end);
        shell.SetClosePortEnabled(true);
        return Step::kDone;
    });
    // Ended by another operation: that operation restores the buttons, except that a cleared
    // keyPollActive gives the port's close back as the loop leaves. Without a read entry there
    // was no loop to wait for.
    if (!ended && (!shell.KeyPollActive() || shell.Entries().PinPad_ReadOneByte == nullptr)) {
        shell.SetClosePortEnabled(true);
    }
}

}  // namespace operations
