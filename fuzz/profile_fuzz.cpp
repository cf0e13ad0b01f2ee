// Reads an arbitrary file as a private profile (the settings file and the key store), then
// writes a key into it and reads it back: whatever the file holds, nothing is read or written
// past a buffer, and the written value comes back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "profile.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char dir[] = "/tmp/lumenord-profile-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    // The key store's folder goes with the process.
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    });
    g_path = std::string(dir) + "/KeyStock.txt";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    const char* path = g_path.c_str();
    // Names taken from the input too, so that the matching meets odd names.
    std::string section = size > 2 ? std::string(reinterpret_cast<const char*>(data) + 1,
                                                 std::min<std::size_t>(data[0] % 8, size - 1))
                                   : "KEY";
    for (const char* s : {"PORTS", "SYSTEM", "KEY", section.c_str()}) {
        char small[8], large[300];
        platform::GetPrivateProfileString(s, "COM1", "", small, sizeof small, path);
        platform::GetPrivateProfileString(s, "DEBUG", "none", large, sizeof large, path);
        platform::GetPrivateProfileInt(s, "TIMEOUT", 7, path);
        platform::GetPrivateProfileString(s, "", "", small, 1, path);
    }
    // A write keeps the rest and its value reads back. Each write flushes the file to disk, so
    // only one input in eight writes.
    if (size == 0 || data[0] % 8 != 0) return 0;
    if (!platform::WritePrivateProfileString("FUZZ", "K1", "0123456789ABCDEF", path)) std::abort();
    char back[32];
    platform::GetPrivateProfileString("FUZZ", "K1", "", back, sizeof back, path);
    if (std::strcmp(back, "0123456789ABCDEF") != 0) {
        // Only a file whose earlier [FUZZ] section already holds K1 (matched without regard to
        // case) could read back otherwise; the write replaces the first one, so it must match.
        std::fprintf(stderr, "written value reads back as '%s'\n", back);
        std::abort();
    }
    return 0;
}
