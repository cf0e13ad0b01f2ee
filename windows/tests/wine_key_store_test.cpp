// The key store's writer of the Windows build under wine (key_store_writer.exe of the bitness
// under test): concurrent writers in two processes lose nothing, a write leaves no temporary file
// behind, what must not be written is refused with the file left as it was, a store behind a
// link is written at the link's end with the link kept, and a store that another program holds
// open is waited for and then reported as such.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "profile.h"
#include "pty_peer.h"
#include "wine_session.h"

namespace {

namespace fs = std::filesystem;
using lumenord::test::ReadFileText;

constexpr int kWriterMs = 120000;
constexpr long kKeysPerWriter = 100;
// A write that waits for another program ends well within this, wine's start-up included.
constexpr long kBoundedWriteMs = 15000;

class WineKeyStore : public ::testing::Test {
protected:
    lumenord::test::TempWorkDir dir;

    void SetUp() override {
        fs::copy_file(wine::CurrentArchitecture().binaries + "/key_store_writer.exe",
                      dir.Path() + "/key_store_writer.exe");
    }
    std::string Store() const { return dir.Path() + "/KeyStock.txt"; }
    // Starts the writer with `args` after the store's name; its answer goes to `log`.
    pid_t StartWriter(const std::vector<std::string>& args, const std::string& log,
                      const std::string& store = "./KeyStock.txt") {
        std::vector<std::string> argv{"key_store_writer.exe", store};
        argv.insert(argv.end(), args.begin(), args.end());
        return wine::StartProgram(argv, dir.Path(), dir.Path() + "/" + log);
    }
    // Writes one entry with the writer; its exit status, its answer in `answer`.
    int WriteEntry(const std::string& store, const std::string& key, const std::string& value,
                   std::string& answer) {
        fs::remove(dir.Path() + "/entry.log");
        const int status = wine::WaitForExit(
            StartWriter({"entry", "KEY_MINWEN", key, value}, "entry.log", store), kWriterMs);
        answer = ReadFileText(dir.Path() + "/entry.log");
        return status;
    }
    std::string Value(const std::string& key, const std::string& file = "") const {
        char buffer[128] = {};
        platform::GetPrivateProfileString("KEY_MINWEN", key.c_str(), "<missing>", buffer,
                                          sizeof buffer, (file.empty() ? Store() : file).c_str());
        return buffer;
    }
    // Names in `folder` (the store's by default) that a writer left beside the file `base`.
    std::vector<std::string> Temporaries(const std::string& folder = "",
                                         const std::string& base = "KeyStock.txt") const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.empty() ? dir.Path() : folder)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(base + ".tmp", 0) == 0) names.push_back(name);
        }
        return names;
    }
};

TEST_F(WineKeyStore, TwoWriterProcessesLoseNoKey) {
    // What a writer killed mid-write left behind is cleared by the next write.
    std::ofstream(dir.Path() + "/KeyStock.txt.tmpK1LL3D") << "[KEY_MINWEN]\r\nhalf";
    const pid_t first = StartWriter({"keys", "A", std::to_string(kKeysPerWriter)}, "a.log");
    const pid_t second = StartWriter({"keys", "B", std::to_string(kKeysPerWriter)}, "b.log");
    EXPECT_EQ(wine::WaitForExit(first, kWriterMs), 0) << ReadFileText(dir.Path() + "/a.log");
    EXPECT_EQ(wine::WaitForExit(second, kWriterMs), 0) << ReadFileText(dir.Path() + "/b.log");
    EXPECT_NE(ReadFileText(dir.Path() + "/a.log").find("wrote 100"), std::string::npos);
    EXPECT_NE(ReadFileText(dir.Path() + "/b.log").find("wrote 100"), std::string::npos);

    int lost = 0;
    for (const char* writer : {"A", "B"}) {
        for (long i = 0; i < kKeysPerWriter; ++i) {
            const std::string key = std::string(writer) + "_" + std::to_string(i);
            if (Value(key) != key + key) ++lost;
        }
    }
    EXPECT_EQ(lost, 0) << ReadFileText(Store());
    EXPECT_EQ(Temporaries(), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_regular_file(Store() + ".lock"));
}

TEST_F(WineKeyStore, RefusesWhatMustNotBeWrittenAndKeepsTheFile) {
    const std::string kept = "[KEY_MINWEN]\r\n05_1=0123456789ABCDEF\r\n";
    struct Case {
        std::string name;
        std::function<void()> prepare;
        std::vector<std::string> entry;  // section, key, value
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"line break in a value",
         [] {},
         {"KEY_MINWEN", "05_2", "AB\\r\\n[INIT_AUTH]"},
         "refused: the text holds a line break"},
        {"line break in a key",
         [] {},
         {"KEY_MINWEN", "05\\n_2", "AB"},
         "refused: the text holds a line break"},
        {"read-only file",
         [&] { chmod(Store().c_str(), 0444); },
         {"KEY_MINWEN", "05_2", "AB"},
         "refused: the file is read-only"},
        {"folder in place of the lock file",
         [&] { fs::create_directory(Store() + ".lock"); },
         {"KEY_MINWEN", "05_2", "AB"},
         "refused: it is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Store() + ".lock");
        fs::remove(Store());
        std::ofstream(Store(), std::ios::binary) << kept;
        c.prepare();
        std::vector<std::string> args{"entry"};
        args.insert(args.end(), c.entry.begin(), c.entry.end());
        const pid_t writer = StartWriter(args, "entry.log");
        EXPECT_EQ(wine::WaitForExit(writer, kWriterMs), 1);
        const std::string answer = ReadFileText(dir.Path() + "/entry.log");
        EXPECT_EQ(answer.rfind(c.answer, 0), 0u) << answer;
        EXPECT_EQ(ReadFileText(Store()), kept);
        EXPECT_EQ(Temporaries(), std::vector<std::string>{});
        fs::remove(dir.Path() + "/entry.log");
        chmod(Store().c_str(), 0644);
    }

    // A folder in the store's place is left alone.
    fs::remove(Store());
    fs::create_directory(Store());
    const pid_t writer = StartWriter({"entry", "KEY_MINWEN", "05_2", "AB"}, "entry.log");
    EXPECT_EQ(wine::WaitForExit(writer, kWriterMs), 1);
    const std::string answer = ReadFileText(dir.Path() + "/entry.log");
    EXPECT_EQ(answer.rfind("refused: it is not a regular file", 0), 0u) << answer;
    EXPECT_TRUE(fs::is_directory(Store()));
}

// A store that is a Unix symbolic link, which wine opens as the file it leads to without calling it
// a link: the write replaces the file at the end of the links, beside which it keeps its lock and
// leaves no temporary file, and every link stays as it was.
TEST_F(WineKeyStore, AStoreBehindALinkIsWrittenAtItsEndAndTheLinkKept) {
    const std::string kept = "[KEY_MINWEN]\r\n05_1=0123456789ABCDEF\r\n";
    const std::string real = dir.Path() + "/real";
    struct Case {
        std::string name;
        std::string store;                                       // as the writer is given it
        std::vector<std::pair<std::string, std::string>> links;  // link -> what it names
        std::string target;                                      // the file at the end
    };
    const std::vector<Case> cases = {
        {"a link to a file in another folder",
         "./KeyStock.txt",
         {{"KeyStock.txt", real + "/keys.txt"}},
         real + "/keys.txt"},
        {"a relative link",
         "./KeyStock.txt",
         {{"KeyStock.txt", "real/keys.txt"}},
         real + "/keys.txt"},
        {"a chain of two links",
         "./KeyStock.txt",
         {{"KeyStock.txt", "middle.txt"}, {"middle.txt", real + "/keys.txt"}},
         real + "/keys.txt"},
        {"a linked folder above the store",
         "./linked/KeyStock.txt",
         {{"linked", real}},
         real + "/KeyStock.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(real);
        fs::create_directory(real);
        for (const auto& [link, target] : c.links) fs::remove(dir.Path() + "/" + link);
        std::ofstream(c.target, std::ios::binary) << kept;
        for (const auto& [link, target] : c.links)
            fs::create_symlink(target, dir.Path() + "/" + link);

        std::string answer;
        EXPECT_EQ(WriteEntry(c.store, "05_2", "AB", answer), 0) << answer;
        EXPECT_EQ(answer.rfind("written", 0), 0u) << answer;
        EXPECT_EQ(Value("05_1", c.target), "0123456789ABCDEF");
        EXPECT_EQ(Value("05_2", c.target), "AB");
        for (const auto& [link, target] : c.links) {
            std::error_code notALink;
            EXPECT_EQ(fs::read_symlink(dir.Path() + "/" + link, notALink).string(), target) << link;
        }
        EXPECT_TRUE(fs::is_regular_file(c.target + ".lock"));
        const std::string base = fs::path(c.target).filename().string();
        EXPECT_EQ(Temporaries(real, base), std::vector<std::string>{});
        EXPECT_EQ(Temporaries(), std::vector<std::string>{});
    }
}

// Another program holds the store open without sharing it: the write waits for it as long as
// for another writer's lock, goes through when it lets go in time, and otherwise says that
// another program has it open, with the store as it was.
TEST_F(WineKeyStore, AStoreHeldOpenIsWaitedForThenReportedInUse) {
    const std::string kept = "[KEY_MINWEN]\r\n05_1=0123456789ABCDEF\r\n";
    struct Case {
        const char* name;
        std::string hold;  // the holder's request
        int status;
        std::string answer;
        long atLeastMs;
    };
    const Case cases[] = {
        {"let go of within the wait", "hold 1500", 0, "written", 0},
        {"held beyond the wait", "hold 0", 1, "refused: another program has it open", 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(Store(), std::ios::binary | std::ios::trunc) << kept;
        wine::Bridge holder(dir.Path(), {"key_store_writer.exe", "./KeyStock.txt", "hold"});
        ASSERT_EQ(holder.Request(c.hold), "held") << holder.Log();

        const auto start = std::chrono::steady_clock::now();
        std::string answer;
        EXPECT_EQ(WriteEntry("./KeyStock.txt", "05_2", "AB", answer), c.status) << answer;
        const long elapsedMs =
            static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());
        EXPECT_EQ(answer.rfind(c.answer, 0), 0u) << answer;
        EXPECT_GE(elapsedMs, c.atLeastMs);
        EXPECT_LT(elapsedMs, kBoundedWriteMs);
        EXPECT_EQ(Value("05_2"), c.status == 0 ? "AB" : "<missing>");
        EXPECT_EQ(Value("05_1"), "0123456789ABCDEF");
        EXPECT_EQ(Temporaries(), std::vector<std::string>{});
        EXPECT_EQ(holder.Request("release"), "released");
    }
}

}  // namespace
