#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#ifndef LUMENORD_PROGRAM_VERSION
#error "the build passes the project's version as LUMENORD_PROGRAM_VERSION"
#endif

namespace shell {
namespace {

const char kDescription[] =
    "The operator's test program for the encrypting PIN pad: every function of the driver "
    "library on eight pages (communication, version, keypad, key management, PIN and MAC, "
    "data, clear-text keypad and display, IC card), with a frame monitor.\n"
    "\n"
    "At start it loads the driver libLumenord.so.1 (libLumenord.so in a build tree) from its "
    "own folder, else through the system's library search; the environment variable "
    "LUMENORD_LIBRARY names another file instead. Port comN opens the device named by key COMN "
    "of section [PORTS] in ./sysconfig.ini, else /dev/ttyS(N-1). The key store is ./KeyStock.txt.\n"
    "\n"
    "Qt's own options (for instance -platform offscreen) are accepted as well.";

}  // namespace

bool AsksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0) return true;
    }
    return false;
}

int AnswerHelpOrVersion(int argc, char** argv) {
    // A core application needs no display; its name and version fill the texts below.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Tallowbench_english");
    QCoreApplication::setApplicationVersion(LUMENORD_PROGRAM_VERSION);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "Tallowbench_english: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    // Qt's own options are listed by Qt, which leaves at once.
    if (parser.isSet(QStringLiteral("help-all"))) parser.process(app);
    if (parser.isSet(version) && !parser.isSet(help)) {
        std::printf("Tallowbench_english %s\n", LUMENORD_PROGRAM_VERSION);
        return 0;
    }
    std::fputs(qPrintable(parser.helpText()), stdout);
    return 0;
}

}  // namespace shell
