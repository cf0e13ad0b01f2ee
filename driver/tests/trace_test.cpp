// The frame trace as a host sees it: the built shared library loaded at run time in a fresh
// working directory, since the trace switch is read from ./sysconfig.ini when it is loaded.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../include/pinpad.h"
#include "pty_peer.h"

namespace {

using lumenord::test::PtyPeer;
using lumenord::test::ReadFileText;
using lumenord::test::ReplyFrame;
using lumenord::test::ReplyFrameWithLength;
using lumenord::test::TempWorkDir;

// The driver loaded for the lifetime of the object.
class Library {
public:
    Library() : m_handle(dlopen(LUMENORD_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {
        if (m_handle == nullptr) throw std::runtime_error(dlerror());
        enablePort = Bind<decltype(&PinPad_EnablePort)>("PinPad_EnablePort");
        disablePort = Bind<decltype(&PinPad_DisablePort)>("PinPad_DisablePort");
        setCustInfo = Bind<decltype(&PinPad_SetCustInfo)>("PinPad_SetCustInfo");
        getPinValue = Bind<decltype(&PinPad_GetPinValue)>("PinPad_GetPinValue");
        getCustInfo = Bind<decltype(&PinPad_GetCustInfo)>("PinPad_GetCustInfo");
        encryptData = Bind<decltype(&PinPad_EncryptData)>("PinPad_EncryptData");
        icControl = Bind<decltype(&PinPad_IC_Control)>("PinPad_IC_Control");
        icAccess = Bind<decltype(&PinPad_IC_Access)>("PinPad_IC_Access");
        cancelWait = Bind<decltype(&Lumenord_CancelWait)>("Lumenord_CancelWait");
        downloadKey = Bind<decltype(&PinPad_DownloadKey)>("PinPad_DownloadKey");
        downloadEncryptKey =
            Bind<decltype(&PinPad_DownloadEncryptKey)>("PinPad_DownloadEncryptKey");
    }
    ~Library() {
        disablePort();
        dlclose(m_handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    int Enable() { return enablePort("com1", 9600, "N", "8", "1"); }

    decltype(&PinPad_EnablePort) enablePort;
    decltype(&PinPad_DisablePort) disablePort;
    decltype(&PinPad_SetCustInfo) setCustInfo;
    decltype(&PinPad_GetPinValue) getPinValue;
    decltype(&PinPad_GetCustInfo) getCustInfo;
    decltype(&PinPad_EncryptData) encryptData;
    decltype(&PinPad_IC_Control) icControl;
    decltype(&PinPad_IC_Access) icAccess;
    decltype(&Lumenord_CancelWait) cancelWait;
    decltype(&PinPad_DownloadKey) downloadKey;
    decltype(&PinPad_DownloadEncryptKey) downloadEncryptKey;

private:
    template <typename F>
    F Bind(const char* name) {
        void* symbol = dlsym(m_handle, name);
        if (symbol == nullptr) throw std::runtime_error(name);
        return reinterpret_cast<F>(symbol);
    }

    void* m_handle;
};

std::string Frame(char command, const std::string& payload) { return ReplyFrame(command, payload); }

// An entry as the trace writes it, with its time stamp shown as [T].
std::string Entry(bool send, const std::string& frame) {
    std::string entry = send ? "Send To POS   [T]" : "Receive From POS  [T]";
    entry += "\nASC[" + frame + "]\nBCD[";
    char group[4];
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (i > 0 && i % 40 == 0) entry += "\r\n";
        std::snprintf(group, sizeof group, "%02X ", static_cast<unsigned char>(frame[i]));
        entry += group;
    }
    return entry + "]\n\n";
}

std::string TraceWithoutStamps() {
    static const std::regex stamp(
        "\\[\\d{4}-\\d{1,2}-\\d{1,2}  \\d{1,2}:\\d{1,2}:\\d{1,2}:\\d{1,3}\\]");
    return std::regex_replace(ReadFileText("logbuf.txt"), stamp, "[T]");
}

class TraceTest : public ::testing::Test {
protected:
    void WriteSettings(const std::string& systemLines) {
        lumenord::test::WriteSysconfig(1, peer.SlavePath(), systemLines);
    }
    // One customer-information write answered with success.
    int Write(Library& library, const std::string& payload) {
        peer.Serve({ReplyFrame('c', "")});
        int result = library.setCustInfo(payload.data(), static_cast<unsigned>(payload.size()));
        peer.Requests();
        return result;
    }

    TempWorkDir dir;
    PtyPeer peer;
};

TEST_F(TraceTest, HoldsExactlyTheEntriesSinceTheLibraryWasLoaded) {
    WriteSettings("DEBUG=1\n");
    std::ofstream("logbuf.txt") << "an entry from an earlier run\n";
    const std::string reply = ReplyFrame('c', "");
    {
        Library library;
        ASSERT_EQ(library.Enable(), 0);
        EXPECT_EQ(Write(library, "FIRST"), 0);
        EXPECT_EQ(Write(library, "SECOND"), 0);
        EXPECT_EQ(TraceWithoutStamps(), Entry(true, Frame('3', "FIRST")) + Entry(false, reply) +
                                            Entry(true, Frame('3', "SECOND")) +
                                            Entry(false, reply));
    }
    // A new load starts the file afresh with its first entry.
    Library again;
    ASSERT_EQ(again.Enable(), 0);
    EXPECT_EQ(Write(again, "THIRD"), 0);
    EXPECT_EQ(TraceWithoutStamps(), Entry(true, Frame('3', "THIRD")) + Entry(false, reply));
}

// The byte groups per line in the BCD part of the last entry of the trace.
std::vector<std::size_t> GroupsPerLine(const std::string& trace) {
    std::size_t begin = trace.rfind("BCD[") + 4;
    std::string bytes = trace.substr(begin, trace.find(']', begin) - begin);
    std::vector<std::size_t> groups;
    std::size_t lineStart = 0;
    for (;;) {
        std::size_t lineEnd = bytes.find("\r\n", lineStart);
        std::string line = bytes.substr(lineStart, lineEnd - lineStart);
        EXPECT_TRUE(std::regex_match(line, std::regex("([0-9A-F]{2} )*"))) << line;
        groups.push_back(line.size() / 3);
        if (lineEnd == std::string::npos) return groups;
        lineStart = lineEnd + 2;
    }
}

TEST_F(TraceTest, BytesComeInLinesOfForty) {
    WriteSettings("DEBUG=1\n");
    Library library;
    ASSERT_EQ(library.Enable(), 0);
    // Send frames of 40, 45 and 81 bytes; the replies are 8 bytes each.
    const std::pair<std::size_t, std::vector<std::size_t>> cases[] = {
        {32, {40}},
        {37, {40, 5}},
        {73, {40, 40, 1}},
    };
    for (const auto& [payloadLength, groups] : cases) {
        SCOPED_TRACE(payloadLength);
        ASSERT_EQ(Write(library, std::string(payloadLength, 'P')), 0);
        std::string trace = TraceWithoutStamps();
        std::size_t reply = trace.rfind("Receive From POS");
        ASSERT_NE(reply, std::string::npos);
        EXPECT_EQ(GroupsPerLine(trace.substr(0, reply)), groups);
        EXPECT_EQ(GroupsPerLine(trace), std::vector<std::size_t>{8});
        EXPECT_EQ(trace.substr(trace.size() - 4), " ]\n\n");
    }
}

TEST_F(TraceTest, ARefusedReplyIsFollowedByItsReason) {
    WriteSettings("DEBUG=1\n");
    Library library;
    ASSERT_EQ(library.Enable(), 0);
    std::string reply = ReplyFrame('c', "");
    const std::string computed = reply.substr(reply.size() - 2);
    reply.replace(reply.size() - 2, 2, "00");
    peer.Serve({reply});
    EXPECT_EQ(library.setCustInfo("X", 1), -4);
    peer.Requests();
    EXPECT_EQ(TraceWithoutStamps(), Entry(true, Frame('3', "X")) + Entry(false, reply) +
                                        "Reply refused: check characters 00, the bytes give " +
                                        computed + "\n\n");
}

TEST_F(TraceTest, StaysOffUnlessDebugIsOne) {
    for (const char* settings : {"", "DEBUG=0\n", "DEBUG=2\n", "none"}) {
        SCOPED_TRACE(settings);
        std::filesystem::remove("sysconfig.ini");
        if (std::string(settings) != "none") WriteSettings(settings);
        Library library;
        // The port mapping is read when the port opens, so it can follow the load.
        WriteSettings("");
        ASSERT_EQ(library.Enable(), 0);
        EXPECT_EQ(Write(library, "QUIET"), 0);  // frames still flow
        EXPECT_FALSE(std::filesystem::exists("logbuf.txt"));
    }
}

// A process of its own among several in one folder names its trace in the environment before
// the first entry (a process forked after the library was loaded, too); the default name is
// left alone.
TEST_F(TraceTest, TheEnvironmentNamesAnotherTraceFile) {
    WriteSettings("DEBUG=1\n");
    {
        Library library;
        setenv("LUMENORD_TRACE_FILE", "logbuf-pad7.txt", 1);
        ASSERT_EQ(library.Enable(), 0);
        EXPECT_EQ(Write(library, "SEVEN"), 0);
        unsetenv("LUMENORD_TRACE_FILE");  // read at the first entry: a later change does nothing
        EXPECT_EQ(Write(library, "EIGHT"), 0);
    }
    EXPECT_FALSE(std::filesystem::exists("logbuf.txt"));
    EXPECT_EQ(ReadFileText("logbuf-pad7.txt").find("Send To POS"), 0u);
    EXPECT_NE(ReadFileText("logbuf-pad7.txt").find("EIGHT"), std::string::npos);
}

// The dated time-out log's name for the current UTC date.
std::string TimeoutLogName() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char name[32];
    std::snprintf(name, sizeof name, "debug%02d%02d.log", utc.tm_mon + 1, utc.tm_mday);
    return name;
}

// Everything under `path` (a file's content and mode, a folder's entries), to see that nothing
// was written, created, emptied or changed there.
std::string Snapshot(const std::filesystem::path& path) {
    std::string shot;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
        struct stat info {};
        lstat(entry.path().c_str(), &info);
        shot += entry.path().string() + " " + std::to_string(info.st_mode) + " " +
                (S_ISREG(info.st_mode) ? ReadFileText(entry.path().string()) : "") + "\n";
    }
    return shot;
}

TEST_F(TraceTest, ALogThatIsNoRegularFileIsLeftAloneAndTheCommandRunsOn) {
    const std::string logs = dir.Path() + "/logs";
    const std::string elsewhere = dir.Path() + "/elsewhere";
    const std::string readOnly = elsewhere + "/kept.txt";
    std::filesystem::create_directory(logs);
    WriteSettings("DEBUG=1\nTIMEOUTLOGDIR=" + logs + "\n");
    using Type = std::filesystem::file_type;
    struct Plant {
        const char* name;
        std::function<int(const char* path)> make;
        Type typeAfter;  // what the log's path still leads to afterwards
    };
    const Plant plants[] = {
        {"FIFO", [](const char* path) { return mkfifo(path, 0666); }, Type::fifo},
        {"link to a read-only file",
         [&](const char* path) { return symlink(readOnly.c_str(), path); }, Type::regular},
        {"link to a directory",
         [&](const char* path) { return symlink((elsewhere + "/folder").c_str(), path); },
         Type::directory},
        {"dangling link",
         [&](const char* path) { return symlink((elsewhere + "/created").c_str(), path); },
         Type::not_found},
        {"directory", [](const char* path) { return mkdir(path, 0777); }, Type::directory},
        {"hard link to a writable file",
         [&](const char* path) {
             std::ofstream(elsewhere + "/linked.txt") << "another file's content\n";
             return link((elsewhere + "/linked.txt").c_str(), path);
         },
         Type::regular},
    };
    for (const Plant& plant : plants) {
        for (bool trace : {true, false}) {
            SCOPED_TRACE(std::string(plant.name) +
                         (trace ? " as logbuf.txt" : " as the dated log"));
            std::filesystem::remove_all("logbuf.txt");
            std::filesystem::remove_all(logs);
            std::filesystem::create_directory(logs);
            std::filesystem::remove_all(elsewhere);
            std::filesystem::create_directories(elsewhere + "/folder");
            std::ofstream(readOnly) << "kept as it is\n";
            chmod(readOnly.c_str(), 0444);
            const std::string logName = logs + "/" + TimeoutLogName();
            const std::string path = trace ? "logbuf.txt" : logName;
            ASSERT_EQ(plant.make(path.c_str()), 0);
            const std::string before = Snapshot(elsewhere);
            // Loaded afresh, so that the trace's first entry, which empties the file, goes there.
            Library library;
            ASSERT_EQ(library.Enable(), 0);

            // A silent pad: the request goes out (a trace entry), the read times out (a note).
            peer.Serve({""});
            std::vector<char> output(256, 'x');
            auto call = std::async(std::launch::async,
                                   [&] { return library.getPinValue("", 0, 1, output.data()); });
            const bool ended = call.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
            // A reader lets a writer go that waits for one, and shows what it wrote.
            int reader =
                plant.typeAfter == Type::fifo ? open(path.c_str(), O_RDONLY | O_NONBLOCK) : -1;
            EXPECT_TRUE(ended) << "the command hung on the log";
            EXPECT_EQ(call.get(), -4);
            EXPECT_EQ(peer.Requests().size(), 1u);
            if (reader >= 0) {
                char byte = 0;
                EXPECT_LE(read(reader, &byte, 1), 0) << "an entry went into the FIFO";
                close(reader);
            }
            EXPECT_EQ(Snapshot(elsewhere), before);
            EXPECT_EQ(std::filesystem::status(path).type(), plant.typeAfter);
            // The other log is written as ever.
            if (trace)
                EXPECT_NE(ReadFileText(logName).find("TimeOut"), std::string::npos);
            else
                EXPECT_NE(TraceWithoutStamps().find("Send To POS"), std::string::npos);
        }
    }
}

// The request frames of both key downloads, as a host sends them, with the key parts and the
// cipher text written as '*' and "**" in the trace; the frames otherwise byte for byte.
TEST_F(TraceTest, KeysStayOutOfTheTraceWhichOnlyItsOwnerReads) {
    WriteSettings("DEBUG=1\n");
    Library library;
    ASSERT_EQ(library.Enable(), 0);
    const std::string clear = "0512" + std::string("0123456789ABCDEF") + "FEDCBA9876543210";
    const std::string cipher = "0010A2" + std::string("89ABCDEF01234567") + "1A2B3C4D";
    const struct {
        std::function<int(char*)> load;
        std::string payload;
        std::size_t keyAt;  // where the key material starts in the payload
        char command;
        char success;
    } loads[] = {
        {[&](char* out) { return library.downloadKey(clear.data(), clear.size(), out, 0); }, clear,
         4, '1', 'a'},
        {[&](char* out) { return library.downloadEncryptKey(cipher.data(), cipher.size(), out); },
         cipher, 6, '2', 'b'},
    };
    std::string expected;
    for (const auto& load : loads) {
        const std::string reply = ReplyFrame(load.success, "1A2B3C4D");
        peer.Serve({reply});
        char out[128] = {};
        EXPECT_EQ(load.load(out), 0);
        peer.Requests();
        std::string masked = Frame(load.command, load.payload);
        const std::size_t first = 5 + load.keyAt;
        masked.replace(first, masked.size() - 3 - first, masked.size() - 3 - first, '*');
        std::string entry = Entry(true, masked);
        // The hidden bytes are "**" in the hexadecimal part as well.
        entry = std::regex_replace(entry, std::regex("2A "), "** ");
        expected += entry + Entry(false, reply);
    }
    EXPECT_EQ(TraceWithoutStamps(), expected);
    struct stat info {};
    ASSERT_EQ(stat("logbuf.txt", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A pad that keeps timing out fills its dated log up to the limit, then one note says so and
// nothing more is written that day; a new log is its owner's alone.
TEST_F(TraceTest, TheTimeoutLogIsBoundedAndItsOwners) {
    const std::string logs = dir.Path() + "/logs";
    std::filesystem::create_directory(logs);
    WriteSettings("TIMEOUTLOGDIR=" + logs + "\n");
    const std::string logName = logs + "/" + TimeoutLogName();
    Library library;
    ASSERT_EQ(library.Enable(), 0);
    auto timeOut = [&] {
        peer.Serve({""});
        std::vector<char> output(256, 'x');
        EXPECT_EQ(library.getPinValue("", 0, 1, output.data()), -4);
        peer.Requests();
        return std::filesystem::file_size(logName);
    };
    timeOut();
    struct stat info {};
    ASSERT_EQ(stat(logName.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Just below the limit: one more note crosses it and the last note follows.
    constexpr std::size_t kLimit = 1024 * 1024;
    std::filesystem::resize_file(logName, kLimit - 10);
    const std::size_t full = timeOut();
    EXPECT_GT(full, kLimit);
    EXPECT_NE(ReadFileText(logName).find("reached its limit of 1048576 bytes"), std::string::npos);
    EXPECT_EQ(timeOut(), full);
}

// Every export that hands on reply data of the reply's own length, against replies just within
// and just beyond what it can hold: a reply it would have to cut gives -4, leaves the output
// as it was, and the trace says why after the received frame.
TEST_F(TraceTest, ARepliesDataThatDoNotFitTheOutputAreRefused) {
    WriteSettings("DEBUG=1\n");
    Library library;
    ASSERT_EQ(library.Enable(), 0);
    auto digits = [](std::size_t n) {
        std::string text;
        while (text.size() < n) text += "0123456789ABCDEF";
        return text.substr(0, n);
    };
    const std::string cardAnswer = digits(2986) + "6A82";  // a card's 2990-byte answer
    struct Case {
        const char* name;
        std::function<int(Library&, char*)> call;
        std::size_t outputSize;  // as the header documents it
        std::string reply;
        int result;
        std::string output;  // what the output holds from the front (for 0)
        std::string note;    // the trace's note after the received frame, if any
    };
    auto custInfo = [](Library& l, char* o) { return l.getCustInfo(o); };
    auto pinValue = [](Library& l, char* o) { return l.getPinValue("", 0, 5, o); };
    auto data = [](Library& l, char* o) { return l.encryptData("301", 3, o); };
    auto control = [](Library& l, char* o) { return l.icControl("1", o); };
    auto access = [](Library& l, char* o) { return l.icAccess("00B2010C00", o); };
    const Case cases[] = {
        {"customer information that fills the reply", custInfo, 256, Frame('c', digits(250)), 0,
         digits(250) + "x", ""},
        {"customer information one byte longer", custInfo, 256, Frame('c', digits(251)), -4, "",
         "Reply refused: 251 data bytes, more than the 250 it can take"},
        {"PIN value of 122 characters", pinValue, 256, Frame('g', digits(122)), 0,
         digits(122) + '\0', ""},
        {"PIN value of 123 characters", pinValue, 256, Frame('g', digits(123)), -4, "",
         "Reply refused: 123 data bytes, more than the 122 it can take"},
        {"PIN value of 1200 characters, length field 000", pinValue, 256,
         ReplyFrameWithLength("000", 'g', digits(1200)), -4, "",
         "Reply refused: 1200 data bytes, more than the 122 it can take"},
        {"data as long as the receive buffer allows", data, 4096, Frame('i', digits(4088)), 0,
         digits(4088) + '\0', ""},
        {"data beyond the receive buffer", data, 4096,
         ReplyFrameWithLength("000", 'i', digits(5000)), -4, "",
         "Reply refused: longer than the receive buffer"},
        {"card control answer of 2038 characters", control, 2048, Frame('p', "0000" + digits(2038)),
         0, digits(2038) + '\0', ""},
        {"card control answer of 2039 characters", control, 2048, Frame('p', "0000" + digits(2039)),
         -4, "", "Reply refused: 2043 data bytes, more than the 2042 it can take"},
        {"card access answer of 2041 characters", access, 2048, Frame('q', "0" + digits(2041)), 0,
         digits(2041) + '\0', ""},
        {"card answer of 2990 characters ending in 6A82", access, 2048,
         Frame('q', "0" + cardAnswer), -4, "",
         "Reply refused: 2991 data bytes, more than the 2042 it can take"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> output(c.outputSize, 'x');  // exactly the documented size, for ASan
        peer.Serve({c.reply});
        EXPECT_EQ(c.call(library, output.data()), c.result);
        peer.Requests();
        if (c.result == 0)
            EXPECT_EQ(std::string(output.data(), c.output.size()), c.output);
        else
            EXPECT_EQ(std::string(output.begin(), output.end()), std::string(c.outputSize, 'x'));
        const std::string trace = TraceWithoutStamps();
        const std::string afterFrame = "]\n\n" + (c.note.empty() ? "" : c.note + "\n\n");
        EXPECT_EQ(trace.substr(trace.size() - std::min(trace.size(), afterFrame.size())),
                  afterFrame);
    }
}

// The cancel that the signal handler below raises.
decltype(&Lumenord_CancelWait) g_cancelFromSignal = nullptr;

void CancelFromSignal(int) { g_cancelFromSignal(1); }

// A PIN read that would wait 255 s for a silent pad ends with -4 once the host cancels: from
// another thread, from a signal handler, or before the call (the cancel is sticky, so it cannot
// be lost between a check and the wait). The trace says so, and once the cancel is lowered the
// next command runs as ever.
TEST_F(TraceTest, ACancelEndsTheWaitAndIsNoted) {
    WriteSettings("DEBUG=1\n");
    Library library;
    ASSERT_EQ(library.Enable(), 0);
    g_cancelFromSignal = library.cancelWait;
    struct sigaction action {};
    struct sigaction saved {};
    action.sa_handler = CancelFromSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);
    const pthread_t caller = pthread_self();

    enum class Cancel { kFromThread, kFromSignal, kBeforeTheCall };
    const struct {
        const char* name;
        Cancel how;
        const char* note;
    } rows[] = {
        {"from another thread", Cancel::kFromThread, "Wait cancelled by the host\n"},
        {"from a signal handler", Cancel::kFromSignal, "Wait cancelled by the host\n"},
        {"before the call", Cancel::kBeforeTheCall,
         "Wait cancelled by the host: request not sent\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove("logbuf.txt");
        if (row.how == Cancel::kBeforeTheCall) library.cancelWait(1);
        std::string request;
        std::thread canceller([&] {
            if (row.how == Cancel::kBeforeTheCall) return;
            // The pad stays silent; the cancel comes once the request is out.
            request = peer.ReadFrame(5000);
            if (row.how == Cancel::kFromThread)
                library.cancelWait(1);
            else
                pthread_kill(caller, SIGUSR1);
        });
        std::vector<char> output(256, 'x');
        const auto start = std::chrono::steady_clock::now();
        const int result = library.getPinValue("", 0, 255, output.data());
        const long long elapsed = lumenord::test::MsSince(start);
        canceller.join();
        EXPECT_EQ(result, -4);
        EXPECT_LT(elapsed, 5000) << "the 255 s wait was not cancelled";
        const std::string trace = TraceWithoutStamps();
        EXPECT_NE(trace.find(row.note), std::string::npos) << trace;
        if (row.how == Cancel::kBeforeTheCall) {
            EXPECT_EQ(lumenord::test::Hex(peer.Read(1, 150)), "");  // nothing was sent
        } else {
            EXPECT_EQ(request, Frame('7', ""));
        }
        library.cancelWait(0);
        EXPECT_EQ(Write(library, "AFTER"), 0);
    }
    sigaction(SIGUSR1, &saved, nullptr);
}

}  // namespace
