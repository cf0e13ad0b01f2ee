// A Windows console program for the key store checks under wine: it writes profile entries with
// the platform layer's writer, as the test program and the command-line tool write KeyStock.txt,
// and says how each write ended.
//
//   key_store_writer FILE keys NAME COUNT
//       writes NAME_0 ... NAME_<COUNT-1> in section KEY_MINWEN, one write each, the value of
//       each key its own name repeated; answers "wrote COUNT", or "failed NAME_i: REASON" (exit 1)
//   key_store_writer FILE entry SECTION KEY VALUE
//       one write, "\r" and "\n" in the texts standing for CR and LF; answers "written" or
//       "refused: REASON" (exit 1)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "profile.h"

namespace {

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
            out += text[++i] == 'r' ? '\r' : '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

int WriteKeys(const char* file, const std::string& name, long count) {
    for (long i = 0; i < count; ++i) {
        const std::string key = name + "_" + std::to_string(i);
        const platform::WriteResult result =
            platform::WriteProfileEntry({"KEY_MINWEN", key, key + key}, file);
        if (!result.ok()) {
            std::printf("failed %s: %s\n", key.c_str(), result.Reason().c_str());
            return 1;
        }
    }
    std::printf("wrote %ld\n", count);
    return 0;
}

int WriteEntry(const char* file, const char* section, const char* key, const char* value) {
    const std::string s = Unescape(section), k = Unescape(key), v = Unescape(value);
    const platform::WriteResult result = platform::WriteProfileEntry({s, k, v}, file);
    if (!result.ok()) {
        std::printf("refused: %s\n", result.Reason().c_str());
        return 1;
    }
    std::printf("written\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[2] : "";
    if (argc == 5 && mode == "keys") return WriteKeys(argv[1], argv[3], std::atol(argv[4]));
    if (argc == 6 && mode == "entry") return WriteEntry(argv[1], argv[3], argv[4], argv[5]);
    std::fprintf(stderr,
                 "usage: key_store_writer FILE keys NAME COUNT\n"
                 "       key_store_writer FILE entry SECTION KEY VALUE\n");
    return 2;
}
