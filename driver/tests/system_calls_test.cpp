// What one command costs in system calls, counted through the POSIX serial port's table of calls:
// purge, write, poll and read when the reply comes in one piece, one poll and one read more for
// each further piece, and a poll and a read for a key press.
#include <gtest/gtest.h>

#include <string>

#include "export_fixture.h"
#include "pinpad.h"
#include "pty_peer.h"
#include "serial_port_posix_calls.h"

namespace lumenord {
namespace {

using test::ReplyFrame;

// Counts the calls made through the table while it lives, by kind.
class CallCounter {
public:
    CallCounter() : CallCounter(nullptr, 0, 0) {}
    // The first wait for input first lets `awaitQueued` bytes from `peer` reach the driver's
    // queue; reads take at most `readLimit` bytes (0: as many as asked for).
    CallCounter(const test::PtyPeer* peer, int awaitQueued, int readLimit)
        : m_saved(posix::Calls()),
          m_peer(peer),
          m_awaitQueued(awaitQueued),
          m_readLimit(readLimit) {
        s_active = this;
        posix::Calls() = {&Poll, &Read, &Write, &Ioctl, &Flush};
    }
    ~CallCounter() {
        posix::Calls() = m_saved;
        s_active = nullptr;
    }
    CallCounter(const CallCounter&) = delete;
    CallCounter& operator=(const CallCounter&) = delete;

    int polls = 0, reads = 0, writes = 0, ioctls = 0, flushes = 0;
    int Total() const { return polls + reads + writes + ioctls + flushes; }

private:
    static int Poll(pollfd* fds, nfds_t count, int timeoutMs) {
        CallCounter& self = *s_active;
        ++self.polls;
        // The first wait for input lets the whole reply come first, so that it is one piece.
        // The peer counts the queue with its own calls, which this table does not see.
        if (self.m_awaitQueued > 0 && count >= 1 && fds[0].fd >= 0) {
            self.m_peer->WaitQueuedForDriver(self.m_awaitQueued, 3000);
            self.m_awaitQueued = 0;
        }
        return self.m_saved.poll(fds, count, timeoutMs);
    }
    static ssize_t Read(int fd, void* bytes, size_t count) {
        CallCounter& self = *s_active;
        ++self.reads;
        // Smaller reads stand for a reply that comes in pieces.
        if (self.m_readLimit > 0 && count > static_cast<size_t>(self.m_readLimit))
            count = static_cast<size_t>(self.m_readLimit);
        return self.m_saved.read(fd, bytes, count);
    }
    static ssize_t Write(int fd, const void* bytes, size_t count) {
        ++s_active->writes;
        return s_active->m_saved.write(fd, bytes, count);
    }
    static int Ioctl(int fd, unsigned long request, void* argument) {
        ++s_active->ioctls;
        return s_active->m_saved.ioctl(fd, request, argument);
    }
    static int Flush(int fd, int queues) {
        ++s_active->flushes;
        return s_active->m_saved.tcflush(fd, queues);
    }

    static CallCounter* s_active;
    posix::SystemCalls m_saved;
    const test::PtyPeer* m_peer;
    int m_awaitQueued;
    int m_readLimit;
};

CallCounter* CallCounter::s_active = nullptr;

class CommandCalls : public test::ExportTest {};

TEST_F(CommandCalls, ACommandIsPurgeWritePollAndReadPerPiece) {
    const std::string reply = ReplyFrame('j', "0123456789ABCDEF0123456789ABCDEF");  // 40 bytes
    struct Case {
        const char* name;
        int readLimit;
        int pieces;
    };
    const Case cases[] = {
        {"reply in one piece", 0, 1},
        {"reply in three pieces", 16, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char output[64] = {};
        int result = 0, polls = 0, reads = 0, writes = 0, ioctls = 0, flushes = 0, total = 0;
        peer.Serve({reply});
        {
            CallCounter counter(&peer, static_cast<int>(reply.size()), c.readLimit);
            result = PinPad_GetChallenge(output);
            polls = counter.polls;
            reads = counter.reads;
            writes = counter.writes;
            ioctls = counter.ioctls;
            flushes = counter.flushes;
            total = counter.Total();
        }
        peer.Requests();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(flushes, 1);  // input and output purged in one call
        EXPECT_EQ(writes, 1);
        EXPECT_EQ(polls, c.pieces);
        EXPECT_EQ(reads, c.pieces);
        EXPECT_EQ(ioctls, 0);  // no queue counts: the read tells
        EXPECT_EQ(total, 2 + 2 * c.pieces);
    }
}

TEST_F(CommandCalls, AKeyPressIsOnePollAndOneRead) {
    peer.Write("5");
    ASSERT_TRUE(peer.WaitQueuedForDriver(1, 2000));
    CallCounter counter;
    unsigned char key = 0;
    EXPECT_EQ(PinPad_ReadOneByte(&key), 0);
    EXPECT_EQ(key, '5');
    EXPECT_EQ(counter.polls, 1);
    EXPECT_EQ(counter.reads, 1);
    EXPECT_EQ(counter.Total(), 2);
}

}  // namespace
}  // namespace lumenord
