// Why the port could not be opened, as the tool says it after the driver's -1: through the tool
// as a process for the cases this machine can set up, and the error-to-message mapping in
// process for the ones it cannot (permission denied, as root).
#include "open_failure.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "pty_peer.h"

namespace {

using padsim::test::Finished;

class OpenFailure : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumenord-open-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(m_dir + "/locked", std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string m_dir;
};

TEST_F(OpenFailure, EachCauseHasItsOwnMessage) {
    lumenord::test::PtyPeer held;
    const int lockFd = open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(flock(lockFd, LOCK_EX | LOCK_NB), 0);
    std::ofstream(m_dir + "/regular") << "not a device\n";
    std::filesystem::create_directory(m_dir + "/folder");
    std::filesystem::create_directory(m_dir + "/locked");
    std::filesystem::permissions(m_dir + "/locked", std::filesystem::perms::none);
    // Port 3 maps to a device that is not there.
    std::ofstream(m_dir + "/sysconfig.ini") << "[PORTS]\nCOM3=" << m_dir << "/ttyGONE\n";
    const std::string self = "process " + std::to_string(getpid()) + " (";

    const struct {
        const char* name;
        std::vector<std::string> port;
        std::string message;
        bool needsNonRoot = false;
    } rows[] = {
        {"missing path",
         {"--device", m_dir + "/ttyNONE"},
         "cannot open " + m_dir + "/ttyNONE: no such device"},
        {"port mapped to a missing device",
         {"--port", "com3"},
         "cannot open com3 (" + m_dir + "/ttyGONE): no such device"},
        {"regular file",
         {"--device", m_dir + "/regular"},
         "cannot open " + m_dir + "/regular: a regular file, not a terminal"},
        {"directory",
         {"--device", m_dir + "/folder"},
         "cannot open " + m_dir + "/folder: a directory, not a terminal"},
        {"character device that is no terminal",
         {"--device", "/dev/null"},
         "cannot open /dev/null: a character device, not a terminal"},
        {"pty held by this process",
         {"--device", held.SlavePath()},
         "cannot open " + held.SlavePath() + ": busy: held by " + self},
        {"path behind a folder without access",
         {"--device", m_dir + "/locked/tty"},
         "cannot open " + m_dir + "/locked/tty: permission denied; a folder on its path is closed",
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsNonRoot && geteuid() == 0) continue;  // root passes every permission
        std::vector<std::string> argv{LUMENORD_PROGRAM};
        argv.insert(argv.end(), row.port.begin(), row.port.end());
        argv.push_back("version");
        const Finished run = padsim::test::RunToEnd(argv, m_dir);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.out.find("FAIL version: " + row.message), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("(result -1)"), std::string::npos) << run.out;  // the driver's
    }
    close(lockFd);
}

TEST(OpenErrors, MapToTheirMessages) {
    const struct {
        int error;
        const char* message;
    } rows[] = {
        {ENOENT, "no such device"},
        {ENXIO, "no such device"},
        {ENODEV, "no such device"},
        {EBUSY, "busy: another process holds it"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        EXPECT_EQ(cli::DescribeOpenError(row.error, "/dev/ttyS0").value_or("(none)"), row.message);
    }
    EXPECT_FALSE(cli::DescribeOpenError(EIO, "/dev/ttyS0").has_value());
}

// The advice names the device's own group and the user, never a placeholder.
TEST(OpenErrors, PermissionAdviceFitsTheDevice) {
    const auto access = [](bool found, bool groupMayOpen, bool listed, bool has) {
        return cli::DeviceAccess{found, groupMayOpen, listed, has, "ana", "root", "uucp"};
    };
    const struct {
        const char* name;
        cli::DeviceAccess access;
        const char* advice;
    } rows[] = {
        {"group may open it", access(true, true, false, false),
         "permission denied; ana must be in the group uucp (sudo usermod -aG uucp ana, then log "
         "in again)"},
        {"user added to the group since logging in", access(true, true, true, false),
         "permission denied; ana was added to the group uucp after logging in: log in again"},
        {"owner only (0600)", access(true, false, false, false),
         "permission denied; only its owner, root, may open it: give the device a group that may "
         "read and write it (such as dialout) and put ana in that group"},
        {"refused whatever the group", access(true, true, true, true),
         "permission denied, although ana is in its group uucp"},
        {"a closed folder on the path", access(false, false, false, false),
         "permission denied; a folder on its path is closed to ana"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(cli::PermissionAdvice(row.access), row.advice);
    }
}

}  // namespace
