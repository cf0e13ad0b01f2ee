// The tool's argument and run-file checks, run in this process through RunTool: every usage
// error exits with 2, names the argument or the bound at fault, and comes before the port is
// opened, so that a scripted pad on a pty never sees a byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_sysfs.h"
#include "in_process_tool.h"
#include "pty_peer.h"
#include "run_file.h"

namespace {

using cli::test::RunInProcess;
using cli::test::ToolRun;

std::string WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Bytes a terminal would act on, other than the line ends.
bool HasControlCharacters(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\n') || byte == 0x7F;
    });
}

// Refused before the pad is touched, with exit code 2 and a message that names the argument or
// the bound at fault and repeats at most 80 characters of what it got (and never a key).
TEST(RunTool, HostileArgumentsAndRunFilesAreUsageErrors) {
    const lumenord::test::TempWorkDir folder;  // no ./sysconfig.ini maps a port
    lumenord::test::PtyPeer pad;
    const std::string device = pad.SlavePath();
    const std::string& dir = folder.Path();
    const std::string part1 = "0123456789ABCDEFFEDCBA9876543210";
    const std::string part2 = "1F2E3D4C5B6A79880897A6B5C4D3E2F1";
    const std::string filler(300, 'Z');
    const std::string badKey = part1.substr(0, 31) + "G";
    const std::string subfolder = dir + "/folder";
    std::filesystem::create_directory(subfolder);
    const std::string nul = WriteFile(dir + "/nul.txt", std::string("info write A\0B\n", 15));
    const std::string longLine =
        WriteFile(dir + "/long.txt", "info write X\n# " + std::string(5000, 'Z') + "\n");
    std::string big;
    while (big.size() <= 1024 * 1024) big += "# " + std::string(1000, 'Z') + "\n";
    const std::string oversized = WriteFile(dir + "/big.txt", "info write X\n" + big);
    const std::string numbers =
        WriteFile(dir + "/numbers.txt", "info write X\nkeypad --count 4294967297\n");
    const std::string badWord =
        WriteFile(dir + "/word.txt", "info write X\nmac 30 x9.9 " + filler + "\n");
    const std::string control =
        WriteFile(dir + "/control.txt", "info write X\nfrobnicate\x1b[2J\n");
    const std::string empty = WriteFile(dir + "/empty.txt", "# nothing to run\n\n");
    const std::string quote = WriteFile(dir + "/quote.txt", "info write X\ninfo write \"abc\n");
    const std::string bom = WriteFile(dir + "/bom.txt",
                                      "\xEF\xBB\xBF"
                                      "frobnicate\n");
    const std::string fifo = dir + "/fifo";
    mkfifo(fifo.c_str(), 0600);
    const std::string readableLink = dir + "/linked-store.txt";
    chmod(WriteFile(dir + "/readable.txt", "").c_str(), 0644);
    std::filesystem::create_symlink(dir + "/readable.txt", readableLink);
    const struct {
        std::vector<std::string> args;
        std::string text;  // on stderr
    } rows[] = {
        {{"--device", device, "mac", "80", "x9.9", "0102"}, "INDEX: key index '80'"},
        {{"--device", device, "--baud", "1234", "version"}, "--baud: '1234' is not one of"},
        {{"--device", device, "--baud", "99999999999999999999", "version"},
         "--baud: '99999999999999999999' is not one of"},
        {{"--port", "com2147483648", "version"}, "--port: 'com2147483648' is not a port name"},
        {{"--port", "com1", "--device", device, "version"}, "--port excludes --device"},
        {{"--device", device, "frobnicate"}, "'frobnicate' is not a step"},
        {{"--device", device, "key", "clear", "00", "31", "--part", part1, "--part", part2},
         "--part: code 31 needs 3 parts"},
        {{"--device", device, "key", "cipher", "00", "10", "TMK", "--decrypt-key", part2},
         "--decrypt-key requires --key"},
        {{"--device", device, "pin", "start", "30", "--format", "iso0", "--account", "12"},
         "--account: ISO 0 and 3 need an account number of 4 to 20 digits"},
        {{"--device", device, "keypad", "--count", "0x5"}, "--count: '0x5' is not a whole number"},
        {{"--device", device, "card", "status", "--socket", "-1"}, "--socket: '-1'"},
        {{"--device", device, "pin", "start", "30", "--account", "4000001234567899", "--length",
          "99"},
         "--length: iso0 takes PIN lengths 00 to 12, not '99'"},
        {{"--device", device, "pin", "start", "30", "--format", "ascii", "--length", "09"},
         "--length: ascii takes PIN lengths 00 to 08"},
        {{"--device", device, "pin", "start-short", "--length", "17"},
         "--length: the pad takes PIN lengths 00 to 16"},
        {{"--device", device, "mac", "30", "x9.9", filler}, "DATA: 'ZZZZ"},
        {{"--device", device, "des", "encrypt", part2, badKey}, "KEY: is not hexadecimal text"},
        {{"--device", device, "key", "clear", "00", "30", "--part", badKey},
         "--part: is not a hexadecimal key part"},
        {{"--device", device, "run", numbers}, numbers + ":2: --count: '4294967297'"},
        {{"--device", device, "run", subfolder}, "FILE: '" + subfolder + "' is a directory"},
        {{"--device", device, "run", dir + "/missing.txt"},
         "FILE: cannot read '" + dir + "/missing.txt'"},
        {{"--device", device, "run", empty}, "FILE: '" + empty + "' holds no steps"},
        {{"--device", device, "run", nul}, nul + ":1: holds a NUL byte"},
        {{"--device", device, "run", "/dev/zero"}, "/dev/zero:1: holds a NUL byte"},
        {{"--device", device, "run", longLine}, longLine + ":2: is longer than 4096 characters"},
        {{"--device", device, "run", oversized},
         "FILE: '" + oversized + "' is larger than 1048576 bytes (1 MiB)"},
        {{"--device", device, "run", badWord}, badWord + ":2: DATA: 'ZZZZ"},
        {{"--device", device, "run", control}, control + ":2: 'frobnicate\\x1B[2J' is not a step"},
        {{"--device", device, "run", quote}, quote + ":2: a quote is not closed on this line"},
        {{"--device", device, "run", bom}, bom + ":1: 'frobnicate' is not a step"},
        {{"--device", device, "version", "--expect", "mac=1A2B"},
         "--expect: version reports no field 'mac' (it reports description, model"},
        {{"--device", device, "info", "write", "X", "--expect", "sw"},
         "--expect: 'sw' is not FIELD=VALUE"},
        {{"--device", device, "--unit", "A", "--unit", "B", "version"},
         "--unit: 2 labels for 1 pad: give one per pad"},
        // A key store that cannot keep the key: refused before the key reaches the pad.
        {{"--device", device, "--key-store", fifo, "key", "clear", "00", "30", "--part", part1},
         "--key-store: keys cannot be kept in '" + fifo + "': it is not a regular file"},
        {{"--device", device, "--key-store", subfolder, "key", "clear", "00", "30", "--part",
          part1},
         "--key-store: keys cannot be kept in '" + subfolder + "': it is not a regular file"},
        {{"--device", device, "--key-store", "/dev/null", "key", "clear", "00", "30", "--part",
          part1},
         "--key-store: keys cannot be kept in '/dev/null': it is not a regular file"},
        {{"--device", device, "--key-store", dir + "/none/KeyStock.txt", "key", "clear", "00", "30",
          "--part", part1},
         "--key-store: keys cannot be kept in '" + dir + "/none/KeyStock.txt': its folder"},
        {{"--device", device, "--key-store", readableLink, "key", "clear", "00", "30", "--part",
          part1},
         "--key-store: keys cannot be kept in '" + readableLink +
             "': its symbolic link leads to a file that every user may read"},
    };
    for (const auto& row : rows) {
        const ToolRun run = RunInProcess(row.args);
        SCOPED_TRACE(row.args.back().substr(0, 80) + "\n" + run.out + run.err.substr(0, 2000));
        EXPECT_EQ(run.status, cli::kExitUsage);
        EXPECT_NE(run.err.find("lumenord: " + row.text), std::string::npos);
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(run.err.find(std::string(81, 'Z')), std::string::npos);
        EXPECT_EQ(run.err.find(badKey), std::string::npos);
        EXPECT_FALSE(HasControlCharacters(run.err));
        EXPECT_EQ(lumenord::test::Hex(pad.Read(1, 0)), "");  // not a byte reached the pad
    }
}

// A run file from a FIFO that nobody writes is refused at its idle limit, not waited on for ever.
TEST(RunTool, SilentRunFileSourceEndsAtItsIdleLimit) {
    const lumenord::test::TempWorkDir folder;
    ASSERT_EQ(mkfifo("steps.fifo", 0600), 0);
    try {
        cli::ReadRunFile("steps.fifo", std::chrono::milliseconds(50));
        ADD_FAILURE() << "a silent FIFO was read as a run file";
    } catch (const CLI::ParseError& error) {
        EXPECT_NE(std::string(error.what()).find("'steps.fifo' sent nothing for"),
                  std::string::npos)
            << error.what();
    }
}

// The conventions of a line tool: the version, help that explains exit codes, run files and the
// global options, usage errors for help inside a run file and for display arguments, and never
// a text of the parser library meant for its programmer. None of it reaches the pad.
TEST(RunTool, VersionHelpAndDisplayArgumentsFollowTheConventions) {
    const lumenord::test::TempWorkDir folder;
    lumenord::test::PtyPeer pad;
    const std::string device = pad.SlavePath();
    const std::string& dir = folder.Path();
    const std::string stepHelp = WriteFile(dir + "/help.txt", "info write X\nversion --help\n");
    const std::string shortHelp =
        WriteFile(dir + "/short.txt", "# comment\nkey   clear -h 00 30\n");
    const std::string group = WriteFile(dir + "/group.txt", "card   # power-on forgotten\n");
    const std::string versionJson =
        std::string(R"({"program":"lumenord","version":")") + EXPECTED_VERSION + "\"}\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> out;  // each on stdout
        std::string err;               // on stderr, after "lumenord: "
    } rows[] = {
        {{"--version"},
         cli::kExitSuccess,
         {std::string("lumenord ") + EXPECTED_VERSION + "\n"},
         ""},
        {{"--json", "--version"}, cli::kExitSuccess, {versionJson}, ""},
        {{"--version", "--device", device, "--json"}, cli::kExitSuccess, {versionJson}, ""},
        {{"--version", "--device", device, "version"},
         cli::kExitUsage,
         {},
         "--version: runs no step"},
        {{}, cli::kExitUsage, {}, "a step (or run FILE) is required"},
        {{"--help"},
         cli::kExitSuccess,
         {"Exit codes:\n  0    every step succeeded\n  1    a step failed", "\n  2    usage error",
          "\n  70   internal error", "\n  130  Ctrl-C (SIGINT)", "\n  143  SIGTERM",
          "a word that begins with '#' starts a\n  comment", "single or double quotes keep blanks",
          "Blank lines are skipped", "Examples:\n  lumenord --device ./ttyPAD version\n",
          "-q,--quiet", "--version"},
         ""},
        {{"key", "clear", "--help"},
         cli::kExitSuccess,
         {"Usage: lumenord key clear", "Global options (given before the step):\n",
          "--device TEXT:PATH", "--json", "-q,--quiet", "--version"},
         ""},
        {{"display", "-h"},
         cli::kExitSuccess,
         {"MODE TEXT:MODE REQUIRED", "display mode: 30 bytes, 31/32 a code, 40-7F cipher text",
          "Global options (given before the step)"},
         ""},
        {{"--device", device, "run", stepHelp},
         cli::kExitUsage,
         {},
         stepHelp + ":2: --help is not a step; for the help of the step run 'lumenord version "
                    "--help' on the command line"},
        {{"--device", device, "run", shortHelp},
         cli::kExitUsage,
         {},
         shortHelp + ":2: --help is not a step; for the help of the step run 'lumenord key "
                     "clear --help'"},
        {{"--device", device, "info"},
         cli::kExitUsage,
         {},
         "'info' needs one of its steps: read, write"},
        {{"--device", device, "run", group},
         cli::kExitUsage,
         {},
         group + ":1: 'card' needs one of its steps: power-on, status, power-off, apdu"},
        {{"--device", device, "display", "33"},
         cli::kExitUsage,
         {},
         "MODE: display mode '33' is not one of 30, 31, 32, 40-7F"},
        {{"--device", device, "display", "80", "00"},
         cli::kExitUsage,
         {},
         "MODE: display mode '80' is not one of 30, 31, 32, 40-7F"},
        {{"--device", device, "display", "31", "3A"},
         cli::kExitUsage,
         {},
         "DATA: display mode 31 takes one code from 30 to 39, not '3A'"},
        {{"--device", device, "display", "32", "2F"},
         cli::kExitUsage,
         {},
         "DATA: display mode 32 takes one code from 30 to 39, not '2F'"},
        {{"--device", device, "display", "32"},
         cli::kExitUsage,
         {},
         "DATA: display mode 32 takes one code from 30 to 39, not ''"},
        {{"--device", device, "display", "40", "--text", "HI"},
         cli::kExitUsage,
         {},
         "--text: is for display mode 30 only"},
    };
    for (const auto& row : rows) {
        const ToolRun run = RunInProcess(row.args);
        SCOPED_TRACE((row.args.empty() ? "(no arguments)" : row.args.back()) + "\n" + run.out +
                     run.err);
        EXPECT_EQ(run.status, row.status);
        for (const std::string& text : row.out) EXPECT_NE(run.out.find(text), std::string::npos);
        if (row.err.empty()) {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_NE(run.err.find("lumenord: " + row.err), std::string::npos);
        }
        if (row.status != cli::kExitSuccess) {
            EXPECT_EQ(run.out, "");
        }
        EXPECT_EQ((run.out + run.err).find("caught in your main"), std::string::npos);
        EXPECT_EQ(lumenord::test::Hex(pad.Read(1, 0)), "");
    }
}

// `ports` needs no pad: it lists the devices of the tree that LUMENORD_DEVICE_ROOT names and the
// ports that ./sysconfig.ini (or the default) makes open each; a settings file that does not read
// whole fails the step rather than show a mapping the driver would not use.
TEST(RunTool, PortsListsTheDevicesAndThePortsThatOpenThem) {
    const lumenord::test::TempWorkDir folder;
    const testsupport::FakeSysfs tree(folder.Path() + "/root");
    tree.AddUsbPort("ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2",
                    "usb-FTDI_A1B2-if00-port0");
    tree.AddUart("ttyS0", "4", "pnp0/00:01", "serial");
    tree.AddUart("ttyS1", "0", "platform/serial8250", "serial8250");
    setenv("LUMENORD_DEVICE_ROOT", tree.root().c_str(), 1);
    const std::string usb =
        R"({"node":"/dev/ttyUSB0","by_id":["/dev/serial/by-id/usb-FTDI_A1B2-if00-port0"],)"
        R"("driver":"ftdi_sio","vendor_id":"0403","product_id":"6001","manufacturer":"FTDI",)"
        R"("product":"FT232R USB UART","serial":"A1B2","ports":)";
    const std::string uart =
        R"({"node":"/dev/ttyS0","by_id":[],"driver":"serial","vendor_id":"","product_id":"",)"
        R"("manufacturer":"","product":"","serial":"","ports":)";
    struct Row {
        const char* settings;  // nullptr: no file; "fifo": a FIFO in its place
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Row rows[] = {
        {nullptr,
         {"ports"},
         cli::kExitSuccess,
         "ok   ports: devices=[" + uart + R"(["com1"]},)" + usb + "[]}] mapped={}"},
        {"[PORTS]\nCOM1=/dev/serial/by-id/usb-FTDI_A1B2-if00-port0\nCOM4=/dev/ttyUSB0\n"
         "COM7=/dev/ttyACM3\n",
         {"--json", "ports"},
         cli::kExitSuccess,
         R"({"step":1,"operation":"ports","request":"","result":null,"result_text":"success",)"
         R"("ok":true,"class":"passed","reply":{"devices":[)" +
             uart + "[]}," + usb +
             R"(["com1","com4"]}],"mapped":{"com1":"/dev/serial/by-id/usb-FTDI_A1B2-if00-port0",)"
             R"("com4":"/dev/ttyUSB0","com7":"/dev/ttyACM3"}},"ms":)"},
        {"fifo",
         {"ports"},
         cli::kExitStepFailed,
         "FAIL ports: ./sysconfig.ini is there but does not read whole"},
    };
    for (const Row& row : rows) {
        std::filesystem::remove("sysconfig.ini");
        if (row.settings != nullptr && std::string(row.settings) == "fifo") {
            ASSERT_EQ(mkfifo("sysconfig.ini", 0600), 0);
        } else if (row.settings != nullptr) {
            WriteFile("sysconfig.ini", row.settings);
        }
        const ToolRun run = RunInProcess(row.args);
        SCOPED_TRACE(run.out + run.err);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.out.rfind(row.out, 0), 0u);
        EXPECT_EQ(run.err, "");
    }
    unsetenv("LUMENORD_DEVICE_ROOT");
}

}  // namespace
