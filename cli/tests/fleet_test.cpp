// One run file on several pads at once: lumenord as a process against padsims on real
// pseudo-terminals, one process of the tool per pad. The output lines tagged with their pad and
// never mixed, a summary per pad and a total, each pad's own record files, the exit code, usage
// errors before anything starts, Ctrl-C passed on to every pad, and the key store that the pads'
// processes share.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "acceptance_keys.h"
#include "in_process_tool.h"
#include "pad_fleet_plan.h"
#include "pad_folder_test.h"
#include "pty_peer.h"
#include "tagged_lines.h"
#include "tool.h"
#include "tool_key_store.h"

namespace {

using cli::test::OutputShows;

using padsim::test::ChildOptions;
using padsim::test::ChildProcess;
using Json = nlohmann::json;
using namespace std::chrono_literals;

// The run-file lines of the acceptance run's steps, in their order.
const std::vector<int> kAcceptanceLines{9, 13, 17, 18, 19, 22, 23, 27, 30, 31, 34, 35, 36};

// The output of a run of several pads, sorted by pad: each tagged line without its tag.
struct FleetOutput {
    std::map<std::string, std::vector<std::string>> lines;
    std::vector<std::string> untagged;
};

FleetOutput SplitTagged(const std::string& text) {
    static const std::regex tagged(R"(\[([A-Za-z0-9._-]+)\] (.*))");
    FleetOutput output;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_match(line, match, tagged)) {
            output.lines[match[1]].push_back(match[2]);
        } else {
            output.untagged.push_back(line);
        }
    }
    return output;
}

class Fleet : public cli::test::PadFolderTest {
protected:
    void TearDown() override {
        for (auto& pad : m_pads) {
            pad->Signal(SIGTERM);
            EXPECT_EQ(pad->WaitForExit(5s), 0) << pad->out();
        }
        m_pads.clear();
        PadFolderTest::TearDown();
    }

    // padsim on the link `link` in the test's folder, ready once it shows its idle mode.
    std::string StartPadAt(const std::string& link, const std::vector<std::string>& extra) {
        std::string path = m_dir + "/" + link;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::vector<std::string> argv{PADSIM_PROGRAM, "--link",      path,
                                      "--no-input",   "--key-delay", "20"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        m_pads.push_back(std::make_unique<ChildProcess>(argv, ChildOptions{m_dir}));
        EXPECT_TRUE(m_pads.back()->WaitForOutput("mode: idle", 10s)) << m_pads.back()->err();
        return path;
    }

    std::vector<std::unique_ptr<ChildProcess>> m_pads;
};

// The acceptance run on three pads, two of whose devices have the same name; the third has no
// card, so its card step fails. Lines and JSON objects carry their pad; each pad's steps come in
// the file's order, with a summary of its own; the total and the exit code count the failed pad.
// With the trace on, each pad's process keeps a whole trace of its own, named for its device.
TEST_F(Fleet, RunsTheFileOnEveryPadAndTagsItsOutput) {
    std::ofstream(m_dir + "/sysconfig.ini") << "[SYSTEM]\nDEBUG=1\n";
    const std::vector<std::string> devices{
        StartPadAt("a/ttyPAD", {"--keys", "1234"}), StartPadAt("b/ttyPAD", {"--keys", "1234"}),
        StartPadAt("ttyNOCARD", {"--keys", "1234", "--no-card"})};
    const std::vector<std::string> names{"ttyPAD", "ttyPAD-2", "ttyNOCARD"};
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "--json" : "lines");
        std::filesystem::remove(m_dir + "/KeyStock.txt");
        for (const std::string& name : names)
            std::filesystem::remove(m_dir + "/logbuf-" + name + ".txt");
        std::vector<std::string> argv{LUMENORD_PROGRAM, "--record", "run.json", "--junit",
                                      "run.xml"};
        for (const std::string& device : devices) argv.insert(argv.end(), {"--device", device});
        if (json) argv.push_back("--json");
        argv.insert(argv.end(), {"run", ACCEPTANCE_SCRIPT});
        const padsim::test::Finished run = padsim::test::RunToEnd(argv, m_dir);
        ASSERT_EQ(run.status, cli::kExitStepFailed) << run.out << run.err;

        // Lines: "[NAME] line N: ok ..." a step, "[NAME] pad OUTCOME: ..." its summary, then
        // "total: ...". JSON: the same as objects with "device".
        std::map<std::string, std::vector<Json>> objects;
        Json total;
        const FleetOutput output = SplitTagged(run.out);
        if (json) {
            EXPECT_TRUE(output.lines.empty());
            for (const Json& object : cli::test::JsonLines(run.out)) {
                if (object.contains("total")) total = object["total"];
                if (object.contains("device")) objects[object["device"]].push_back(object);
            }
        } else {
            ASSERT_EQ(output.untagged.size(), 1u) << run.out;
            EXPECT_TRUE(std::regex_match(output.untagged[0],
                                         std::regex(R"(total: 3 pads, 2 passed, 1 failed, 0 )"
                                                    R"(interrupted; 36 steps passed, 1 failed, 2 )"
                                                    R"(not run, \d+ ms)")))
                << output.untagged[0];
        }
        for (std::size_t pad = 0; pad < devices.size(); ++pad) {
            const std::string& name = names[pad];
            SCOPED_TRACE(name);
            const bool failing = name == "ttyNOCARD";
            const std::size_t ran = failing ? 11 : 13;
            std::vector<int> lines;
            std::string summary;
            if (json) {
                const std::vector<Json>& mine = objects[name];
                ASSERT_EQ(mine.size(), ran + 1);
                for (std::size_t i = 0; i < ran; ++i) {
                    lines.push_back(mine[i]["line"]);
                    EXPECT_EQ(mine[i]["ok"], !failing || i + 1 < ran) << mine[i];
                }
                const Json& end = mine.back();
                EXPECT_EQ(end["port"], devices[pad]);
                EXPECT_EQ(end["summary"]["outcome"], failing ? "failed" : "passed");
                EXPECT_EQ(end["summary"]["exit_code"], failing ? 1 : 0);
                EXPECT_EQ(end["summary"]["passed"], failing ? 10 : 13);
                EXPECT_EQ(end["summary"]["failures"], failing ? 1 : 0);
                EXPECT_EQ(end["summary"]["skipped"], failing ? 2 : 0);
            } else {
                const std::vector<std::string>& mine = output.lines.at(name);
                for (const std::string& line : mine) {
                    std::smatch match;
                    if (std::regex_search(line, match, std::regex(R"(^line (\d+): (ok  |FAIL))")))
                        lines.push_back(std::stoi(match[1]));
                }
                summary = mine.back();
                EXPECT_TRUE(std::regex_match(
                    summary, std::regex(failing ? R"(pad failed: 10 steps passed, 1 failed, 2 )"
                                                  R"(not run, \d+ ms)"
                                                : R"(pad passed: 13 steps passed, 0 failed, 0 )"
                                                  R"(not run, \d+ ms)")))
                    << summary;
            }
            EXPECT_EQ(lines,
                      std::vector<int>(kAcceptanceLines.begin(), kAcceptanceLines.begin() + ran));
            // Each pad's own record files, its device and outcome in them.
            const Json record =
                Json::parse(lumenord::test::ReadFileText(m_dir + "/run-" + name + ".json"));
            EXPECT_EQ(record["port"], devices[pad]);
            EXPECT_EQ(record["outcome"], failing ? "failed" : "passed");
            EXPECT_EQ(record["summary"]["steps"], ran);
            // Every request and reply of this pad's run, and no key part.
            const std::string trace =
                lumenord::test::ReadFileText(m_dir + "/logbuf-" + name + ".txt");
            const auto count = [&trace](const std::string& what) {
                std::size_t n = 0;
                for (auto at = trace.find(what); at != std::string::npos;
                     at = trace.find(what, at + 1))
                    ++n;
                return n;
            };
            EXPECT_EQ(count("Send To POS"), count("Receive From POS"));
            EXPECT_GE(count("Send To POS"), ran);
            EXPECT_EQ(trace.find("0123456789ABCDEFFEDCBA9876543210"), std::string::npos);
            EXPECT_NE(
                lumenord::test::ReadFileText(m_dir + "/run-" + name + ".xml")
                    .find(failing ? R"(tests="13" failures="1")" : R"(tests="13" failures="0")"),
                std::string::npos);
        }
        EXPECT_FALSE(std::filesystem::exists(m_dir + "/logbuf.txt"));
        if (json) {
            EXPECT_EQ(total, Json({{"pads", 3},
                                   {"pads_passed", 2},
                                   {"pads_failed", 1},
                                   {"pads_interrupted", 0},
                                   {"steps", 37},
                                   {"passed", 36},
                                   {"failures", 1},
                                   {"skipped", 2},
                                   {"ms", total["ms"]},
                                   {"exit_code", 1}}));
            // The PIN's stars, echoed on stderr with --json, tagged as well.
            for (const std::string& name : names)
                EXPECT_NE(run.err.find("[" + name + "] ****\n"), std::string::npos) << run.err;
        }
        // The key store that all three wrote: the master key's parts and the keys in cipher text.
        const cli::ToolKeyStore store(m_dir + "/KeyStock.txt");
        EXPECT_EQ(
            store.store()->ClearParts("00"),
            (std::array<std::string, 3>{cli::test::kPart1, cli::test::kPart2, cli::test::kPart3}));
        EXPECT_EQ(store.store()->CipherKey("10"), cli::test::kTerminalKey);
        EXPECT_EQ(store.store()->CipherKey("30"), cli::test::kPinKey);
    }
}

// The children of `parent`, found through /proc, with their /proc folders.
std::vector<std::pair<pid_t, std::filesystem::path>> ChildrenOf(pid_t parent) {
    std::vector<std::pair<pid_t, std::filesystem::path>> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = lumenord::test::ReadFileText(entry.path() / "stat");
        const std::size_t commEnd = stat.rfind(')');
        if (commEnd == std::string::npos) continue;
        std::istringstream fields(stat.substr(commEnd + 1));
        std::string state;
        pid_t ppid = 0;
        fields >> state >> ppid;
        if (ppid == parent)
            children.emplace_back(static_cast<pid_t>(std::stoi(name)), entry.path());
    }
    return children;
}

// The child of `parent` whose command line holds `argument`; 0 when there is none.
pid_t ChildWithArgument(pid_t parent, const std::string& argument) {
    for (const auto& [pid, folder] : ChildrenOf(parent)) {
        std::string cmdline = lumenord::test::ReadFileText(folder / "cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (cmdline.find(argument) != std::string::npos) return pid;
    }
    return 0;
}

// The child of `parent` that has `device` open (a pad's process, forked or started anew).
pid_t ChildHolding(pid_t parent, const std::string& device) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(device, error);
    for (const auto& [pid, folder] : ChildrenOf(parent)) {
        for (const auto& fd : std::filesystem::directory_iterator(folder / "fd", error))
            if (std::filesystem::read_symlink(fd.path(), error) == target) return pid;
    }
    return 0;
}

// A signal to the tool while every pad waits in PIN entry: each pad's process ends its wait and
// closes the pad's input, and the tool ends with 128 + the signal. A pad's process killed
// meanwhile is a failed pad, and says so.
TEST_F(Fleet, InterruptReachesEveryPad) {
    const std::vector<std::string> devices{StartPadAt("ttyA", {}), StartPadAt("ttyB", {})};
    const std::string steps =
        WriteFile("wait.lumenord", "version\npin start-short --entry-timeout 600\nversion\n");
    const std::string interrupted = "pad interrupted: 1 steps passed, 1 failed, 1 not run, ";
    const struct {
        const char* name;
        int signal;
        bool killPadB;  // its process gets SIGKILL before the tool gets `signal`
        int status;
        std::string padB;  // the start of ttyB's summary
        std::string total;
    } rows[] = {
        {"SIGINT", SIGINT, false, 130, interrupted,
         "total: 2 pads, 0 passed, 0 failed, 2 interrupted; 2 steps passed, 2 failed, 2 not run, "},
        {"SIGHUP: the terminal closed", SIGHUP, false, 129, interrupted,
         "total: 2 pads, 0 passed, 0 failed, 2 interrupted; 2 steps passed, 2 failed, 2 not run, "},
        {"SIGTERM after ttyB's process was killed", SIGTERM, true, 143,
         "pad failed (ended by signal 9 (Killed)): steps unknown, ",
         "total: 2 pads, 0 passed, 1 failed, 1 interrupted; 1 steps passed, 1 failed, 1 not run, "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t shownA = m_pads[0]->out().size(), shownB = m_pads[1]->out().size();
        ChildProcess tool(
            {LUMENORD_PROGRAM, "--device", devices[0], "--device", devices[1], "run", steps},
            ChildOptions{m_dir});
        const std::size_t entryA = OutputShows(*m_pads[0], "mode: PIN entry", shownA, 30s);
        ASSERT_NE(entryA, std::string::npos) << m_pads[0]->out();
        ASSERT_NE(OutputShows(*m_pads[1], "mode: PIN entry", shownB, 30s), std::string::npos);
        if (row.killPadB) {
            const pid_t toolPid = ChildWithArgument(getpid(), devices[1] + " run ");
            const pid_t padB = ChildHolding(toolPid, devices[1]);
            ASSERT_GT(padB, 0);
            kill(padB, SIGKILL);
            ASSERT_TRUE(tool.WaitForOutput("[ttyB] pad failed", 10s)) << tool.out();
        }
        tool.Signal(row.signal);
        EXPECT_EQ(tool.WaitForExit(15s), row.status) << tool.out() << tool.err();
        EXPECT_NE(OutputShows(*m_pads[0], "mode: idle", entryA, 5s), std::string::npos)
            << m_pads[0]->out();

        const FleetOutput output = SplitTagged(tool.out());
        const std::vector<std::string>& padA = output.lines.at("ttyA");
        EXPECT_NE(std::find_if(padA.begin(), padA.end(),
                               [](const std::string& line) {
                                   return line.rfind("line 2: FAIL pin start-short: interrupted (",
                                                     0) == 0;
                               }),
                  padA.end())
            << tool.out();
        EXPECT_EQ(padA.back().rfind(interrupted, 0), 0u) << tool.out();
        EXPECT_EQ(output.lines.at("ttyB").back().rfind(row.padB, 0), 0u) << tool.out();
        ASSERT_EQ(output.untagged.size(), 1u) << tool.out();
        EXPECT_EQ(output.untagged[0].rfind(row.total, 0), 0u) << tool.out();
    }
}

// What can be checked before anything starts is checked first: exit 2, a message naming the
// argument, no byte to any pad and no file written.
TEST(FleetUsage, IsCheckedBeforeAnyPadStarts) {
    const lumenord::test::TempWorkDir folder;
    lumenord::test::PtyPeer padA, padB;
    const std::string& dir = folder.Path();
    const std::string a = padA.SlavePath(), b = padB.SlavePath();
    const std::string steps = dir + "/steps.txt", secret = dir + "/secret.txt",
                      bad = dir + "/bad.txt", regular = dir + "/plain";
    std::ofstream(steps) << "version\n";
    std::ofstream(secret) << "version\nkey clear 00 30 --part -\n";
    std::ofstream(bad) << "version\nfrobnicate\n";
    std::ofstream(regular) << "";
    std::filesystem::create_symlink(a, dir + "/link");
    std::filesystem::create_directory(dir + "/run-" + cli::PadNames({b})[0] + ".json");
    const struct {
        std::vector<std::string> args;
        std::string text;  // after "lumenord: "
    } rows[] = {
        {{"--device", a, "--device", b, "version"}, "--device: several devices run a run file"},
        {{"--device", a, "--device", b, "run", "-"}, "FILE: standard input can feed one pad only"},
        {{"--port", "com1", "--device", a, "--device", b, "run", steps},
         "--port excludes --device"},
        {{"--device", a, "--device", b, "--device", a, "run", steps},
         "--device: '" + a + "' is the same device as '" + a + "'"},
        {{"--device", a, "--device", dir + "/link", "run", steps},
         "--device: '" + dir + "/link' is the same device as '" + a + "'"},
        {{"--device", a, "--device", dir + "/missing", "run", steps},
         "--device: cannot open " + dir + "/missing: no such device"},
        {{"--device", a, "--device", regular, "run", steps},
         "--device: cannot open " + regular + ": a regular file, not a terminal"},
        {{"--device", dir + "/missing", "--device", a, "--device", regular, "run", steps},
         "--device: cannot open " + dir + "/missing: no such device; cannot open " + regular +
             ": a regular file, not a terminal"},
        {{"--device", a, "--device", dir + "/" + std::string(5000, 'd'), "run", steps},
         "--device: cannot open " + (dir + "/" + std::string(5000, 'd')).substr(0, 80) + "... (" +
             std::to_string(dir.size() + 5001) +
             " characters): its path is longer than the system takes\n"},
        {{"--device", a, "--device", b, "--record", std::string(245, 'r'), "run", steps},
         "--record: cannot use '" + std::string(80, 'r') + "...' (" +
             std::to_string(246 + cli::PadNames({a})[0].size()) +
             " characters): its name is too long"},
        {{"--device", a, "--device", b, "--record", "run.json", "run", steps},
         "--record: 'run-" + cli::PadNames({b})[0] + ".json' is not a regular file"},
        {{"--device", a, "--device", b, "run", bad}, bad + ":2: 'frobnicate' is not a step"},
        {{"--device", a, "--device", b, "run", secret},
         secret + ":2: --part: several pads run the file: give the key with @FILE"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> argv{LUMENORD_PROGRAM};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const padsim::test::Finished run = padsim::test::RunToEnd(argv, dir);
        SCOPED_TRACE(row.text + "\n" + run.err);
        EXPECT_EQ(run.status, cli::kExitUsage);
        EXPECT_NE(run.err.find("lumenord: " + row.text), std::string::npos);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(lumenord::test::Hex(padA.Read(1, 0) + padB.Read(1, 0)), "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/run-" + cli::PadNames({a})[0] + ".json"));
}

// A pad's process that ends with an exit code that is no outcome fails its pad, which says how it
// ended; the total counts it. Here the program to start is not there: each process ends with 127.
TEST(FleetEnd, OddExitFailsThePadAndSaysSo) {
    const lumenord::test::TempWorkDir folder;
    lumenord::test::PtyPeer padA, padB;
    const std::string steps = folder.Path() + "/steps.txt";
    std::ofstream(steps) << "version\n";
    std::vector<const char*> argv{
        "lumenord", "--device",   padA.SlavePath().c_str(), "--device", padB.SlavePath().c_str(),
        "run",      steps.c_str()};
    std::ostringstream out, err;
    const int status =
        cli::RunTool(static_cast<int>(argv.size()), argv.data(), out, err, "/nonexistent/lumenord");
    EXPECT_EQ(status, cli::kExitStepFailed) << out.str() << err.str();
    const FleetOutput output = SplitTagged(out.str());
    ASSERT_EQ(output.lines.size(), 2u) << out.str();
    for (const auto& [name, lines] : output.lines) {
        ASSERT_EQ(lines.size(), 1u) << out.str();
        EXPECT_EQ(lines[0].rfind("pad failed (it exited with 127 (the tool could not be started)): "
                                 "steps unknown, ",
                                 0),
                  0u)
            << lines[0];
    }
    ASSERT_EQ(output.untagged.size(), 1u) << out.str();
    EXPECT_EQ(output.untagged[0].rfind("total: 2 pads, 0 passed, 2 failed, 0 interrupted; 0 steps "
                                       "passed, 0 failed, 0 not run, ",
                                       0),
              0u)
        << out.str();
    EXPECT_EQ(lumenord::test::Hex(padA.Read(1, 0) + padB.Read(1, 0)), "");
}

// Eight processes write the key store at once, as the pads' processes of a run do: the store's
// lock keeps every record of every one.
TEST(FleetKeyStore, ConcurrentWritersLoseNoRecord) {
    const lumenord::test::TempWorkDir folder;
    const std::string path = folder.Path() + "/KeyStock.txt";
    constexpr int kWriters = 8, kRecords = 16;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(go[1]);
            char start;
            if (read(go[0], &start, 1) != 0) _exit(3);  // all start when the pipe closes
            const cli::ToolKeyStore store(path);
            for (int record = 0; record < kRecords; ++record) {
                char index[3];
                std::snprintf(index, sizeof index, "%02X", writer * kRecords + record);
                cli::StepOutcome outcome;
                outcome.ok = true;
                store.Record(outcome, "written",
                             padlogic::KeyRecords().CipherKey(
                                 index, std::string(32, static_cast<char>('A' + writer))));
                if (!outcome.ok) _exit(1);
            }
            _exit(0);
        }
        writers.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    for (const pid_t pid : writers) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const padlogic::KeyStore store(path);
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int record = 0; record < kRecords; ++record) {
            char index[3];
            std::snprintf(index, sizeof index, "%02X", writer * kRecords + record);
            EXPECT_EQ(store.CipherKey(index), std::string(32, static_cast<char>('A' + writer)))
                << index;
        }
    }
}

// A pad's output cut into lines and tagged: whole lines only, the last one without its line end
// too, an overlong line cut and marked; with --json each object gets "device" first.
TEST(TaggedLines, KeepsLinesWholeAndBounded) {
    const std::string longLine(cli::kMaxTaggedLine + 10, 'x');
    const std::string kept(cli::kMaxTaggedLine, 'x');
    const struct {
        cli::TaggedLines::Form form;
        std::vector<std::string> pieces;
        std::string out;
    } rows[] = {
        {cli::TaggedLines::Form::Text,
         {"ok a\nok", " b\n", "\npartial"},
         "[p1] ok a\n[p1] ok b\n[p1] \n[p1] partial\n"},
        {cli::TaggedLines::Form::Text,
         {longLine.substr(0, 100), longLine.substr(100) + "\nnext\n"},
         "[p1] " + kept + " [line cut: longer than 65536 bytes]\n[p1] next\n"},
        {cli::TaggedLines::Form::Json,
         {R"({"step":1,"ok":true})", "\n", R"({"device":"x","a":2})"},
         "{\"device\":\"p1\",\"step\":1,\"ok\":true}\n{\"device\":\"p1\",\"a\":2}\n"},
        {cli::TaggedLines::Form::Json,
         {"not json \xff\n[1]\n"},
         "{\"device\":\"p1\",\"text\":\"not json "
         "\xEF\xBF\xBD\"}\n{\"device\":\"p1\",\"text\":\"[1]\"}\n"},
        {cli::TaggedLines::Form::Json,
         {longLine + "\n"},
         "{\"device\":\"p1\",\"text\":\"" + kept + "\",\"cut\":true}\n"},
    };
    for (const auto& row : rows) {
        std::ostringstream out;
        cli::TaggedLines lines("p1", row.form, out);
        for (const std::string& piece : row.pieces) lines.Take(piece);
        lines.Finish();
        EXPECT_EQ(out.str(), row.out);
    }
}

TEST(PadNames, AreSafeAndToldApart) {
    const struct {
        std::vector<std::string> devices;
        std::vector<std::string> names;
    } rows[] = {
        {{"/dev/ttyUSB0", "/dev/ttyUSB1"}, {"ttyUSB0", "ttyUSB1"}},
        {{"/dev/pts/3", "/tmp/x/3", "/tmp/y/3-2", "/tmp/z/3"}, {"3", "3-3", "3-2", "3-4"}},
        {{"/tmp/a b;$(x)", "/tmp/.hidden", "/"}, {"a_b___x_", "pad.hidden", "pad"}},
    };
    for (const auto& row : rows) EXPECT_EQ(cli::PadNames(row.devices), row.names);
    EXPECT_EQ(cli::PerPadPath("out/run.json", "ttyUSB0"), "out/run-ttyUSB0.json");
    EXPECT_EQ(cli::PerPadPath("junit", "3-2"), "junit-3-2");
}

}  // namespace
