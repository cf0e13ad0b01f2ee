// The key store survives a writer killed at any moment, any file content at its path, and
// several writers at once.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "profile.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
    TempDir() {
        char name[] = "/tmp/keystore-durability-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string path;
};

std::string KeyName(int n) { return "KEY" + std::to_string(n % 40); }
std::string KeyValue(int n) {
    char text[33];
    std::snprintf(text, sizeof text, "%016X%016X", n, n * 2654435761u);
    return text;
}

// Writes key n = first, first + 1, ... for ever, telling the parent after each completed write.
[[noreturn]] void WriteForEver(const std::string& store, int first, int report) {
    alarm(60);
    for (int n = first;; ++n) {
        if (!platform::WritePrivateProfileString("KEY", KeyName(n).c_str(), KeyValue(n).c_str(),
                                                 store.c_str()))
            _exit(2);
        if (write(report, &n, sizeof n) != sizeof n) _exit(3);
    }
}

// Reads one completed-write report; false when none came within the deadline.
bool NextReport(int fd, int* n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return false;
    return read(fd, n, sizeof *n) == sizeof *n;
}

TEST(KeyStoreDurability, WriterKilledAtRandomMomentsLosesNoCompletedWrite) {
    TempDir dir;
    const std::string store = dir.path + "/KeyStock.txt";
    std::mt19937 random(20261207);
    int next = 0;  // the first key the next child writes
    std::map<std::string, std::string> expected;
    for (int round = 0; round < 200; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            WriteForEver(store, next, pipeFds[1]);
        }
        close(pipeFds[1]);
        // Kill after 0 to 2 completed writes, at a random point of the write after them.
        int completed = static_cast<int>(random() % 3), last = next - 1, n = 0;
        for (int i = 0; i < completed && NextReport(pipeFds[0], &n); ++i) {
            last = n;
            expected[KeyName(n)] = KeyValue(n);
        }
        for (volatile unsigned spin = random() % 200000; spin > 0;) spin = spin - 1;
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        // Writes that completed before the kill but were not read yet count too.
        while (NextReport(pipeFds[0], &n)) {
            last = n;
            expected[KeyName(n)] = KeyValue(n);
        }
        close(pipeFds[0]);
        next = last + 1;
        for (const auto& [key, value] : expected) {
            char got[64] = {};
            platform::GetPrivateProfileString("KEY", key.c_str(), "", got, sizeof got,
                                              store.c_str());
            // The write under way at the kill may have landed or not; nothing else may differ.
            const bool inFlight = key == KeyName(next) && got == KeyValue(next);
            ASSERT_TRUE(got == value || inFlight)
                << "round " << round << ", key " << key << ": " << got << " instead of " << value;
        }
    }
    // No temporary file piles up beside the store.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path))
        files += entry.path().filename().string().rfind("KeyStock.txt.tmp", 0) == 0;
    EXPECT_LE(files, 1);
}

TEST(KeyStoreDurability, AnyContentReadsWithoutHarmAndTakesAWrite) {
    struct Case {
        const char* name;
        std::string content;
        bool writable;  // a file beyond the size limit is refused, not cut
    };
    std::mt19937 random(7);
    std::string binary(4096, '\0');
    for (char& c : binary) c = static_cast<char>(random());
    const Case cases[] = {
        {"NUL-filled", std::string(100000, '\0'), true},
        {"binary", binary, true},
        {"no newline, huge line", "[KEY]\nK1=" + std::string(500000, 'A'), true},
        {"beyond the size limit", "[KEY]\nK1=12\n" + std::string(3 << 20, '#'), false},
        {"brackets only", "[\n]\n[[[]]]\n=\n==\n[KEY\nK1", true},
        {"multi-byte names", "[KEY]\n\xc3\xa9t\xc3\xa9=\xe2\x82\xac\n", true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string store = dir.path + "/KeyStock.txt";
        std::ofstream(store, std::ios::binary) << c.content;
        char small[8];
        platform::GetPrivateProfileString("KEY", "K1", "none", small, sizeof small, store.c_str());
        platform::GetPrivateProfileInt("KEY", "K1", 5, store.c_str());
        EXPECT_EQ(
            platform::WritePrivateProfileString("KEY", "K2", "0123456789ABCDEF", store.c_str()),
            c.writable)
            << c.name;
        char back[20] = {};
        platform::GetPrivateProfileString("KEY", "K2", "", back, sizeof back, store.c_str());
        EXPECT_EQ(std::string(back), c.writable ? "0123456789ABCDEF" : "") << c.name;
        if (!c.writable) {
            EXPECT_EQ(fs::file_size(store), c.content.size()) << c.name;
        }
    }
}

// Six writers at once, two threads in each of three processes, every one writing its own keys:
// each write waits its turn at the lock instead of giving up, and no key is lost. The figures
// (total time, longest single write including its wait) are printed for the record.
TEST(KeyStoreDurability, SixConcurrentWritersAreNeverRefusedAndLoseNothing) {
    constexpr int kProcesses = 3, kThreadsEach = 2, kKeysEach = 300;
    struct Outcome {
        int refusals = 0;
        long long longestMicroseconds = 0;
    };
    TempDir dir;
    const std::string store = dir.path + "/KeyStock.txt";
    const auto keyOf = [](int writer, int n) {
        return "W" + std::to_string(writer) + "_" + std::to_string(n);
    };
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::pair<pid_t, int>> children;  // pid and the read end of its report pipe
    for (int p = 0; p < kProcesses; ++p) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(120);
            Outcome outcomes[kThreadsEach];
            std::vector<std::thread> threads;
            threads.reserve(kThreadsEach);
            for (int t = 0; t < kThreadsEach; ++t) {
                threads.emplace_back([&, t, writer = p * kThreadsEach + t] {
                    for (int n = 0; n < kKeysEach; ++n) {
                        const auto begun = std::chrono::steady_clock::now();
                        const bool written = platform::WritePrivateProfileString(
                            "KEY", keyOf(writer, n).c_str(),
                            KeyValue(writer * kKeysEach + n).c_str(), store.c_str());
                        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - begun);
                        outcomes[t].refusals += written ? 0 : 1;
                        outcomes[t].longestMicroseconds =
                            std::max<long long>(outcomes[t].longestMicroseconds, took.count());
                    }
                });
            }
            for (std::thread& thread : threads) thread.join();
            const bool reported = write(pipeFds[1], outcomes, sizeof outcomes) == sizeof outcomes;
            _exit(reported ? 0 : 3);
        }
        close(pipeFds[1]);
        children.emplace_back(child, pipeFds[0]);
    }
    Outcome total;
    for (const auto& [pid, fd] : children) {
        Outcome outcomes[kThreadsEach];
        pollfd p{fd, POLLIN, 0};
        const bool reported = poll(&p, 1, 120000) == 1 && read(fd, outcomes, sizeof outcomes) ==
                                                              static_cast<ssize_t>(sizeof outcomes);
        close(fd);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(reported && WIFEXITED(status) && WEXITSTATUS(status) == 0);
        for (const Outcome& o : outcomes) {
            total.refusals += o.refusals;
            total.longestMicroseconds = std::max(total.longestMicroseconds, o.longestMicroseconds);
        }
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);

    std::ifstream in(store, std::ios::binary);
    std::set<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.insert(line);
    int lost = 0;
    for (int writer = 0; writer < kProcesses * kThreadsEach; ++writer) {
        for (int n = 0; n < kKeysEach; ++n) {
            lost += lines.count(keyOf(writer, n) + "=" + KeyValue(writer * kKeysEach + n)) == 0;
        }
    }
    std::printf(
        "%d writers x %d keys: total %lld ms, longest single write %lld ms, refusals %d, "
        "keys lost %d\n",
        kProcesses * kThreadsEach, kKeysEach, static_cast<long long>(elapsed.count()),
        total.longestMicroseconds / 1000, total.refusals, lost);
    EXPECT_EQ(total.refusals, 0);
    EXPECT_EQ(lost, 0);
}

}  // namespace
