#include "pad_port.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "file_io.h"
#include "pinpad.h"
#include "profile.h"
#include "profile_text.h"

namespace cli {
namespace {

// Writes `content` into a new file at `path`. The copy lives only while the port opens, in a
// folder of this process's own, so it is not flushed to disk: that would cost more than the open.
bool WriteNewFile(const char* path, const std::string& content) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && written == content.size();
}

constexpr std::string_view kFolderPrefix = "lumenord-";

// The process that made a private folder "lumenord-PID-XXXXXX", or 0 when `name` is none.
pid_t MakerOf(const std::string& name) {
    if (name.compare(0, kFolderPrefix.size(), kFolderPrefix) != 0) return 0;
    const std::string rest = name.substr(kFolderPrefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 9 || rest.size() != dash + 7) return 0;
    if (rest.find_first_not_of("0123456789") != dash) return 0;
    return static_cast<pid_t>(std::stol(rest.substr(0, dash)));
}

// Removes the private folders that this user's tools left when they were killed mid-open (a
// kill leaves no time to remove them): those whose process is gone. Another user's folders,
// and anything that is not a folder, are left alone.
void RemoveLeftFolders(const std::filesystem::path& temp) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(temp, error), end; !error && entry != end;
         entry.increment(error)) {
        const pid_t maker = MakerOf(entry->path().filename().string());
        struct stat info {};
        if (maker <= 0 || lstat(entry->path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != geteuid())
            continue;
        if (kill(maker, 0) == 0 || errno != ESRCH) continue;  // its maker still runs
        std::error_code ignored;
        std::filesystem::remove_all(entry->path(), ignored);
    }
}

// A folder of its own with a copy of ./sysconfig.ini in which COM1 names the device, removed
// again when the open is done. The driver reads the port mapping and the other settings of an
// open while it opens the port, so they come from the copy; the trace and the time-out log,
// read at other times, from the caller's own folder. Its name carries the process's number, so
// that the next tool removes it when a kill left it behind.
class PrivateSettingsFolder {
public:
    explicit PrivateSettingsFolder(const std::string& devicePath) {
        std::error_code error;
        const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
        if (error) return;
        RemoveLeftFolders(temp);
        std::string pattern =
            (temp / (std::string(kFolderPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data())) return;
        m_path = pattern;
        // Settings the driver could not read whole are not copied: the open then fails, as the
        // driver's own open fails on them.
        const std::optional<std::string> settings =
            platform::ReadRegularFile(kSettingsFile, platform::kMaxProfileFileSize);
        const platform::ProfileEntry mapping{"PORTS", "COM1", devicePath};
        if (!settings || !platform::CheckProfileEntry(mapping).ok()) return;
        m_ready = WriteNewFile((m_path / kSettingsFile).c_str(),
                               platform::SetProfileEntries(*settings, {mapping}));
    }
    ~PrivateSettingsFolder() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    bool ready() const { return m_ready; }
    const std::filesystem::path& path() const { return m_path; }

private:
    static constexpr const char* kSettingsFile = "sysconfig.ini";
    std::filesystem::path m_path;
    bool m_ready = false;
};

// Runs `open` with the current directory changed to `folder` and changes back afterwards, so
// that the trace and time-out log keep the settings of the caller's own directory.
template <typename Open>
int InFolder(const std::filesystem::path& folder, Open open) {
    const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0) return PINPAD_ERR_PORT;
    int result = PINPAD_ERR_PORT;
    if (chdir(folder.c_str()) == 0) {
        result = open();
        if (fchdir(home) != 0) result = PINPAD_ERR_PORT;
    }
    close(home);
    return result;
}

}  // namespace

PadPort::~PadPort() { Close(); }

int PadPort::EnsureOpen() {
    if (m_open) return 0;
    const int result =
        m_target.devicePath.empty() ? OpenNamed(m_target.portName.c_str()) : OpenDevice();
    if (result == 0) {
        m_open = true;
    } else {
        PinPad_DisablePort();  // a failed open leaves the port flag set; clear it
    }
    return result;
}

int PadPort::Reopen(int baudRate) {
    Close();
    m_target.baudRate = baudRate;
    return EnsureOpen();
}

void PadPort::Close() {
    if (!m_open) return;
    PinPad_DisablePort();
    m_open = false;
}

std::string PadPort::Describe() const {
    return m_target.devicePath.empty() ? m_target.portName : m_target.devicePath;
}

int PadPort::OpenNamed(const char* portName) {
    // The codes are numeric: no parity, eight data bits, one stop bit.
    const char none = 0, eight = 8, one = 1;
    return PinPad_EnablePort(portName, m_target.baudRate, &none, &eight, &one);
}

int PadPort::OpenDevice() {
    // The driver opens the device from the private folder: a relative path is taken from the
    // caller's folder first. Made absolute only, never resolved: the driver follows whatever
    // links the path holds itself.
    std::error_code error;
    const std::filesystem::path device = std::filesystem::absolute(m_target.devicePath, error);
    if (error) return PINPAD_ERR_PORT;
    PrivateSettingsFolder folder(device.string());
    if (!folder.ready()) return PINPAD_ERR_PORT;
    return InFolder(folder.path(), [this] { return OpenNamed("com1"); });
}

}  // namespace cli
