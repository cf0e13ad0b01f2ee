#include <QApplication>

#include "main_window.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tallowbench_english");
    shell::TfmTestQm731 window;
    window.show();
    app.exec();
    return 0;
}
