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
//   key_store_writer FILE hold
//       another program that holds FILE open without sharing it: one answer line per request
//       line, "hold MS" (once: "held", or "not-held ERROR"; let go of after MS ms, 0: not by
//       itself), "release" ("released"), "exit"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// How long the end of a hold waits for the thread that was to let go of the file.
constexpr DWORD kTimerExitMs = 10000;

// The handle of the held file; whoever exchanges it for null closes it.
HANDLE volatile g_held = nullptr;

void Release() {
    HANDLE held = static_cast<HANDLE>(InterlockedExchangePointer(&g_held, nullptr));
    if (held != nullptr) CloseHandle(held);
}

// Lets go of the held file after the time given, unless `stop` comes first.
struct TimedRelease {
    DWORD ms = 0;
    HANDLE stop = nullptr;
};

DWORD WINAPI ReleaseLater(void* argument) {
    const auto* release = static_cast<const TimedRelease*>(argument);
    if (WaitForSingleObject(release->stop, release->ms) == WAIT_TIMEOUT) Release();
    return 0;
}

int Hold(const char* file) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    TimedRelease timed{0, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE timer = nullptr;
    char line[256];
    while (timed.stop != nullptr && std::fgets(line, sizeof line, stdin) != nullptr) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (std::strcmp(line, "exit") == 0) break;
        if (std::strcmp(line, "release") == 0) {
            Release();
            std::printf("released\n");
        } else if (std::strncmp(line, "hold ", 5) == 0 && g_held == nullptr && timer == nullptr) {
            HANDLE held = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (held == INVALID_HANDLE_VALUE) {
                std::printf("not-held %lu\n", GetLastError());
                continue;
            }
            g_held = held;
            timed.ms = static_cast<DWORD>(std::strtoul(line + 5, nullptr, 10));
            if (timed.ms > 0) timer = CreateThread(nullptr, 0, ReleaseLater, &timed, 0, nullptr);
            std::printf("held\n");
        } else {
            std::printf("unknown %s\n", line);
        }
    }
    if (timer != nullptr) {
        SetEvent(timed.stop);
        WaitForSingleObject(timer, kTimerExitMs);
        CloseHandle(timer);
    }
    Release();
    if (timed.stop != nullptr) CloseHandle(timed.stop);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[2] : "";
    if (argc == 5 && mode == "keys") return WriteKeys(argv[1], argv[3], std::atol(argv[4]));
    if (argc == 6 && mode == "entry") return WriteEntry(argv[1], argv[3], argv[4], argv[5]);
    if (argc == 3 && mode == "hold") return Hold(argv[1]);
    std::fprintf(stderr,
                 "usage: key_store_writer FILE keys NAME COUNT\n"
                 "       key_store_writer FILE entry SECTION KEY VALUE\n"
                 "       key_store_writer FILE hold\n");
    return 2;
}
