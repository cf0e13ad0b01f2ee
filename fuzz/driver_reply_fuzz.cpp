// Feeds arbitrary reply bytes to every device export through the serial port's system call
// table: the port is a real pseudo-terminal, but polls, reads, writes and flushes are served
// here. After the reply bytes the line either keeps sending ETX bytes (so that every read ends
// without waiting out a time-out) or hangs up. Each output buffer has exactly its documented
// size, so AddressSanitizer sees any byte written past it.
//
// Input: byte 0 picks the export (low 5 bits) and the line's end (bit 7: hang up); the rest is
// what the pad "sends" after the request.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pinpad.h"
#include "serial_port_posix_calls.h"

namespace {

struct Line {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::size_t served = 0;
    bool armed = false;    // the request has been written: the reply may come
    bool hangUp = false;   // after the reply bytes the line is gone (else ETX bytes follow)
    std::size_t fill = 0;  // ETX bytes sent after the reply, bounded for safety
};
Line g_line;
lumenord::posix::SystemCalls g_real;
std::string g_slavePath;

bool Exhausted() { return g_line.served >= g_line.size; }

int FakePoll(pollfd* fds, nfds_t count, int timeoutMs) {
    // The port comes first; what follows (the driver's cancel pipe) never becomes ready here.
    for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
    if (count == 0 || fds[0].fd < 0) return 0;  // a plain pause: time passes at once
    if (fds[0].events & POLLOUT) {
        fds[0].revents = POLLOUT;
        return 1;
    }
    if (!g_line.armed) return 0;
    if (Exhausted() && g_line.hangUp) {
        fds[0].revents = POLLHUP;
        return 1;
    }
    (void)timeoutMs;
    fds[0].revents = POLLIN;
    return 1;
}

ssize_t FakeRead(int, void* bytes, size_t count) {
    if (!g_line.armed || count == 0) return 0;
    auto* out = static_cast<std::uint8_t*>(bytes);
    if (!Exhausted()) {
        std::size_t n = std::min(count, g_line.size - g_line.served);
        // Serve in uneven pieces, as a line does.
        if (n > 7) n = 1 + (g_line.served * 131 + n) % n;
        std::memcpy(out, g_line.bytes + g_line.served, n);
        g_line.served += n;
        return static_cast<ssize_t>(n);
    }
    if (g_line.hangUp) {
        errno = EIO;
        return -1;
    }
    if (g_line.fill > 1u << 16) return 0;  // the channel should long have stopped reading
    std::size_t n = std::min<std::size_t>(count, 64);
    std::memset(out, 0x03, n);
    g_line.fill += n;
    return static_cast<ssize_t>(n);
}

ssize_t FakeWrite(int, const void*, size_t count) {
    g_line.armed = true;
    return static_cast<ssize_t>(count);
}

int FakeFlush(int, int) { return 0; }

void UseFakes(bool on) {
    auto& calls = lumenord::posix::Calls();
    if (on) {
        calls.poll = &FakePoll;
        calls.read = &FakeRead;
        calls.write = &FakeWrite;
        calls.tcflush = &FakeFlush;
    } else {
        calls = g_real;
    }
}

void OpenPort() {
    UseFakes(false);
    PinPad_DisablePort();
    if (PinPad_EnablePort("com1", 9600, "0", "8", "1") != 0) {
        std::fprintf(stderr, "cannot open the pseudo-terminal %s\n", g_slavePath.c_str());
        std::abort();
    }
    UseFakes(true);
}

// A heap buffer of exactly `size` bytes.
struct Buffer {
    explicit Buffer(std::size_t size) : bytes(size, 'x') {}
    char* data() { return bytes.data(); }
    std::vector<char> bytes;
};

void CallExport(unsigned which) {
    switch (which % 17) {
        case 0: {
            Buffer out(256);
            PinPad_GetCustInfo(out.data());
            break;
        }
        case 1:
            PinPad_SetCustInfo("INFO", 4);
            break;
        case 2:
            PinPad_SetKeyboardValue("0123456789", 10);
            break;
        case 3:
            PinPad_SetControlCode("032", 3);
            break;
        case 4: {  // no request: the bytes come on their own
            g_line.armed = true;
            unsigned char b = 0;
            PinPad_ReadOneByte(&b);
            break;
        }
        case 5: {
            Buffer v(9);
            PinPad_DownloadKey("0101234567890ABCDEF", 19, v.data(), 0);
            break;
        }
        case 6: {
            Buffer v(9);
            PinPad_DownloadEncryptKey("0101234567890ABCDEF", 19, v.data());
            break;
        }
        case 7: {
            Buffer out(33);
            PinPad_InitAuthorization("0123456789ABCDEF", 16, out.data());
            break;
        }
        case 8: {
            Buffer out(33);
            PinPad_GetChallenge(out.data());
            break;
        }
        case 9: {
            Buffer out(33);
            PinPad_BidirectionalAuthorization("0123456789ABCDEF", 16, "01", "0123456789ABCDEF",
                                              out.data());
            break;
        }
        case 10:
            PinPad_EnablePin("0612", 4);
            break;
        case 11: {
            Buffer out(256);
            PinPad_GetPinValue("", 0, 1, out.data());
            break;
        }
        case 12: {
            Buffer out(17);
            PinPad_MakeMac("01012345678", 11, out.data());
            break;
        }
        case 13: {
            Buffer out(4096);
            PinPad_EncryptData("0101234567890ABCDEF", 19, out.data());
            break;
        }
        case 14: {
            Buffer out(2048);
            PinPad_IC_Control("1", out.data());
            break;
        }
        case 15: {
            Buffer out(2048);
            PinPad_IC_Access("00A4040000", out.data());
            break;
        }
        default:
            PinPad_DispInfoLcd("0HELLO", 6);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char dir[] = "/tmp/lumenord-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
    // The working folder (sysconfig.ini, time-out logs) goes with the process.
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::current_path("/", ignored);
        std::filesystem::remove_all(dir, ignored);
    });
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) std::abort();
    close(slave);  // the master stays open for the whole run; the driver opens the slave
    g_slavePath = name;
    FILE* ini = std::fopen("sysconfig.ini", "w");
    if (ini == nullptr) std::abort();
    std::fprintf(ini, "[PORTS]\nCOM1=%s\n[SYSTEM]\nTIMEOUTLOGDIR=%s\n", name, dir);
    std::fclose(ini);
    g_real = lumenord::posix::Calls();
    OpenPort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    g_line = Line{};
    g_line.bytes = data + 1;
    g_line.size = size - 1;
    g_line.hangUp = (data[0] & 0x80) != 0;
    CallExport(data[0] & 0x1F);
    // A hung-up line stays gone for the port; the next input starts on a fresh one.
    if (g_line.hangUp) OpenPort();
    return 0;
}
