// Prints the test program's clear-text keypad figures as rows of the benchmark table
// (scripts/bench prints them after lumenord_bench's table).
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <filesystem>

#include "cleartext_echo_bench.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("tallowbench-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::current_path(dir);
    std::vector<bench::Figure> figures;
    {
        bench::Responder pad;
        figures = bench::ClearTextKeypadFigures(pad);
    }
    for (const bench::Figure& row : figures) {
        std::printf("| %s | %s | %s | %s |\n", row.figure.c_str(), row.measured.c_str(),
                    row.target.c_str(), row.met ? "yes" : "NO");
    }
    fs::current_path("/");
    fs::remove_all(dir);
    return 0;
}
