#include <cstdio>

#include "front_end.h"

int main(int argc, char** argv) {
    std::string message;
    auto options = padsim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), message);
    if (!options) {
        const bool information = padsim::IsInformation(message);
        std::fputs(message.c_str(), information ? stdout : stderr);
        return information ? 0 : 2;
    }
    return padsim::RunFrontEnd(*options);
}
