// The frame monitor's rows without widgets: what a frame is called, which of its bytes are key
// material, and the texts of the columns, the clipboard and the saved file.
#pragma once

#include <pinpad.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <deque>
#include <utility>

namespace monitor {

enum class Direction { kSent, kReceived };

// One frame as the driver reported it.
struct FrameRecord {
    QDateTime time;
    Direction direction = Direction::kSent;
    // The command byte of a request, or of the request a reply answers (0 when unknown).
    char command = 0;
    QByteArray bytes;  // as reported, or its first kMaxKeptBytes when longer
    int length = 0;    // the frame's length as reported
    int status = -1;   // a reply's status byte; -1 for a request and a reply that is not sound
    int roundTripMicroseconds = 0;
    // Why a reply is not sound, as the driver named it while it reported the reply.
    int failure = LUMENORD_FAILURE_NONE;
};

// Frame bytes kept per row; the driver's frames are at most a few thousand bytes.
inline constexpr int kMaxKeptBytes = 8192;

// The command's name for the operator ("download key", "MAC", ...); unknown ones by their code.
QString CommandName(char command);

// The bytes [first, last) of a request frame that carry key material: the key parts of a
// clear-text key record, the cipher text of an enciphered one. Empty (first == last) for every
// other frame.
std::pair<int, int> KeyMaterialSpan(const FrameRecord& frame);

// The columns of a row, in the order of kColumnTitles.
inline const QStringList kColumnTitles = {"Time",  "Direction", "Command", "Length",
                                          "Bytes", "Status",    "Result",  "Round trip (ms)"};
// The frame's bytes in hexadecimal, key material as "**" unless `unmasked`; "..." ends the
// bytes of a frame longer than the bytes kept.
QString BytesText(const FrameRecord& frame, bool unmasked);
QStringList ColumnTexts(const FrameRecord& frame, bool unmasked);
// Tab-separated lines with a title line, for the clipboard and the saved file.
QString FramesText(const std::deque<FrameRecord>& frames, bool unmasked);

// The frames the monitor keeps: the newest kCapacity; how many older ones were let go is counted.
class FrameLog {
public:
    static constexpr std::size_t kCapacity = 10000;

    // Adds `frame`; a reply takes the command of the request sent before it.
    void Add(FrameRecord frame);
    // Lets the oldest frame go (counted as dropped); for a view that must announce the removal.
    void DropOldest();
    // Counts frames let go before they reached the log.
    void CountLost(std::size_t count) { m_dropped += count; }
    bool Full() const { return m_frames.size() >= kCapacity; }
    void Clear();
    const std::deque<FrameRecord>& Frames() const { return m_frames; }
    std::size_t Dropped() const { return m_dropped; }

private:
    std::deque<FrameRecord> m_frames;
    std::size_t m_dropped = 0;
    char m_lastCommand = 0;
};

}  // namespace monitor
