#include <iostream>

#include "pad_input.h"
#include "tool.h"

int main(int argc, char** argv) {
    cli::CatchInterrupt();
    // Each pad of a run of several pads runs in a process of this same executable.
    return cli::RunTool(argc, argv, std::cout, std::cerr, cli::kThisProgram);
}
