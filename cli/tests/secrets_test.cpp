// Secrets and the key store, with lumenord as a process against padsim: keys from files, from
// standard input and from the key store; masked output unless --show-secrets; the store the
// program reads, written through the same API; a device path relative to the caller's folder.
// Key sources that must be refused are checked in this process through RunTool.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "acceptance_keys.h"
#include "child_process.h"
#include "in_process_tool.h"
#include "key_store.h"
#include "pad_folder_test.h"
#include "pty_peer.h"
#include "reference_crypto.h"
#include "tool.h"

namespace {

using cli::test::JsonLines;
using cli::test::RunInProcess;
using cli::test::ToolRun;

using padsim::test::ChildOptions;
using padsim::test::ChildProcess;
using padsim::test::RefEncrypt;
using padsim::test::RefVerifyCode;
using Json = nlohmann::json;

using cli::test::kMasterKey;
using cli::test::kPart1;
using cli::test::kPart2;
using cli::test::kPart3;
using cli::test::kPinKey;
using cli::test::kTerminalKey;
const std::string kAccount = "4000001234567899";

std::string WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// A key file is read only when it is a regular file (or a link to one) holding one key and at
// most a line end; whatever else is at the path is a usage error that never shows the file's
// text, never blocks on a FIFO, and sends nothing. `des encrypt` needs no pad, so an accepted
// key shows in its result.
TEST(KeySources, FilesHoldOneKeyAndNothingElse) {
    const lumenord::test::TempWorkDir folder;
    const std::string& dir = folder.Path();
    const std::string data = "0011223344556677";
    const std::string secret = "C0FFEE00C0FFEE00";
    WriteFile(dir + "/key.txt", kPinKey + "\r\n");
    std::filesystem::create_symlink(dir + "/key.txt", dir + "/link.txt");
    WriteFile(dir + "/two.txt", kPinKey + "\n" + secret + "\n");
    WriteFile(dir + "/big.txt", std::string(300, 'A'));
    WriteFile(dir + "/words.txt", "key=" + secret + "\n");
    WriteFile(dir + "/empty.txt", "");
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir + "/folder");

    const struct {
        std::vector<std::string> args;
        int status;
        std::string text;  // on stdout for status 0, else on stderr
    } rows[] = {
        {{"des", "encrypt", data, "@key.txt"}, 0, RefEncrypt(kPinKey, data)},
        {{"des", "encrypt", data, "@" + dir + "/link.txt"}, 0, RefEncrypt(kPinKey, data)},
        {{"des", "encrypt", data, "@two.txt"},
         2,
         "key file 'two.txt' does not hold exactly one key"},
        {{"des", "encrypt", data, "@words.txt"}, 2, "does not hold exactly one key"},
        {{"des", "encrypt", data, "@empty.txt"}, 2, "does not hold exactly one key"},
        {{"des", "encrypt", data, "@big.txt"}, 2, "key file 'big.txt' is larger than 256 bytes"},
        {{"des", "encrypt", data, "@fifo"}, 2, "key file 'fifo' is not a regular file"},
        {{"des", "encrypt", data, "@folder"}, 2, "key file 'folder' is not a regular file"},
        {{"des", "encrypt", data, "@missing.txt"}, 2, "cannot read key file 'missing.txt'"},
        {{"des", "encrypt", data, "@"}, 2, "'@' names no key file"},
        {{"key", "clear", "00", "31", "--part", "@key.txt", "--part", "@two.txt", "--part",
          "@key.txt"},
         2,
         "--part: key file 'two.txt' does not hold exactly one key"},
        {{"pin", "read", "--key", "@fifo"}, 2, "--key: key file 'fifo' is not a regular file"},
        // A key typed on the pad is 8, 16 or 24 bytes like any other.
        {{"key", "clear", "00", "41", "--length", "32"},
         2,
         "--length: '32' is not one of 8, 16, 24"},
    };
    for (const auto& row : rows) {
        const ToolRun run = RunInProcess(row.args);
        SCOPED_TRACE(row.args.back() + "\n" + run.out + run.err);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE((row.status == 0 ? run.out : run.err).find(row.text), std::string::npos);
        EXPECT_EQ((run.out + run.err).find(secret), std::string::npos);
        EXPECT_EQ((run.out + run.err).find(kPinKey), std::string::npos);
    }
}

// The tool on a terminal of its own (a pty) that prompts for a key with "-".
class PromptedTool {
public:
    explicit PromptedTool(const std::vector<std::string>& args) {
        // Made before the fork: the new process may make no allocation before it execs.
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        m_pid = forkpty(&m_terminal, nullptr, nullptr, nullptr);
        if (m_pid == 0) {
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~PromptedTool() {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_terminal >= 0) close(m_terminal);
    }
    // Reads until `text` came (true), or the terminal closed or 30 s passed (false).
    bool ReadUntil(const std::string& text) {
        return Read([&] { return m_out.find(text) != std::string::npos; });
    }
    // Reads until the tool closed its terminal.
    void ReadToEnd() {
        Read([] { return false; });
    }
    bool Echoes() const {
        termios settings{};
        tcgetattr(m_terminal, &settings);
        return (settings.c_lflag & ECHO) != 0;
    }
    void Type(const std::string& text) {
        ASSERT_EQ(write(m_terminal, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // The exit status once the terminal closed. A tool that still holds it open after the read's
    // deadline is killed, so that waiting for its end cannot hang the test.
    int Exit() {
        ReadToEnd();
        if (!m_closed) kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string& out() const { return m_out; }

private:
    pid_t m_pid = -1;
    int m_terminal = -1;
    bool m_exited = false;
    bool m_closed = false;  // the tool closed its terminal
    std::string m_out;

    template <typename Done>
    bool Read(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            pollfd fds{m_terminal, POLLIN, 0};
            if (std::chrono::steady_clock::now() > deadline || poll(&fds, 1, 1000) < 0)
                return false;
            if (fds.revents == 0) continue;
            char buffer[256];
            const ssize_t got = read(m_terminal, buffer, sizeof buffer);
            if (got <= 0) {  // EIO once the tool closed its side
                m_closed = true;
                return false;
            }
            m_out.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }
};

// A key typed at the prompt is not echoed, and the terminal echoes again however the prompt
// ends: the key given, or Ctrl-C (exit 130, nothing done).
TEST(KeySources, PromptTypesWithoutEchoAndRestoresTheTerminal) {
    const std::string data = "0011223344556677";
    const struct {
        std::string typed;
        int status;
        std::string text;
    } rows[] = {
        {kPinKey + "\r", 0, "ok   des encrypt: data=" + RefEncrypt(kPinKey, data)},
        {"4C5D\x03", 130, ""},
    };
    for (const auto& row : rows) {
        PromptedTool tool({LUMENORD_PROGRAM, "des", "encrypt", data, "-"});
        ASSERT_TRUE(tool.ReadUntil("lumenord: key (not shown): ")) << tool.out();
        EXPECT_FALSE(tool.Echoes());
        tool.Type(row.typed);
        EXPECT_EQ(tool.Exit(), row.status) << tool.out();
        EXPECT_TRUE(tool.Echoes());
        EXPECT_NE(tool.out().find(row.text), std::string::npos) << tool.out();
        EXPECT_EQ(tool.out().find("4C5D"), std::string::npos) << tool.out();
    }
}

class Secrets : public cli::test::PadFolderTest {
protected:
    // padsim at ./ttyPAD in the test's folder, as a new user starts it.
    void StartPad(const std::vector<std::string>& extra = {}) {
        PadFolderTest::StartPad(extra, "./ttyPAD");
    }
    // The tool in the test's folder with the pad as ./ttyPAD, `input` on its standard input.
    padsim::test::Finished Tool(const std::vector<std::string>& args,
                                const std::string& input = "") {
        std::vector<std::string> argv{LUMENORD_PROGRAM, "--device", "./ttyPAD"};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess tool(argv, ChildOptions{m_dir, true});
        EXPECT_TRUE(tool.Write(input));
        tool.CloseInput();
        const int status = tool.WaitForExit(std::chrono::seconds(60));
        return {status, tool.out(), tool.err()};
    }
    padlogic::KeyStore Store() const { return padlogic::KeyStore(m_dir + "/KeyStock.txt"); }
};

// Keys loaded with parts from a file and from standard input are recorded where the program
// finds them; the next steps take the decryption key and the PIN key from the store. Nothing
// secret reaches the output unless --show-secrets asks for it, and then it is all there.
TEST_F(Secrets, KeysFromFilesAndStandardInputAreRecordedAndMaskedUnlessShown) {
    StartPad({"--keys", "1234"});
    WriteFile("part1.txt", kPart1 + "\n");
    WriteFile("pin.key", kPinKey);
    const std::string steps =
        WriteFile("steps.txt", "key cipher 00 10 TMK --key " + kTerminalKey + "\n" +
                                   "key cipher 10 30 TPK --key @pin.key\n" +
                                   "pin start 30 --account " + kAccount + " --length 04\n" +
                                   "pin read --key-index 30 --format iso0 --account " + kAccount +
                                   "\n" + "control 2 3C\n");
    const std::string typedParts = kPart2 + "\n" + kPart3 + "\n";
    const std::string allParts = kPart1 + kPart2 + kPart3;
    for (const bool show : {false, true}) {
        SCOPED_TRACE(show ? "--show-secrets" : "masked");
        std::filesystem::remove(m_dir + "/KeyStock.txt");
        std::vector<std::string> global{"--json"};
        if (show) global.push_back("--show-secrets");
        std::vector<std::string> clear = global;
        clear.insert(clear.end(), {"key", "clear", "00", "31", "--part", "@part1.txt", "--part",
                                   "-", "--part", "-"});
        padsim::test::Finished run = Tool(clear, typedParts);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const Json loaded = JsonLines(run.out).at(0);
        EXPECT_EQ(loaded["request"], "0012" + (show ? allParts : std::string(96, '*')));
        EXPECT_EQ(loaded["reply"]["part1_kcv"], RefVerifyCode(kPart1));
        EXPECT_EQ(loaded["reply"]["part2_kcv"], RefVerifyCode(kPart2));
        EXPECT_EQ(loaded["reply"]["part3_kcv"], RefVerifyCode(kPart3));
        EXPECT_EQ(loaded["reply"]["check_value"], RefVerifyCode(kMasterKey));
        EXPECT_EQ(Store().ClearParts("00"), (std::array<std::string, 3>{kPart1, kPart2, kPart3}));
        EXPECT_EQ(Store().ClearValue("00"), kMasterKey);

        std::vector<std::string> file = global;
        file.insert(file.end(), {"run", "steps.txt"});
        run = Tool(file);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const std::vector<Json> lines = JsonLines(run.out);
        EXPECT_EQ(lines.at(0)["reply"]["cipher"], RefEncrypt(kMasterKey, kTerminalKey));
        EXPECT_EQ(lines.at(1)["reply"]["cipher"], RefEncrypt(kTerminalKey, kPinKey));
        // The program's PIN page finds the PIN key, and a master key at a clear-key index
        // serves it as a decryption key.
        EXPECT_EQ(Store().CipherKey("30"), kPinKey);
        EXPECT_EQ(Store().ClearValue("10"), kTerminalKey);
        EXPECT_EQ(Store().PinTimeout(), 60);
        const Json& read = lines.at(3)["reply"];
        EXPECT_EQ(read["pin"], show ? "1234" : "****");
        EXPECT_EQ(read["clear_block"].get<std::string>().size(), 16u);
        EXPECT_EQ(read["clear_block"].get<std::string>().find('*'), show ? std::string::npos : 0u);
        const std::string all = run.out + run.err + loaded.dump();
        for (const std::string& secret : {kPart1, kPart2, kPart3, kTerminalKey, kPinKey}) {
            EXPECT_EQ(all.find(secret) != std::string::npos,
                      show && secret != kTerminalKey && secret != kPinKey)
                << secret;
        }
    }
}

// A key part typed on the pad is echoed as stars, shown by its check value and recorded as the
// program records it: the part, and the key mask as the value.
TEST_F(Secrets, PartTypedOnThePadIsEchoedMaskedAndRecorded) {
    const std::string typed = "0123456789ABCDEF";
    StartPad({"--keys", typed + "\\r"});
    const padsim::test::Finished run = Tool({"key", "clear", "05", "42", "--length", "8"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(std::string(16, '*') + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ok   key clear: characters=16 end=enter part2_kcv=" +
                           RefVerifyCode(typed) + " part2=" + std::string(16, '*')),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find(typed), std::string::npos) << run.out;
    EXPECT_EQ(Store().ClearPart("05", 2), typed);
    EXPECT_EQ(Store().ClearValue("05"), "****************");
}

// A store that cannot be written fails the step with the program's words, though the pad has
// the key; --no-key-store neither reads nor writes it.
TEST_F(Secrets, UnwritableStoreFailsTheStepAndNoKeyStoreLeavesItAlone) {
    StartPad();
    const std::vector<std::string> load{"key", "clear", "00", "30", "--part", kPart1};
    WriteFile("KeyStock.txt", "");
    ASSERT_EQ(chmod((m_dir + "/KeyStock.txt").c_str(), 0444), 0);
    padsim::test::Finished run = Tool(load);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("FAIL key clear: The key was loaded into the pad, but could not be "
                           "recorded in ./KeyStock.txt: the file is read-only."),
              std::string::npos)
        << run.out;

    std::filesystem::remove(m_dir + "/KeyStock.txt");
    run = Tool({"--no-key-store", "key", "clear", "00", "30", "--part", kPart1});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/KeyStock.txt"));
    run = Tool({"--no-key-store", "key", "cipher", "00", "10", "TMK", "--key", kTerminalKey});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("give --decrypt-key: the key store is left untouched"),
              std::string::npos)
        << run.out;
    run = Tool(
        {"--key-store", "other.txt", "key", "cipher", "00", "10", "TMK", "--key", kTerminalKey});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("give --decrypt-key: other.txt holds no clear value of the key at "
                           "00; nothing was sent"),
              std::string::npos)
        << run.out;
}

}  // namespace
