// POSIX termios backend of SerialPort.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

#include "serial_port.h"
#include "serial_port_posix_calls.h"
#include "ticks.h"

// The kernel's termios2, which carries a free baud rate; glibc's headers do not declare it and
// the kernel's own header clashes with <termios.h>.
struct termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

namespace lumenord {
namespace posix {
namespace {

// ioctl() is variadic; the table holds a plain function.
int Ioctl(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }

}  // namespace

SystemCalls& Calls() {
    static SystemCalls calls{&::poll, &::read, &::write, &Ioctl, &::tcflush};
    return calls;
}

}  // namespace posix

namespace {

using posix::Calls;

constexpr tcflag_t kBaudOther = 0010000;  // BOTHER: the rate is in c_ispeed/c_ospeed

struct BaudEntry {
    int rate;
    speed_t speed;  // 0: no termios constant, set through termios2
};

constexpr BaudEntry kBaudRates[] = {
    {300, B300},   {600, B600},     {1200, B1200},     {2400, B2400},
    {4800, B4800}, {9600, B9600},   {19200, B19200},   {38400, B38400},
    {56000, 0},    {57600, B57600}, {115200, B115200},
};

// The table gives each listed rate its speed, in the list's order, so that the two cannot drift.
constexpr bool CoversTheListedRates() {
    if (std::size(kBaudRates) != std::size(kListedBaudRates)) return false;
    for (std::size_t i = 0; i < std::size(kBaudRates); ++i)
        if (kBaudRates[i].rate != kListedBaudRates[i]) return false;
    return true;
}
static_assert(CoversTheListedRates());

speed_t SpeedConstant(int rate) {
    for (const BaudEntry& entry : kBaudRates)
        if (entry.rate == rate) return entry.speed;
    return B9600;
}

void RenewCancelPipeAfterFork();

// The self-pipe behind the cancel: readable while a cancel is raised. Made when the library is
// loaded, so that raising a cancel (from a signal handler, say) never has to make it. A process
// forked from this one gets a pipe of its own, so that a cancel raised or lowered in one never
// reaches the other's waits.
class CancelPipe {
public:
    CancelPipe() {
        Open();
        pthread_atfork(nullptr, nullptr, &RenewCancelPipeAfterFork);
    }
    ~CancelPipe() { Close(); }

    void Renew() {
        Close();
        Open();
    }
    CancelPipe(const CancelPipe&) = delete;
    CancelPipe& operator=(const CancelPipe&) = delete;

    int ReadEnd() const { return m_readEnd; }
    // Only write(): async-signal-safe. A full pipe is readable already.
    void Raise() {
        const int savedErrno = errno;
        if (m_writeEnd >= 0) {
            const char byte = 1;
            const ssize_t ignored = write(m_writeEnd, &byte, 1);
            static_cast<void>(ignored);
        }
        errno = savedErrno;
    }
    void Drain() {
        const int savedErrno = errno;
        char bytes[64];
        while (m_readEnd >= 0 && read(m_readEnd, bytes, sizeof bytes) > 0) {
        }
        errno = savedErrno;
    }

private:
    void Open() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
        m_readEnd = ends[0];
        m_writeEnd = ends[1];
    }
    void Close() {
        const int readEnd = m_readEnd, writeEnd = m_writeEnd;
        m_readEnd = m_writeEnd = -1;
        if (readEnd >= 0) close(readEnd);
        if (writeEnd >= 0) close(writeEnd);
    }

    int m_readEnd = -1;
    int m_writeEnd = -1;
};

CancelPipe g_cancelPipe;

void RenewCancelPipeAfterFork() { g_cancelPipe.Renew(); }

// poll() on the port's descriptor (-1: none) and the cancel pipe, retried on EINTR with what is
// left of `maxMs`.
WaitResult PollOnce(int fd, short events, int maxMs) {
    const std::uint64_t deadline = platform::MonotonicMs() + static_cast<std::uint64_t>(maxMs);
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {g_cancelPipe.ReadEnd(), POLLIN, 0}};
        std::uint64_t now = platform::MonotonicMs();
        int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
        int ready = Calls().poll(p, 2, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return WaitResult::kIdle;
        if (p[1].revents != 0) return WaitResult::kCancelled;
        // A hung-up tty reports POLLHUP for good; what it held can no longer be read.
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::kHangUp;
        return WaitResult::kReady;
    }
}

void MapLineSettings(const LineSettings& settings, termios* t) {
    cfmakeraw(t);
    t->c_cflag |= CLOCAL | CREAD;
    t->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    CharacterFrame frame = CharacterFrameFor(settings);
    t->c_cflag |= frame.dataBits == 7 ? CS7 : CS8;
    if (frame.parity == Parity::kOdd) t->c_cflag |= PARENB | PARODD;
    if (frame.parity == Parity::kEven) t->c_cflag |= PARENB;
    if (frame.stopBits == 2) t->c_cflag |= CSTOPB;
    // A read returns at once with what is queued.
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
    speed_t speed = SpeedConstant(EffectiveBaudRate(settings.baudRate));
    if (speed != 0) {
        cfsetispeed(t, speed);
        cfsetospeed(t, speed);
    }
}

// Rates without a termios constant go through termios2 with a free rate.
bool SetFreeBaudRate(int fd, int rate) {
    termios2 t2{};
    if (Calls().ioctl(fd, TCGETS2, &t2) != 0) return false;
    t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    t2.c_cflag |= kBaudOther;
    t2.c_ispeed = static_cast<speed_t>(rate);
    t2.c_ospeed = static_cast<speed_t>(rate);
    return Calls().ioctl(fd, TCSETS2, &t2) == 0;
}

bool Configure(int fd, const LineSettings& settings) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    MapLineSettings(settings, &t);
    if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
    int rate = EffectiveBaudRate(settings.baudRate);
    return SpeedConstant(rate) != 0 || SetFreeBaudRate(fd, rate);
}

}  // namespace

struct SerialPort::Device {
    int fd;
};

SerialPort::SerialPort(std::unique_ptr<Device> device) : m_device(std::move(device)) {}

std::unique_ptr<SerialPort> SerialPort::Open(const char* device, const LineSettings& settings) {
    if (device == nullptr || device[0] == '\0') return nullptr;
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // flock holds against every other opener, root included; TIOCEXCL keeps out the
    // programs that do not lock (root ignores it).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    Calls().ioctl(fd, TIOCEXCL, nullptr);
    if (!Configure(fd, settings)) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<SerialPort>(new SerialPort(std::make_unique<Device>(Device{fd})));
}

SerialPort::~SerialPort() {
    Calls().ioctl(m_device->fd, TIOCNXCL, nullptr);
    close(m_device->fd);
}

WaitResult SerialPort::WaitForInput(int maxMs) {
    if (m_hungUp) return WaitResult::kHangUp;
    const WaitResult result = PollOnce(m_device->fd, POLLIN, maxMs < 0 ? 0 : maxMs);
    if (result == WaitResult::kHangUp) m_hungUp = true;
    return result;
}

int SerialPort::Read(std::uint8_t* bytes, int max) {
    if (m_hungUp) return 0;
    for (;;) {
        ssize_t n = Calls().read(m_device->fd, bytes, static_cast<std::size_t>(max));
        if (n > 0) return static_cast<int>(n);
        // With VMIN = VTIME = 0 a read of an empty queue gives 0; a gone line shows in the poll.
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (errno == EIO || errno == ENXIO || errno == ENODEV) m_hungUp = true;
        return 0;
    }
}

WriteResult SerialPort::Write(const std::uint8_t* bytes, int length, int* written) {
    *written = 0;
    if (m_hungUp) return WriteResult::kFailed;
    for (;;) {
        ssize_t n = Calls().write(m_device->fd, bytes, static_cast<std::size_t>(length));
        if (n > 0) {
            *written = static_cast<int>(n);
            return WriteResult::kWritten;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return WriteResult::kFull;
        if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) m_hungUp = true;
        return WriteResult::kFailed;
    }
}

WaitResult SerialPort::WaitForOutput(int maxMs) {
    if (m_hungUp) return WaitResult::kHangUp;
    const WaitResult result = PollOnce(m_device->fd, POLLOUT, maxMs < 0 ? 0 : maxMs);
    if (result == WaitResult::kHangUp) m_hungUp = true;
    return result;
}

void SerialPort::Pause(int ms) { PollOnce(-1, 0, ms); }

void SerialPort::PurgeOutput() { Calls().tcflush(m_device->fd, TCOFLUSH); }

void SerialPort::PurgeInputAndOutput() { Calls().tcflush(m_device->fd, TCIOFLUSH); }

void RaiseCancelWake() { g_cancelPipe.Raise(); }

void LowerCancelWake() { g_cancelPipe.Drain(); }

}  // namespace lumenord
