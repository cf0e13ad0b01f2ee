#include <iostream>

#include "front_end.h"

int main(int argc, char** argv) {
    padsim::FrontEndOptions options;
    if (const std::optional<int> status =
            padsim::ParseOptions(argc, argv, options, std::cout, std::cerr))
        return *status;
    return padsim::RunFrontEnd(options);
}
