#include "profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "file_io.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

// Starts `work` in a child process (so it can drop privileges or be one of several writers);
// the child ends itself after 60 s should it ever hang.
pid_t StartChild(const std::function<int()>& work) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        _exit(work());
    }
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int InChild(const std::function<int()>& work) { return ExitStatus(StartChild(work)); }

// Runs `work` as user nobody when the test runs as root, else as the test's own user.
int AsUnprivilegedUser(const std::function<bool()>& work) {
    return InChild([&] {
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) return 2;
        return work() ? 1 : 0;
    });
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/profile_testXXXXXX";
        dir_ = mkdtemp(templ);
        path_ = (dir_ / "settings.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string ReadFile() {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Read(const char* section, const char* key, std::size_t size = 100) {
        std::string buffer(size, '#');
        std::size_t n = platform::GetPrivateProfileString(section, key, "dflt", buffer.data(), size,
                                                          path_.c_str());
        EXPECT_EQ(buffer[n], '\0');
        return buffer.substr(0, n);
    }

    // What is at the path: its type and, for a regular file, its content.
    std::string Snapshot() {
        struct stat st {};
        if (lstat(path_.c_str(), &st) != 0) return "missing";
        return std::to_string(st.st_mode & S_IFMT) + ":" + (S_ISREG(st.st_mode) ? ReadFile() : "");
    }

    std::string ReadKey(const char* section, const char* key) {
        char buffer[64];
        platform::GetPrivateProfileString(section, key, "dflt", buffer, sizeof buffer,
                                          path_.c_str());
        return buffer;
    }
    bool Write(const char* section, const char* key, const char* value) {
        return platform::WritePrivateProfileString(section, key, value, path_.c_str());
    }

    fs::path dir_;
    std::string path_;
    int held_ = -1;  // a descriptor of the lock file that another writer holds
};

TEST_F(ProfileTest, ReadsMatchNamesWithoutCaseAndTrimBlanks) {
    WriteFile(
        "; comment\r\n[System]\r\n  Debug = 1 \r\nname=  two words  "
        "\r\n[PORTS]\r\nCOM1=/dev/pts/3\r\n");
    struct Row {
        const char* section;
        const char* key;
        const char* expected;
    } rows[] = {
        {"SYSTEM", "DEBUG", "1"},          {"system", "debug", "1"},
        {" SYSTEM ", "Name", "two words"}, {"ports", "com1", "/dev/pts/3"},
        {"PORTS", "COM2", "dflt"},         {"MISSING", "DEBUG", "dflt"},
        {"SYSTEM", "COM1", "dflt"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Read(row.section, row.key), row.expected) << row.section << "/" << row.key;
    }
    EXPECT_EQ(platform::GetPrivateProfileInt("SYSTEM", "DEBUG", 0, path_.c_str()), 1);
}

TEST_F(ProfileTest, IntegerReadTakesLeadingDigitsAndDefaultsOnlyWhenMissing) {
    WriteFile("[S]\na=42xyz\nb=abc\nc=-7\nd=\n");
    const char* p = path_.c_str();
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "a", 30, p), 42);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "b", 30, p), 0);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "c", 30, p), -7);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "d", 30, p), 0);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "e", 30, p), 30);
    EXPECT_EQ(platform::GetPrivateProfileInt("S", "a", 30, (dir_ / "none.ini").c_str()), 30);
}

TEST_F(ProfileTest, ReadIsBoundedByTheCallersBuffer) {
    WriteFile("[K]\nv=0123456789ABCDEF\n");
    EXPECT_EQ(Read("K", "v", 9), "01234567");
    EXPECT_EQ(Read("K", "v", 1), "");
    EXPECT_EQ(platform::GetPrivateProfileString("K", "v", "", nullptr, 10, path_.c_str()), 0u);
}

TEST_F(ProfileTest, FirstWriteCreatesAnOwnerOnlyFile) {
    ASSERT_TRUE(platform::WritePrivateProfileString("INIT_AUTH", "AUTH", "ABCD", path_.c_str()));
    EXPECT_EQ(ReadFile(), "[INIT_AUTH]\nAUTH=ABCD\n");
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ProfileTest, WritesKeepOtherLinesAndPlaceNewKeysAndSections) {
    WriteFile("; keep me\n[A]\nx=1\n\n[B]\ny=2\n");
    const char* p = path_.c_str();
    ASSERT_TRUE(platform::WritePrivateProfileString("a", "X", "9", p));  // replaces, keeps the name
    ASSERT_TRUE(
        platform::WritePrivateProfileString("A", "z", " 3 ", p));       // new key ends its section
    ASSERT_TRUE(platform::WritePrivateProfileString("C", "w", "", p));  // new section at the end
    EXPECT_EQ(ReadFile(), "; keep me\n[A]\nX=9\nz=3\n\n[B]\ny=2\n[C]\nw=\n");
    EXPECT_EQ(Read("C", "w"), "");
    // A write of the value the file holds already leaves the file itself in place; a change
    // replaces it.
    const auto inode = [this] {
        struct stat st {};
        return stat(path_.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const ino_t before = inode();
    ASSERT_TRUE(platform::WritePrivateProfileString("A", "z", "3", p));
    EXPECT_EQ(inode(), before);
    ASSERT_TRUE(platform::WritePrivateProfileString("A", "z", "4", p));
    EXPECT_NE(inode(), before);
}

TEST_F(ProfileTest, WriteKeepsCrLfLineEndsAndTheFileMode) {
    WriteFile("[A]\r\nx=1\r\n");
    chmod(path_.c_str(), 0644);
    ASSERT_TRUE(platform::WritePrivateProfileString("A", "y", "2", path_.c_str()));
    EXPECT_EQ(ReadFile(), "[A]\r\nx=1\r\ny=2\r\n");
    struct stat st {};
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // No temporary file is left beside it.
    for (auto& e : fs::directory_iterator(dir_)) {
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    }
}

TEST_F(ProfileTest, WriteFailsWhereTheFolderIsMissing) {
    std::string missing = (dir_ / "no" / "file.ini").string();
    EXPECT_FALSE(platform::WritePrivateProfileString("A", "b", "c", missing.c_str()));
    EXPECT_FALSE(platform::WritePrivateProfileString("A", "", "c", path_.c_str()));
}

TEST_F(ProfileTest, ByteOrderMarkIsSkippedAndQuotesAroundAValueDropped) {
    struct Row {
        const char* name;
        std::string content;
        const char* key;
        const char* expected;
    } rows[] = {
        {"mark before the first section", "\xEF\xBB\xBF[PORTS]\r\nCOM1=/dev/ttyUSB0\r\n", "COM1",
         "/dev/ttyUSB0"},
        {"quoted value keeps its blanks", "[PORTS]\nCOM1=\"  /dev/pts/2 \" \n", "COM1",
         "  /dev/pts/2 "},
        {"one pair only", "[PORTS]\nCOM1=\"\"x\"\"\n", "COM1", "\"x\""},
        {"empty quotes", "[PORTS]\nCOM1=\"\"\n", "COM1", ""},
        {"a lone quote stays", "[PORTS]\nCOM1=\"\n", "COM1", "\""},
        {"quote on one side stays", "[PORTS]\nCOM1=\"ab\n", "COM1", "\"ab"},
        {"mark elsewhere is text",
         "[PORTS]\n\xEF\xBB\xBF"
         "COM1=x\n",
         "COM1", "dflt"},
    };
    for (const Row& row : rows) {
        WriteFile(row.content);
        EXPECT_EQ(ReadKey("PORTS", row.key), row.expected) << row.name;
    }
    WriteFile("\xEF\xBB\xBF[SYSTEM]\nDEBUG=\"1\"\n");
    EXPECT_EQ(platform::GetPrivateProfileInt("SYSTEM", "DEBUG", 0, path_.c_str()), 1);
    // A write finds the first section too and keeps the mark.
    ASSERT_TRUE(Write("SYSTEM", "TIMEOUTLOGDIR", "/tmp"));
    EXPECT_EQ(ReadFile(), "\xEF\xBB\xBF[SYSTEM]\nDEBUG=\"1\"\nTIMEOUTLOGDIR=/tmp\n");
}

// A FIFO with no writer blocks an ordinary open for reading until a writer comes; anything
// at the path that is not a regular file must read as empty at once and never be replaced.
TEST_F(ProfileTest, NonRegularFilesReadAsEmptyWithoutBlockingAndAreNotReplaced) {
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Row {
        const char* name;
        std::function<void()> make;
        mode_t type;
    } rows[] = {
        {"FIFO", [&] { ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0); }, S_IFIFO},
        {"link to a FIFO", [&] { fs::create_symlink(fifo, path_); }, S_IFIFO},
        {"directory", [&] { fs::create_directory(path_); }, S_IFDIR},
        {"link to /dev/zero", [&] { fs::create_symlink("/dev/zero", path_); }, S_IFCHR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(path_);
        row.make();
        // The calls run on a thread that holds copies only, so that one that never gives way
        // can be left behind: the case then fails instead of hanging.
        std::promise<std::tuple<std::string, int, bool>> results;
        auto calls = results.get_future();
        std::thread worker([path = path_, results = std::move(results)]() mutable {
            char text[64];
            platform::GetPrivateProfileString("PORTS", "COM1", "dflt", text, sizeof text,
                                              path.c_str());
            const int number = platform::GetPrivateProfileInt("SYSTEM", "DEBUG", 7, path.c_str());
            const bool written =
                platform::WritePrivateProfileString("PORTS", "COM1", "/dev/ttyUSB0", path.c_str());
            results.set_value(std::make_tuple(std::string(text), number, written));
        });
        constexpr int kReleases = 3;
        bool blocked = false;
        auto wait = std::chrono::seconds(5);
        for (int round = 0; calls.wait_for(wait) != std::future_status::ready; ++round) {
            blocked = true;
            if (round == kReleases) break;
            // Release the blocked call: a writer that opens and closes gives it end of file.
            for (const std::string& f : {path_, fifo})
                close(open(f.c_str(), O_WRONLY | O_NONBLOCK));
            wait = std::chrono::seconds(1);
        }
        EXPECT_FALSE(blocked);
        if (calls.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            worker.detach();
            ADD_FAILURE() << "the calls stayed blocked through " << kReleases << " releases";
            return;
        }
        worker.join();
        const auto [text, number, written] = calls.get();
        EXPECT_EQ(text, "dflt");
        EXPECT_EQ(number, 7);
        EXPECT_FALSE(written);
        struct stat st {};
        ASSERT_EQ(stat(path_.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, row.type);
    }
}

// Whether a write is allowed and what it keeps: the owner's protections stand, a link stays a
// link. "other" is root when the writer is unprivileged and nobody when the writer is root.
TEST_F(ProfileTest, WriteKeepsTheOwnersProtections) {
    struct Row {
        const char* name;
        mode_t mode;
        bool ownedByWriter;
        bool throughLink;
        bool unprivilegedWriter;
        bool written;
    } rows[] = {
        {"read-only file is left alone", 0444, true, false, true, false},
        {"mode kept", 0640, true, false, true, true},
        {"written through a link to its target", 0600, true, true, true, true},
        {"another owner's file cannot keep its owner", 0666, false, false, true, false},
        {"root keeps another owner", 0604, false, false, false, true},
    };
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
    const std::string target = (dir_ / "target.ini").string();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (!root && !row.ownedByWriter) continue;  // needs a file of another user
        for (const std::string& f : {path_, target, target + ".lock", path_ + ".lock"}) {
            unlink(f.c_str());
        }
        const std::string file = row.throughLink ? target : path_;
        std::ofstream(file) << "[A]\nx=1\n";
        if (row.throughLink) fs::create_symlink("target.ini", path_);
        const uid_t writer = root && row.unprivilegedWriter ? kNobody : geteuid();
        const uid_t owner = row.ownedByWriter ? writer : (writer == 0 ? kNobody : 0);
        ASSERT_EQ(chown(file.c_str(), owner, owner), 0);
        ASSERT_EQ(chmod(file.c_str(), row.mode), 0);

        const auto write = [&] { return Write("A", "y", "2"); };
        const int result = row.unprivilegedWriter ? AsUnprivilegedUser(write) : write();
        EXPECT_EQ(result, row.written ? 1 : 0);
        std::ifstream in(file);
        std::stringstream content;
        content << in.rdbuf();
        EXPECT_EQ(content.str(), row.written ? "[A]\nx=1\ny=2\n" : "[A]\nx=1\n");
        struct stat st {};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, row.mode);
        EXPECT_EQ(st.st_uid, owner);
        EXPECT_EQ(st.st_gid, owner);
        ASSERT_EQ(lstat(path_.c_str(), &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), row.throughLink);
    }
}

// A file that holds keys: links are followed only where another user cannot have planted them,
// never to a file that others may read, and the file's own permissions for others are dropped.
// The check made before a run (CheckReplaceable) gives the write's own answer.
TEST_F(ProfileTest, SecretsFollowOnlyTrustedLinksAndStayFromOthers) {
    using platform::WriteError;
    const bool root = geteuid() == 0;
    const uid_t other = root ? kNobody : 0;  // a user other than the writer
    const fs::path target = dir_ / "elsewhere.txt";
    const fs::path shared = dir_ / "shared";
    struct Row {
        const char* name;
        std::function<void()> make;
        WriteError error;
        mode_t modeAfter;    // of the file written or left alone
        bool othersRemoved;  // the write says that it took the permissions of others
        bool needsRoot;      // to make a link or file of another user
    } rows[] = {
        {"own link to own private file", [&] { fs::create_symlink(target, path_); },
         WriteError::kNone, 0600, false, false},
        {"another user's link",
         [&] {
             fs::create_symlink(target, path_);
             lchown(path_.c_str(), other, other);
         },
         WriteError::kUntrustedLink, 0600, false, true},
        {"another user's dangling link",
         [&] {
             fs::remove(target);
             fs::create_symlink(target, path_);
             lchown(path_.c_str(), other, other);
         },
         WriteError::kUntrustedLink, 0, false, true},
        {"own link to another user's file",
         [&] {
             fs::create_symlink(target, path_);
             chown(target.c_str(), other, other);
         },
         WriteError::kUntrustedLink, 0600, false, true},
        {"own link in a shared sticky folder",
         [&] {
             fs::create_directory(shared);
             chmod(shared.c_str(), 01777);
             path_ = (shared / "KeyStock.txt").string();
             fs::create_symlink(target, path_);
         },
         WriteError::kLinkInSharedFolder, 0600, false, false},
        {"own link to a file every user may read",
         [&] {
             fs::create_symlink(target, path_);
             chmod(target.c_str(), 0644);
         },
         WriteError::kReadableByOthers, 0644, false, false},
        {"own file every user may read",
         [&] {
             chmod(target.c_str(), 0604);
             path_ = target;
         },
         WriteError::kNone, 0600, true, false},
        {"own file its group may read",
         [&] {
             chmod(target.c_str(), 0640);
             path_ = target;
         },
         WriteError::kNone, 0640, false, false},
    };
    const std::string original = path_;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsRoot && !root) continue;
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        path_ = original;
        std::ofstream(target) << "[KEY]\nK=1\n";
        chmod(target.c_str(), 0600);
        row.make();
        EXPECT_EQ(platform::CheckReplaceable(path_.c_str(), platform::FileContent::kSecret).error,
                  row.error);
        const platform::WriteResult written = platform::WriteProfileEntries(
            {{"KEY", "K", "2"}}, path_.c_str(), platform::FileContent::kSecret);
        EXPECT_EQ(written.error, row.error) << written.Reason();
        EXPECT_EQ(written.othersAccessRemoved, row.othersRemoved);
        struct stat st {};
        if (row.modeAfter == 0) {
            EXPECT_FALSE(fs::exists(target)) << "a dangling link's target was created";
            continue;
        }
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, row.modeAfter);
        std::ifstream in(target);
        std::stringstream content;
        content << in.rdbuf();
        EXPECT_EQ(content.str(), written.ok() ? "[KEY]\nK=2\n" : "[KEY]\nK=1\n");
    }
    path_ = original;
}

// A writer killed between creating its temporary file and renaming it leaves that file behind;
// the next write removes it, and only it.
TEST_F(ProfileTest, NextWriteRemovesWhatAnInterruptedWriteLeft) {
    struct Row {
        const char* name;
        bool removed;
    } rows[] = {
        {"settings.ini.tmpAb12Cd", true},  {"settings.ini.tmp0000zz", true},
        {"settings.ini.tmp-notes", false}, {"settings.ini.tmpAb12C", false},
        {"other.ini.tmpAb12Cd", false},
    };
    WriteFile("[A]\nx=1\n");
    for (const Row& row : rows) std::ofstream(dir_ / row.name) << "[A]\nx=";
    ASSERT_TRUE(Write("A", "y", "2"));
    for (const Row& row : rows) EXPECT_EQ(!fs::exists(dir_ / row.name), row.removed) << row.name;
    EXPECT_EQ(ReadFile(), "[A]\nx=1\ny=2\n");
}

// Two processes (two windows, or a window and the command-line tool) writing the same file:
// every key of both is there afterwards, and no temporary file is left.
TEST_F(ProfileTest, ConcurrentWritersLoseNothing) {
    constexpr int kKeys = 50;
    const auto writer = [&](char name) {
        return [&, name] {
            for (int i = 0; i < kKeys; ++i) {
                const std::string key = name + std::to_string(i);
                if (!Write("KEYS", key.c_str(), key.c_str())) return 1;
            }
            return 0;
        };
    };
    const pid_t first = StartChild(writer('a'));
    const pid_t second = StartChild(writer('b'));
    EXPECT_EQ(ExitStatus(first), 0);
    EXPECT_EQ(ExitStatus(second), 0);
    for (char name : {'a', 'b'}) {
        for (int i = 0; i < kKeys; ++i) {
            const std::string key = name + std::to_string(i);
            EXPECT_EQ(ReadKey("KEYS", key.c_str()), key);
        }
    }
    for (auto& e : fs::directory_iterator(dir_)) {
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    }
}

// A value or name that would add lines to the file, or forge a section or a key, is refused and
// the file stays byte for byte as it was; a NUL is found wherever it is in the text. Ordinary
// values, brackets and '=' inside a value included, are still written.
TEST_F(ProfileTest, WriteRefusesTextsThatWouldAddOrForgeLines) {
    using namespace std::string_literals;
    struct Row {
        const char* name;
        std::string section, key, value;
        bool written;
    } rows[] = {
        {"LF in the value", "KEY", "K", "AAAA\n[INIT_AUTH]\nAUTH=EVIL", false},
        {"CR LF in the value", "KEY", "K", "AAAA\r\n[INIT_AUTH]\r\nAUTH=EVIL", false},
        {"CR in the value", "KEY", "K", "AAAA\r[INIT_AUTH]\rAUTH=EVIL", false},
        {"NUL ahead of the break", "KEY", "K", "AAAA\0\n[INIT_AUTH]\nAUTH=EVIL"s, false},
        {"NUL alone", "KEY", "K",
         "0123\0"
         "4567"s,
         false},
        {"trailing LF", "KEY", "K", "0123\n", false},
        {"LF in the section", "KEY]\n[INIT_AUTH", "AUTH", "EVIL", false},
        {"bracket ends the section early", "INIT_AUTH]X", "AUTH", "EVIL", false},
        {"bracket opens the section", "[INIT_AUTH", "AUTH", "EVIL", false},
        {"LF in the key", "KEY", "K=1\n[INIT_AUTH]\nAUTH", "EVIL", false},
        {"'=' in the key", "INIT_AUTH", "AUTH=EVIL", "", false},
        {"key that is a section line", "KEY", "[INIT_AUTH]", "", false},
        {"key that is a comment", "KEY", ";K", "1", false},
        {"NUL in the key", "KEY", "K\0X"s, "1", false},
        {"blank key", "KEY", " \t", "1", false},
        {"blank section", " ", "K", "1", false},
        {"key text", "KEY_MINWEN", "05_V", "0123456789ABCDEF", true},
        {"key mask", "KEY_MINWEN", "05_1", "****************", true},
        {"empty value", "KEY_MINWEN", "05_2", "", true},
        {"brackets and '=' inside a value", "KEY", "K", "a=b;[c]", true},
        {"bracket inside a key", "KEY", "a]b", "1", true},
    };
    const std::string before = "[KEY]\nK=1\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(before);
        const platform::WriteResult result =
            platform::WriteProfileEntry({row.section, row.key, row.value}, path_.c_str());
        EXPECT_EQ(result.error,
                  row.written ? platform::WriteError::kNone : platform::WriteError::kBadText);
        EXPECT_EQ(ReadKey("INIT_AUTH", "AUTH"), "dflt");
        if (!row.written) {
            EXPECT_EQ(ReadFile(), before);
            EXPECT_FALSE(result.Reason().empty());
            continue;
        }
        EXPECT_EQ(ReadKey(row.section.c_str(), row.key.c_str()), row.value);
        // The same through the call for NUL-terminated texts.
        WriteFile(before);
        EXPECT_TRUE(Write(row.section.c_str(), row.key.c_str(), (row.value + "x").c_str()));
        EXPECT_EQ(ReadKey(row.section.c_str(), row.key.c_str()), row.value + "x");
    }
}

// A write that cannot be made leaves the file (or whatever is at the path) as it was, leaves no
// temporary file, and says why. Each case writes from a child process, which may drop its
// privileges, limit its file size or see a full file system of its own.
TEST_F(ProfileTest, RefusedWritesSayWhyAndLeaveTheFileAsItWas) {
    using platform::WriteError;
    const bool root = geteuid() == 0;
    const std::string full = (dir_ / "full").string();
    struct Row {
        const char* name;
        std::function<void()> make;     // in the test process
        std::function<bool()> inChild;  // before the write; false: could not be set up
        WriteError error;
        const char* reason;  // a part of the reason text
        bool needsRoot;      // to write as another user (nobody), or to mount a file system
    } rows[] = {
        {"read-only file (no write permission for anyone)",
         [&] { chmod(path_.c_str(), 0444); },
         {},
         WriteError::kReadOnlyFile,
         "the file is read-only",
         false},
        {"another user's file",
         [&] { chmod(path_.c_str(), 0644); },
         {},
         WriteError::kPermission,
         "permission denied",
         true},
        {"new file in another user's folder",
         [&] { unlink(path_.c_str()); },
         {},
         WriteError::kPermission,
         "permission denied",
         true},
        {"directory at the path",
         [&] {
             unlink(path_.c_str());
             fs::create_directory(path_);
         },
         {},
         WriteError::kNotRegularFile,
         "not a regular file",
         false},
        {"FIFO at the path",
         [&] {
             unlink(path_.c_str());
             mkfifo(path_.c_str(), 0600);
         },
         {},
         WriteError::kNotRegularFile,
         "not a regular file",
         false},
        {"store beyond the size limit",
         [&] { WriteFile("[KEY]\nK=1\n" + std::string(1 << 20, '#')); },
         {},
         WriteError::kTooLarge,
         "too large",
         false},
        {"store the write would take past the size limit",
         [&] { WriteFile("[KEY]\nK=1\n;" + std::string((1 << 20) - 12, '#')); },
         {},
         WriteError::kTooLarge,
         "too large",
         false},
        {"lock held by another writer beyond the deadline",
         [&] { ASSERT_EQ(flock(held_, LOCK_EX), 0); },
         {},
         WriteError::kLockTimeout,
         "locked for more than 3 s",
         false},
        {"missing folder",
         [&] { path_ = (dir_ / "none" / "settings.ini").string(); },
         {},
         WriteError::kMissingFolder,
         "folder does not exist",
         false},
        {"loop of symbolic links",
         [&] {
             unlink(path_.c_str());
             fs::create_symlink("settings.ini", path_);
         },
         {},
         WriteError::kLinkLoop,
         "lead nowhere",
         false},
        {"file size limit of the process",
         {},
         [] {
             signal(SIGXFSZ, SIG_IGN);
             const rlimit limit{8, 8};
             return setrlimit(RLIMIT_FSIZE, &limit) == 0;
         },
         WriteError::kTooLarge,
         "too large",
         false},
        {"disk full",
         {},
         [&] {
             // A small file system of the child's own, filled up after the file was made.
             if (unshare(CLONE_NEWNS) != 0 ||
                 mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") != 0)
                 return false;
             std::ofstream(path_) << "[KEY]\nK=1\n";
             std::ofstream filler(full);
             const std::string block(4096, '#');
             while (filler.write(block.data(), static_cast<std::streamsize>(block.size())))
                 filler.flush();
             return true;
         },
         WriteError::kDiskFull,
         "disk is full",
         true},
    };
    const std::string original = path_;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsRoot && !root) continue;
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        path_ = original;
        WriteFile("[KEY]\nK=1\n");
        held_ = open((path_ + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
        if (row.make) row.make();
        const bool asNobody = row.needsRoot && row.error == WriteError::kPermission;
        const int result = InChild([&] {
            if (asNobody && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) return 100;
            if (row.inChild && !row.inChild()) return 101;
            const auto before = Snapshot();
            const platform::WriteResult written =
                platform::WriteProfileEntry({"KEY", "K", std::string(40, '2')}, path_.c_str());
            if (Snapshot() != before) return 102;
            if (written.Reason().find(row.reason) == std::string::npos) return 103;
            for (auto& e : fs::directory_iterator(dir_)) {
                if (e.path().filename().string().find(".tmp") != std::string::npos) return 104;
            }
            return static_cast<int>(written.error);
        });
        close(held_);
        if (result == 101 && row.needsRoot) {
            std::printf("%s: not set up here (no mount namespace)\n", row.name);
            continue;
        }
        EXPECT_EQ(result, static_cast<int>(row.error))
            << "100-104: no privileges to drop, no set-up, file changed, reason, litter";
    }
    path_ = original;
}

TEST_F(ProfileTest, WriteGivesUpWhenAnotherWriterKeepsTheLock) {
    WriteFile("[A]\nx=1\n");
    ASSERT_TRUE(Write("A", "x", "2"));  // creates the lock file
    const int held = open((path_ + ".lock").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Write("A", "x", "3"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, platform::kWriteLockDeadline);
    close(held);
    EXPECT_EQ(ReadKey("A", "x"), "2");
    EXPECT_TRUE(Write("A", "x", "4"));
    EXPECT_EQ(ReadKey("A", "x"), "4");
}

}  // namespace
