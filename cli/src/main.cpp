#include <iostream>

#include "pad_input.h"
#include "tool.h"

int main(int argc, char** argv) {
    cli::CatchInterrupt();
    return cli::RunTool(argc, argv, std::cout, std::cerr);
}
