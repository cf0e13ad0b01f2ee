// The one serial channel to the pad: line parameters, frame writes, reads until an end byte
// (and two check bytes), counted reads for key presses, output purge. Every wait is bounded
// and pumps the host's messages on each pass.
#pragma once

#include <cstdint>
#include <memory>

namespace lumenord {

class SerialPort;

class SerialChannel {
public:
    static constexpr int kBufferSize = 4096;
    // 16-bit read codes; as signed 16-bit numbers -1, -11 and -10.
    static constexpr std::uint16_t kNothingQueued = 0xFFFF;
    static constexpr std::uint16_t kEndTimeout = 0xFFF5;
    static constexpr std::uint16_t kCountTimeout = 0xFFF6;

    SerialChannel();
    ~SerialChannel();
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // Stored unchanged; mapped to line settings at the next Open.
    void SetParameters(int portNumber, int baudRate, std::uint8_t parityCode,
                       std::uint8_t dataBitsCode, std::uint8_t stopBitsCode);
    int Open();   // 1 open (or already open), 0 failed
    int Close();  // always 1
    bool IsOpen() const { return m_open != 0; }

    // Writes the frame; returns its length, or 0 when closed or the length is not positive.
    int WriteFrame(const char* frame, int length);
    // Reads until the end byte and two more bytes have arrived, or the time-out has passed (a
    // negative time-out ends at once). A line that hangs up ends the read as a time-out with
    // nothing received.
    std::uint16_t ReadByEndChar(char endByte, int timeoutSeconds);
    std::uint16_t AsynReadByEndChar(char endByte, std::uint32_t limitMs);
    std::uint16_t PollReadCount(std::uint16_t count, std::int16_t timeoutSeconds);
    std::uint16_t ReadCount(std::uint16_t count);
    void Purge();

    const char* ReceiveBuffer() const { return m_receiveBuffer; }
    int ReceivedCount() const { return m_receivedCount; }
    void ClearReceiveBuffer();
    const char* SentCopy() const { return m_sentCopy; }
    int SentLength() const { return m_sentLength; }
    bool TraceEnabled() const { return m_traceEnabled == 1; }

private:
    // Writes one byte, waiting (and pumping) at most a second for room in the output queue.
    void WriteAll(const std::uint8_t* bytes, int length);
    void StoreByte(std::uint8_t byte);
    // Ends an end-byte read that ran out of time: purge, note, time-out code.
    std::uint16_t EndTimeout(const char* note);
    // Ends an end-byte read whose line has gone: what arrived is no reply.
    std::uint16_t LineGone(const char* note);
    // Waits at most the settle time for `count` bytes to be queued.
    void SettleUntilQueued(std::uint16_t count);

    int m_portNumber = 0;
    char m_receiveBuffer[kBufferSize + 1] = {};
    char m_sentCopy[kBufferSize + 1] = {};
    int m_receivedCount = 0;
    int m_sentLength = 0;
    bool m_endSeen = false;
    std::unique_ptr<SerialPort> m_port;
    std::uint8_t m_open = 0;
    std::uint8_t m_stopBitsCode = 0;
    std::uint8_t m_dataBitsCode = 0;
    std::uint8_t m_parityCode = 0;
    int m_traceEnabled = 0;
    int m_baudRate = 9600;
};

}  // namespace lumenord
