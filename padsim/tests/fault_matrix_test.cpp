// Every device export against every fault the simulated pad can inject: each call ends with a
// defined result code within its read time-out, and writes nothing past its output buffer (each
// has exactly its documented size, on the heap, under AddressSanitizer). The cells run in child
// processes, one per export, side by side, so that the faults that wait out a time-out cost one
// time-out per fault instead of one per cell. Each fault is a case of its own, so that ctest runs
// the faults side by side. With LUMENORD_RELIABILITY_DOC set to a Markdown file, a run of every
// fault writes the table export x fault -> result into it between its matrix markers.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "padsim/pty_pad.h"
#include "pinpad.h"
#include "reference_crypto.h"

namespace padsim::test {
namespace {

using std::chrono::milliseconds;

const std::string kImk = "0123456789ABCDEFFEDCBA9876543210";
const std::string kWorking = "1C587F1C13924FEF4A5B3D2C1F0E8F9D";
const std::string kAuthKey = "00112233445566778899AABBCCDDEEFF";

// A heap buffer of exactly the documented size.
struct Out {
    explicit Out(std::size_t size) : bytes(size, 'x') {}
    char* data() { return bytes.data(); }
    std::vector<char> bytes;
};

struct Export {
    const char* name;
    double timeoutSeconds;          // the longest the call may take
    std::function<void()> prepare;  // before the fault is set (state the call needs)
    std::function<int()> call;
};

void LoadWorkingKey(const char* index, char tag) {
    Out code(9);
    PinPad_DownloadKey(("0002" + kImk).c_str(), 36, code.data(), 0);
    const std::string record = std::string("00") + index + tag + "2" + RefEncrypt(kImk, kWorking) +
                               RefVerifyCode(kWorking);
    PinPad_DownloadEncryptKey(record.c_str(), static_cast<unsigned>(record.size()), code.data());
}

std::string g_challenge;

const std::vector<Export>& Exports() {
    static const std::vector<Export> exports = {
        {"PinPad_GetCustInfo",
         4,
         {},
         [] {
             Out o(256);
             return PinPad_GetCustInfo(o.data());
         }},
        {"PinPad_SetCustInfo", 4, {}, [] { return PinPad_SetCustInfo("customer 42", 11); }},
        {"PinPad_SetKeyboardValue",
         4,
         {},
         [] { return PinPad_SetKeyboardValue(std::string(48, '3').c_str(), 48); }},
        {"PinPad_SetControlCode", 4, {}, [] { return PinPad_SetControlCode("032", 3); }},
        {"PinPad_ReadOneByte",
         1.5,
         {},
         [] {
             unsigned char b = 0;
             return PinPad_ReadOneByte(&b);
         }},
        {"PinPad_DownloadKey",
         4,
         {},
         [] {
             Out o(9);
             return PinPad_DownloadKey(("0002" + kImk).c_str(), 36, o.data(), 0);
         }},
        {"PinPad_DownloadEncryptKey", 4, [] { LoadWorkingKey("30", '3'); },
         [] {
             Out o(9);
             return PinPad_DownloadEncryptKey("003000", 6, o.data());
         }},
        {"PinPad_InitAuthorization",
         4,
         {},
         [] {
             Out o(33);
             return PinPad_InitAuthorization(kAuthKey.c_str(), 32, o.data());
         }},
        {"PinPad_GetChallenge",
         4,
         {},
         [] {
             Out o(33);
             return PinPad_GetChallenge(o.data());
         }},
        {"PinPad_BidirectionalAuthorization", 8,
         [] {
             Out o(33);
             PinPad_InitAuthorization(kAuthKey.c_str(), 32, o.data());
             PinPad_GetChallenge(o.data());
             g_challenge = o.data();
         },
         [] {
             Out o(33);
             return PinPad_BidirectionalAuthorization(kAuthKey.c_str(), 32, "30",
                                                      g_challenge.c_str(), o.data());
         }},
        {"PinPad_EnablePin", 4, [] { LoadWorkingKey("30", '3'); },
         [] { return PinPad_EnablePin("00000", 5); }},
        {"PinPad_GetPinValue",
         2,
         {},
         [] {
             Out o(256);
             return PinPad_GetPinValue("", 0, 2, o.data());
         }},
        {"PinPad_MakeMac", 4, [] { LoadWorkingKey("31", '5'); },
         [] {
             Out o(17);
             return PinPad_MakeMac("313Now is the time for all ", 27, o.data());
         }},
        {"PinPad_EncryptData", 4, [] { LoadWorkingKey("40", '6'); },
         [] {
             Out o(4096);
             return PinPad_EncryptData("4010123456789ABCDEF", 19, o.data());
         }},
        {"PinPad_IC_Control",
         4,
         {},
         [] {
             Out o(2048);
             return PinPad_IC_Control("1881", o.data());
         }},
        {"PinPad_IC_Access",
         4,
         {},
         [] {
             Out o(2048);
             return PinPad_IC_Access("100A40000023F00", o.data());
         }},
        {"PinPad_DispInfoLcd", 4, {}, [] { return PinPad_DispInfoLcd("0Hello", 6); }},
    };
    return exports;
}

struct Fault {
    const char* name;
    std::function<void(Faults&, double timeoutSeconds)> set;
};

const std::vector<Fault>& FaultList() {
    static const std::vector<Fault> faults = {
        {"none", [](Faults&, double) {}},
        {"silence", [](Faults& f, double) { f.silent = true; }},
        {"line noise",
         [](Faults& f, double) {
             f.noise =
                 "\xFF\x7Fjunk\x02\x03"
                 "9\x02";
         }},
        {"cut short", [](Faults& f, double) { f.cutReplyAfter = 4; }},
        {"wrong check", [](Faults& f, double) { f.wrongCheck = true; }},
        {"oversized", [](Faults& f, double) { f.oversizeData = 6000; }},
        {"delay below", [](Faults& f, double t) { f.delay = milliseconds(int(t * 1000 / 3)); }},
        {"delay beyond", [](Faults& f, double t) { f.delay = milliseconds(int(t * 1000) + 1500); }},
        {"forced status",
         [](Faults& f, double) {
             for (char c : std::string("123456789:;@A")) f.forcedStatus[c] = 0xE5;
         }},
        {"low battery", [](Faults& f, double) { f.lowBattery = true; }},
        {"vanished", [](Faults& f, double) { f.disappearAfter = 0; }},
    };
    return faults;
}

struct Cell {
    int result = 0;
    double seconds = 0;
    bool crashed = false;
};

// In a child: a pad of its own in a directory of its own, the export's state, the fault, the call.
[[noreturn]] void RunCell(const Export& e, const Fault& fault, int report) {
    alarm(60);
    char dir[] = "/tmp/fault-matrix-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) _exit(90);
    int code = 91;
    {
        PtyPad pad{PadOptions{}};
        std::ofstream ini("sysconfig.ini");
        ini << "[SYSTEM]\nTIMEOUTLOGDIR=" << dir << "\n[PORTS]\nCOM1=" << pad.DevicePath() << "\n";
        ini.close();
        const char none = 0, eight = 8, one = 1;
        if (PinPad_EnablePort("com1", 9600, &none, &eight, &one) == 0) {
            if (e.prepare) e.prepare();
            pad.With([&](PadSimulator& s) { fault.set(s.faults(), e.timeoutSeconds); });
            const auto start = std::chrono::steady_clock::now();
            Cell cell;
            cell.result = e.call();
            cell.seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            PinPad_DisablePort();
            code = write(report, &cell, sizeof cell) == sizeof cell ? 0 : 92;
        }
    }
    std::filesystem::remove_all(dir);
    _exit(code);
}

// Runs every export against `fault` side by side.
std::vector<Cell> RunFault(const Fault& fault) {
    const auto& exports = Exports();
    std::vector<Cell> cells(exports.size());
    std::vector<std::pair<pid_t, int>> children;
    for (const Export& e : exports) {
        int fds[2];
        if (pipe(fds) != 0) std::abort();
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            RunCell(e, fault, fds[1]);
        }
        close(fds[1]);
        children.emplace_back(pid, fds[0]);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        auto [pid, fd] = children[i];
        Cell cell;
        cell.crashed = true;
        if (read(fd, &cell, sizeof cell) == sizeof cell) cell.crashed = false;
        close(fd);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) cell.crashed = true;
        cells[i] = cell;
    }
    return cells;
}

std::string CellText(const Cell& cell) {
    if (cell.crashed) return "CRASH";
    return std::to_string(cell.result);
}

void WriteTable(const std::vector<std::vector<Cell>>& results, const char* docPath) {
    std::ostringstream table;
    table << "| export |";
    for (const Fault& f : FaultList()) table << ' ' << f.name << " |";
    table << "\n|---|";
    for (std::size_t i = 0; i < FaultList().size(); ++i) table << "---|";
    table << '\n';
    for (std::size_t e = 0; e < Exports().size(); ++e) {
        table << "| `" << Exports()[e].name << "` |";
        for (std::size_t f = 0; f < FaultList().size(); ++f)
            table << ' ' << CellText(results[f][e]) << " |";
        table << '\n';
    }
    std::ifstream in(docPath);
    std::stringstream whole;
    whole << in.rdbuf();
    std::string doc = whole.str();
    const std::string begin = "<!-- fault matrix begin -->\n", end = "<!-- fault matrix end -->";
    std::size_t from = doc.find(begin), to = doc.find(end);
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos && from < to) << docPath;
    doc.replace(from + begin.size(), to - from - begin.size(), table.str());
    std::ofstream(docPath) << doc;
}

// What each export gives against a sound pad: success, except "no byte" for the key read and the
// pad's own answers where the call lacks the state it needs (no authentication key for the index,
// no PIN entered, card not powered).
int FaultFreeResult(const std::string& name) {
    if (name == "PinPad_ReadOneByte") return -1;
    if (name == "PinPad_BidirectionalAuthorization") return 228;
    if (name == "PinPad_GetPinValue") return 235;
    if (name == "PinPad_IC_Access") return 67;
    return 0;
}

// The rows of the faults run so far, in the order of FaultList; a fault not run is empty.
std::vector<std::vector<Cell>>& ResultsSoFar() {
    static std::vector<std::vector<Cell>> results(FaultList().size());
    return results;
}

class FaultMatrix : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FaultMatrix, EveryExportEndsWithADefinedResultWithinItsTimeOut) {
    const auto& exports = Exports();
    const std::string fault = FaultList()[GetParam()].name;
    const std::vector<Cell> cells = RunFault(FaultList()[GetParam()]);
    for (std::size_t e = 0; e < exports.size(); ++e) {
        const Cell& cell = cells[e];
        const std::string name = exports[e].name;
        std::string where = name;
        where.append(" / ").append(fault);
        ASSERT_FALSE(cell.crashed) << where;
        EXPECT_GE(cell.result, -4) << where;
        EXPECT_LE(cell.result, 255) << where;
        EXPECT_LE(cell.seconds, exports[e].timeoutSeconds + 1.0) << where;
        const bool sendsRequest = name != "PinPad_ReadOneByte";
        // Faults that leave the reply intact give the fault-free result.
        if (fault == "none" || fault == "line noise" || fault == "delay below") {
            EXPECT_EQ(cell.result, FaultFreeResult(name)) << where;
        }
        if (sendsRequest &&
            (fault == "silence" || fault == "cut short" || fault == "wrong check" ||
             fault == "delay beyond" || fault == "vanished" || fault == "forced status")) {
            EXPECT_NE(cell.result, 0) << where;
        }
        if (fault == "low battery") {
            const bool reports = name == "PinPad_GetCustInfo" || name == "PinPad_DispInfoLcd";
            EXPECT_EQ(cell.result, reports ? 224 : FaultFreeResult(name)) << where;
        }
    }
    ResultsSoFar()[GetParam()] = cells;
}

// A fault's name as a test name: letters and digits, blanks as underscores.
std::string FaultTestName(const ::testing::TestParamInfo<std::size_t>& info) {
    std::string name = FaultList()[info.param].name;
    for (char& c : name)
        if (c == ' ') c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::Range<std::size_t>(0, FaultList().size()),
                         FaultTestName);

// Writes the table once every fault has run (a filtered run writes nothing).
class TableWriter : public ::testing::Environment {
public:
    void TearDown() override {
        const char* doc = std::getenv("LUMENORD_RELIABILITY_DOC");
        if (!doc) return;
        for (const auto& row : ResultsSoFar())
            if (row.empty()) return;
        WriteTable(ResultsSoFar(), doc);
    }
};

const auto* const kTableWriter = ::testing::AddGlobalTestEnvironment(new TableWriter);

}  // namespace
}  // namespace padsim::test
