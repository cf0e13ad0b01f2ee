#include <cstdio>

#include "front_end.h"

int main(int argc, char** argv) {
    std::string message;
    auto options = padsim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), message);
    if (!options) {
        std::fputs(message.c_str(), message.rfind("usage", 0) == 0 ? stdout : stderr);
        return message.rfind("usage", 0) == 0 ? 0 : 2;
    }
    return padsim::RunFrontEnd(*options);
}
