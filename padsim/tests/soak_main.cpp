// Soak: many mixed commands through the real driver against the simulated pad in one process.
// Reports errors, open file descriptors and resident memory at the start and at the end; fails
// (exit 1) on any error, on a descriptor more at the end, or on resident memory that grew by
// more than the allowance. Usage: soak_run [COMMANDS] [RSS_ALLOWANCE_KB]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "padsim/pty_pad.h"
#include "pinpad.h"
#include "reference_crypto.h"

namespace {

const std::string kImk = "0123456789ABCDEFFEDCBA9876543210";
const std::string kWorking = "1C587F1C13924FEF4A5B3D2C1F0E8F9D";

int OpenDescriptors() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) (void)entry, ++n;
    return n;
}

long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Command {
    const char* name;
    std::function<bool()> run;  // true when the result is the expected one
};

}  // namespace

int main(int argc, char** argv) {
    const long total = argc > 1 ? std::atol(argv[1]) : 2000;
    const long allowanceKb = argc > 2 ? std::atol(argv[2]) : 2048;
    char dir[] = "/tmp/soak-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) return 2;
    int status = 1;
    {
        padsim::PtyPad pad{padsim::PadOptions{}};
        std::ofstream ini("sysconfig.ini");
        ini << "[SYSTEM]\nTIMEOUTLOGDIR=" << dir << "\n[PORTS]\nCOM1=" << pad.DevicePath() << "\n";
        ini.close();
        if (PinPad_EnablePort("com1", 9600, "0", "8", "1") != 0) return 2;
        char code[9];
        PinPad_DownloadKey(("0002" + kImk).c_str(), 36, code, 0);
        const std::string record =
            "00406"
            "2" +
            padsim::test::RefEncrypt(kImk, kWorking) + padsim::test::RefVerifyCode(kWorking);
        if (PinPad_DownloadEncryptKey(record.c_str(), static_cast<unsigned>(record.size()), code) !=
            0)
            return 2;
        const std::string cipher = padsim::test::RefEncrypt(kWorking, "0123456789ABCDEF");
        static char big[4096], area[256], small[64];
        const std::vector<Command> commands = {
            {"SetControlCode", [] { return PinPad_SetControlCode("032", 3) == 0; }},
            {"GetCustInfo", [] { return PinPad_GetCustInfo(area) == 0; }},
            {"SetCustInfo", [] { return PinPad_SetCustInfo("soak", 4) == 0; }},
            {"EncryptData",
             [&] {
                 return PinPad_EncryptData("4010123456789ABCDEF", 19, big) == 0 && big == cipher;
             }},
            {"GetChallenge", [] { return PinPad_GetChallenge(small) == 0; }},
            {"DispInfoLcd", [] { return PinPad_DispInfoLcd("0soak", 5) == 0; }},
            {"IC_Control", [] { return PinPad_IC_Control("1881", big) == 0; }},
            {"TriUntriDes",
             [&] {
                 PinPad_TriUntriDes("0123456789ABCDEF", kWorking.c_str(), small, 0);
                 return small == cipher;
             }},
        };
        long errors = 0;
        auto run = [&](long n) {
            for (long i = 0; i < n; ++i) {
                const Command& c = commands[static_cast<std::size_t>(i) % commands.size()];
                if (!c.run()) {
                    if (errors < 10) std::fprintf(stderr, "error: %s (command %ld)\n", c.name, i);
                    ++errors;
                }
            }
        };
        run(static_cast<long>(commands.size()) * 8);  // warm-up: first-use allocations
        const int fdsStart = OpenDescriptors();
        const long rssStart = ResidentKb();
        const auto start = std::chrono::steady_clock::now();
        run(total);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const int fdsEnd = OpenDescriptors();
        const long rssEnd = ResidentKb();
        PinPad_DisablePort();
        std::printf("soak: %ld commands in %.1f s (%.0f/s), errors %ld\n", total, seconds,
                    total / seconds, errors);
        std::printf("soak: file descriptors %d -> %d, resident memory %ld kB -> %ld kB (%+ld kB)\n",
                    fdsStart, fdsEnd, rssStart, rssEnd, rssEnd - rssStart);
        status = errors == 0 && fdsEnd <= fdsStart && rssEnd - rssStart <= allowanceKb ? 0 : 1;
    }
    std::filesystem::remove_all(dir);
    return status;
}
