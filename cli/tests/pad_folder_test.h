// What the tool's process tests share: a folder of the test's own, removed afterwards, in which
// padsim runs as a process on a link, the tool's JSON output split into its objects, and a wait
// for a process's output.
// Tests that include this define PADSIM_PROGRAM.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace cli::test {

// One JSON object a line, as --json prints them.
inline std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// Where `process`'s output shows `text` at or after `from`, waiting at most `timeout` for it;
// npos when it did not.
inline std::size_t OutputShows(padsim::test::ChildProcess& process, const std::string& text,
                               std::size_t from, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::size_t at = process.out().find(text, from);
        if (at != std::string::npos || std::chrono::steady_clock::now() >= deadline) return at;
        // Collects what the process prints meanwhile: `text` followed by \x01 never comes.
        process.WaitForOutput(text + "\x01", std::chrono::milliseconds(20));
    }
}

class PadFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumenord-test-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        m_dir = pattern;
        m_link = m_dir + "/ttyPAD";
    }
    void TearDown() override {
        StopPad();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    // padsim on `link` (the folder's ttyPAD when none is given) with `extra` options, ready once
    // it has printed its port mapping. A pad already running is stopped first.
    void StartPad(const std::vector<std::string>& extra = {}, const std::string& link = {}) {
        StopPad();
        std::vector<std::string> argv{PADSIM_PROGRAM, "--link",      link.empty() ? m_link : link,
                                      "--no-input",   "--key-delay", "50"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        m_pad =
            std::make_unique<padsim::test::ChildProcess>(argv, padsim::test::ChildOptions{m_dir});
        ASSERT_TRUE(m_pad->WaitForOutput("COM1=", std::chrono::seconds(10)))
            << m_pad->out() << m_pad->err();
    }
    void StopPad() {
        if (!m_pad) return;
        m_pad->Signal(SIGTERM);
        EXPECT_EQ(m_pad->WaitForExit(std::chrono::seconds(5)), 0) << m_pad->out();
        m_pad.reset();
    }
    // Writes `text` into the file `name` of the folder; its path.
    std::string WriteFile(const std::string& name, const std::string& text) {
        std::string path = m_dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::string m_dir;
    std::string m_link;
    std::unique_ptr<padsim::test::ChildProcess> m_pad;
};

}  // namespace cli::test
