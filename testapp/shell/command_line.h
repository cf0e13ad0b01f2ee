// The program's own command-line options, --help and --version: answered before any window
// exists, so they work without a display (the manual page is made from them).
#pragma once

namespace shell {

// True when the arguments ask for the help or the version; every other argument (Qt's own,
// such as -platform) is left to QApplication.
bool AsksForHelpOrVersion(int argc, char** argv);

// Prints the help or the version on standard output and returns the exit code (2 with a message
// on standard error when an argument beside it is not one of the program's).
int AnswerHelpOrVersion(int argc, char** argv);

}  // namespace shell
