// Ctrl-C and SIGTERM while the tool waits on padsim: the step ends at once with "interrupted",
// the pad's input mode is closed ("032", seen in padsim's mode line), the steps after it do not
// run, and the exit code is 128 + the signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "pad_folder_test.h"
#include "pty_peer.h"

namespace {

using cli::test::JsonLines;
using cli::test::OutputShows;

using padsim::test::ChildOptions;
using padsim::test::ChildProcess;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kPinEntryMode = "mode: PIN entry";
constexpr const char* kIdleMode = "mode: idle";

// Sends `frame` to the pad behind `link` as any host would and reads its reply (ETX and the two
// check characters), at most `timeout`; the reply, or what came of it.
std::string ExchangeFrame(const std::string& link, const std::string& frame,
                          std::chrono::milliseconds timeout) {
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    std::string reply;
    if (write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size())) {
        const auto deadline = Clock::now() + timeout;
        for (std::size_t etx;
             (etx = reply.find('\x03')) == std::string::npos || reply.size() < etx + 3;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char bytes[64];
            const ssize_t got = read(fd, bytes, sizeof bytes);
            if (got > 0) reply.append(bytes, static_cast<std::size_t>(got));
        }
    }
    close(fd);
    return reply;
}

class Interrupt : public cli::test::PadFolderTest {
protected:
    void SetUp() override {
        PadFolderTest::SetUp();
        // The frame trace shows when the tool's request has gone out.
        std::ofstream(m_dir + "/sysconfig.ini") << "[SYSTEM]\nDEBUG=1\n";
        m_pad = std::make_unique<ChildProcess>(
            std::vector<std::string>{PADSIM_PROGRAM, "--link", m_link, "--no-input"},
            ChildOptions{m_dir});
        ASSERT_TRUE(m_pad->WaitForOutput(kIdleMode, 10s)) << m_pad->out() << m_pad->err();
    }

    // Waits until the tool's frame trace holds `text`, collecting the tool's output meanwhile.
    bool TraceShows(ChildProcess& tool, const std::string& text,
                    std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (lumenord::test::ReadFileText(m_dir + "/logbuf.txt").find(text) ==
               std::string::npos) {
            if (Clock::now() >= deadline) return false;
            tool.WaitForOutput("\x01", 20ms);
        }
        return true;
    }
};

TEST_F(Interrupt, EndsTheWaitClosesThePadsInputAndSkipsTheRest) {
    const std::string pinRead = lumenord::test::ReplyFrame('7', "");
    const struct {
        const char* name;
        int signal;
        int status;
        std::string steps;
        bool openEntryFirst;     // the pad is in PIN entry before the tool starts
        std::string sentMarker;  // in the frame trace once the step's request went out
    } rows[] = {
        {"SIGINT during a PIN read that waits 255 s", SIGINT, 130, "pin read --wait 255\nversion\n",
         true, "ASC[" + pinRead + "]"},
        {"SIGTERM during a PIN entry", SIGTERM, 143,
         "pin start-short --entry-timeout 600\nversion\n", false, ""},
        {"SIGHUP (the terminal closed) during a PIN entry", SIGHUP, 129,
         "pin start-short --entry-timeout 600\nversion\n", false, ""},
        {"SIGPIPE during a PIN entry", SIGPIPE, 141,
         "pin start-short --entry-timeout 600\nversion\n", false, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(m_dir + "/logbuf.txt");
        const std::size_t padShown = m_pad->out().size();
        if (row.openEntryFirst) {
            // Short start: no key, six digits; the PIN read then waits for the entry's end.
            const std::string reply =
                ExchangeFrame(m_link, lumenord::test::ReplyFrame('6', "00600"), 5s);
            ASSERT_NE(reply.find('\x03'), std::string::npos) << lumenord::test::Hex(reply);
        }
        const std::string record = m_dir + "/run.json";
        std::filesystem::remove(record);
        ChildProcess tool({LUMENORD_PROGRAM, "--device", m_link, "--json", "--record", record,
                           "run", WriteFile("steps.lumenord", row.steps)},
                          ChildOptions{m_dir});
        if (!row.sentMarker.empty()) {
            ASSERT_TRUE(TraceShows(tool, row.sentMarker, 10s)) << tool.out() << tool.err();
        }
        const std::size_t entryShown = OutputShows(*m_pad, kPinEntryMode, padShown, 10s);
        ASSERT_NE(entryShown, std::string::npos) << m_pad->out();

        const auto signalled = Clock::now();
        tool.Signal(row.signal);
        // Loose on purpose: the waits the signal cuts short are 255 s and 600 s.
        EXPECT_EQ(tool.WaitForExit(5s), row.status) << tool.out() << tool.err();
        EXPECT_LT(Clock::now() - signalled, 5s);

        const std::vector<Json> lines = JsonLines(tool.out());
        ASSERT_EQ(lines.size(), 2u) << tool.out();
        EXPECT_EQ(lines[0]["ok"], false);
        EXPECT_EQ(lines[0]["result_text"], "interrupted");
        EXPECT_EQ(lines[0]["reply"]["input_closed"], true);
        EXPECT_EQ(lines[1]["summary"]["steps"], 1);
        EXPECT_EQ(lines[1]["summary"]["skipped"], 1);
        EXPECT_EQ(tool.out().find("did not end within"), std::string::npos);
        // "032" reached the pad: it left PIN entry.
        EXPECT_NE(OutputShows(*m_pad, kIdleMode, entryShown, 5s), std::string::npos)
            << m_pad->out();
        EXPECT_NE(lumenord::test::ReadFileText(m_dir + "/logbuf.txt")
                      .find("ASC[" + lumenord::test::ReplyFrame('5', "032") + "]"),
                  std::string::npos);
        const Json kept = Json::parse(lumenord::test::ReadFileText(record), nullptr, false);
        EXPECT_EQ(kept.value("outcome", ""), "aborted") << kept.dump();
    }
}

// A reader that goes away (`| head -1`) ends the run as SIGPIPE does: the step in progress
// ends, the rest are skipped, the record is written and the exit is 141, not death by the
// signal.
TEST_F(Interrupt, AReaderThatClosesTheOutputAbortsTheRunAndKeepsItsRecord) {
    std::string steps;
    for (int step = 0; step < 300; ++step) steps += "version\n";
    const std::string record = m_dir + "/run.json";
    const std::string command = "set -o pipefail; '" + std::string(LUMENORD_PROGRAM) +
                                "' --device '" + m_link + "' --record '" + record + "' run '" +
                                WriteFile("steps.lumenord", steps) + "' | head -1";
    ChildProcess shell({"/bin/bash", "-c", command}, ChildOptions{m_dir});
    EXPECT_EQ(shell.WaitForExit(60s), 141) << shell.out() << shell.err();
    EXPECT_EQ(shell.out().rfind("line 1: ok   version", 0), 0u) << shell.out();
    const Json kept = Json::parse(lumenord::test::ReadFileText(record), nullptr, false);
    EXPECT_EQ(kept.value("outcome", ""), "aborted") << kept.dump();
    EXPECT_GT(kept["summary"].value("not_run", 0), 0) << kept.dump();
}

}  // namespace
