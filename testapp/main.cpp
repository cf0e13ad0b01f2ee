#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "command_line.h"
#include "main_window.h"

int main(int argc, char* argv[]) {
    if (shell::AsksForHelpOrVersion(argc, argv)) return shell::AnswerHelpOrVersion(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tallowbench_english");
    shell::TfmTestQm731 window;
    window.show();
    // For the start-up benchmark: report once the window has been shown, then leave.
    if (std::getenv("TALLOWBENCH_EXIT_WHEN_SHOWN")) {
        QTimer::singleShot(0, &app, [&app] {
            std::puts("shown");
            std::fflush(stdout);
            app.quit();
        });
    }
    app.exec();
    return 0;
}
