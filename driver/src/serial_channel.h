// The one serial channel to the pad: line parameters, frame writes, reads until a reply is
// complete, counted reads for key presses, purges. Every wait is bounded by one deadline and
// pumps the host's messages on each pass.
#pragma once

#include <cstdint>
#include <memory>

namespace lumenord {

class SerialPort;

// What the channel's waits ask of the library around them: the host's messages pumped on each
// pass, whether the host has cancelled the waits, and a note of why the current call fails. The
// channel knows nothing more of the library; a hook left null does nothing (never cancelled).
struct WaitHooks {
    void (*pump)() = nullptr;
    // Whether there is anything to pump (a host's pump, a thread's window messages): a wait
    // then wakes every few milliseconds to pump it; else it sleeps until something happens.
    bool (*pumpWanted)() = nullptr;
    bool (*cancelled)() = nullptr;
    void (*noteFailure)(int reason) = nullptr;
};

class SerialChannel {
public:
    static constexpr int kBufferSize = 4096;
    // 16-bit read codes; as signed 16-bit numbers -11 and -10.
    static constexpr std::uint16_t kEndTimeout = 0xFFF5;
    static constexpr std::uint16_t kCountTimeout = 0xFFF6;

    // Where the reply among the bytes received so far ends: the number of bytes that make it up,
    // or 0 while more must come.
    using ReplyEnd = int (*)(const char* bytes, int count);

    explicit SerialChannel(WaitHooks hooks = {});
    ~SerialChannel();
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // Stored unchanged; mapped to line settings at the next Open.
    void SetParameters(int portNumber, int baudRate, std::uint8_t parityCode,
                       std::uint8_t dataBitsCode, std::uint8_t stopBitsCode);
    int Open();   // 1 open (or already open), 0 failed
    int Close();  // always 1
    bool IsOpen() const { return m_open != 0; }

    // Drops whatever the line has queued both ways, and the bytes kept from earlier reads, so
    // that what arrives next answers the request about to be written.
    void DiscardPending();
    // Writes the frame; returns its length, or 0 when closed or the length is not positive. A
    // frame that did not go out whole notes why (LUMENORD_FAILURE_WRITE_FAILED), unless the
    // line hung up or the host cancelled, which the read that follows notes.
    int WriteFrame(const char* frame, int length);
    // Reads until `replyEnd` finds a complete reply, or until `timeoutSeconds` have passed since
    // the call (0 or less: at once). Returns the reply's length; bytes that came behind it are
    // kept for PollReadCount. On time-out returns kEndTimeout, the bytes that came staying in the
    // receive buffer. A line that has hung up ends the read at once, as a time-out with nothing
    // received. A reply that outgrows the receive buffer is read on to its end byte and two
    // more, and returned cut. Bytes kept from earlier reads are not looked at: the caller
    // discards them before it writes the request. A cancel by the host ends it as a time-out
    // at once, with a note in the frame trace. A hang-up and a cancel note their reason
    // (NoteFailure); what a time-out left in the buffer is for the caller to judge.
    std::uint16_t ReadByEndChar(char endByte, int timeoutSeconds, ReplyEnd replyEnd);
    // Waits until `count` bytes (at least one) have come, bytes kept by ReadByEndChar first, and
    // puts them in the receive buffer; kCountTimeout when the time-out passes first. A line that
    // has hung up waits out the time-out all the same, so that a polling caller cannot spin; a
    // cancel by the host ends it at once. Without the bytes it notes why: no reply, the line
    // hung up, or cancelled.
    std::uint16_t PollReadCount(std::uint16_t count, std::int16_t timeoutSeconds);
    // Discards output not yet sent.
    void Purge();

    const char* ReceiveBuffer() const { return m_receiveBuffer; }
    int ReceivedCount() const { return m_receivedCount; }
    void ClearReceiveBuffer();
    bool TraceEnabled() const { return m_traceEnabled == 1; }
    // Whether replies' check characters are verified (SYSTEM/VERIFYCHECK, read at each Open).
    bool VerifyChecks() const { return m_verifyChecks; }

private:
    void PumpMessages() const {
        if (m_hooks.pump != nullptr) m_hooks.pump();
    }
    bool WaitsCancelled() const { return m_hooks.cancelled != nullptr && m_hooks.cancelled(); }
    // The longest wait of one pass of an end-byte read.
    std::uint32_t PassSlice() const;
    void NoteFailure(int reason) const {
        if (m_hooks.noteFailure != nullptr) m_hooks.noteFailure(reason);
    }

    // Writes the frame, waiting (and pumping) at most a second at a time for room in the output
    // queue; false when it did not go out whole.
    bool WriteAll(const std::uint8_t* bytes, int length);
    // Ends an end-byte read that ran out of time: purge, note, time-out code.
    std::uint16_t EndTimeout(const char* note);
    // A wait that the host cancelled: the frame trace's note and the reason.
    void NoteCancel();
    // Ends an end-byte read that the host cancelled: purge, notes, time-out code.
    std::uint16_t Cancelled();
    // Ends an end-byte read whose line has gone: what arrived is no reply.
    std::uint16_t LineGone();
    // Ends an end-byte read whose reply is complete after `length` bytes.
    std::uint16_t ReplyComplete(int length);
    // Reads on, dropping the bytes, until the end byte and two more have come; false when the
    // time-out or a hang-up ended it first.
    bool DrainToEnd(char endByte, std::uint64_t start, std::uint32_t limitMs);
    // Moves `count` bytes from the front of the kept bytes to the receive buffer.
    void TakeKept(int count);

    WaitHooks m_hooks;
    int m_portNumber = 0;
    char m_receiveBuffer[kBufferSize + 1] = {};
    int m_receivedCount = 0;
    std::unique_ptr<SerialPort> m_port;
    std::uint8_t m_open = 0;
    std::uint8_t m_stopBitsCode = 0;
    std::uint8_t m_dataBitsCode = 0;
    std::uint8_t m_parityCode = 0;
    int m_traceEnabled = 0;
    int m_baudRate = 9600;
    bool m_verifyChecks = true;
    // Bytes that came behind a reply, or before a counted read wanted them (key presses).
    char m_kept[kBufferSize] = {};
    int m_keptCount = 0;
};

}  // namespace lumenord
