// The key store's writer of the Windows build under wine (key_store_writer.exe of the bitness
// under test): concurrent writers in two processes lose nothing, a write leaves no temporary file
// behind, and what must not be written is refused with the file left as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

class WineKeyStore : public ::testing::Test {
protected:
    lumenord::test::TempWorkDir dir;

    void SetUp() override {
        fs::copy_file(wine::CurrentArchitecture().binaries + "/key_store_writer.exe",
                      dir.Path() + "/key_store_writer.exe");
    }
    std::string Store() const { return dir.Path() + "/KeyStock.txt"; }
    // Starts the writer with `args` after the store's name; its answer goes to `log`.
    pid_t StartWriter(const std::vector<std::string>& args, const std::string& log) {
        std::vector<std::string> argv{"key_store_writer.exe", "./KeyStock.txt"};
        argv.insert(argv.end(), args.begin(), args.end());
        return wine::StartProgram(argv, dir.Path(), dir.Path() + "/" + log);
    }
    std::string Value(const std::string& key) const {
        char buffer[128] = {};
        platform::GetPrivateProfileString("KEY_MINWEN", key.c_str(), "<missing>", buffer,
                                          sizeof buffer, Store().c_str());
        return buffer;
    }
    // Names in the folder that a writer left beside the store.
    std::vector<std::string> Temporaries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("KeyStock.txt.tmp", 0) == 0) names.push_back(name);
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

}  // namespace
