// The frame trace as a host sees it: the built shared library loaded at run time in a fresh
// working directory, since the trace switch is read from ./sysconfig.ini when it is loaded.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
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
#include <vector>

#include "../include/pinpad.h"
#include "pty_peer.h"

namespace {

using lumenord::test::PtyPeer;
using lumenord::test::ReadFileText;
using lumenord::test::ReplyFrame;
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

}  // namespace
