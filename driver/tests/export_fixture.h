// What the export tests share: caller buffers that show every byte an export writes, and a
// fixture with the port enabled on a scripted peer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pinpad.h"
#include "pty_peer.h"

namespace lumenord::test {

// An output buffer of exactly the documented size, on the heap so that ASan sees every overrun,
// filled with 'x' so that untouched bytes show.
struct Output {
    explicit Output(std::size_t size) : bytes(size, 'x') {}
    char* data() { return bytes.data(); }
    std::string Text() const {
        return std::string(bytes.data(), strnlen(bytes.data(), bytes.size()));
    }
    bool Untouched() const {
        return std::string(bytes.begin(), bytes.end()) == std::string(bytes.size(), 'x');
    }
    std::vector<char> bytes;
};

class ExportTest : public ::testing::Test {
protected:
    static constexpr int kFrameWaitMs = 3000;

    void SetUp() override {
        WriteSysconfig(1, peer.SlavePath(), "TIMEOUTLOGDIR=" + dir.Path() + "\n");
        ASSERT_EQ(PinPad_EnablePort("com1", 9600, "N", "8", "1"), 0);
    }
    void TearDown() override { PinPad_DisablePort(); }

    // Runs `call` while the peer answers its requests with `replies` in turn; returns what the
    // peer read.
    std::vector<std::string> Exchange(std::vector<std::string> replies,
                                      const std::function<void()>& call, int replyDelayMs = 0) {
        peer.Serve(std::move(replies), kFrameWaitMs, replyDelayMs);
        call();
        return peer.Requests();
    }

    // Nothing reached the line (waits a little for a byte that should never come).
    void ExpectNothingSent() { EXPECT_EQ(Hex(peer.Read(1, 150)), ""); }

    TempWorkDir dir;
    PtyPeer peer;
};

}  // namespace lumenord::test
