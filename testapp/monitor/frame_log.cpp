#include "frame_log.h"

#include <pinpad.h>

#include <algorithm>

#include "result_code_text.h"

namespace monitor {
namespace {

// Request frame: STX, three length digits, command byte, payload, ETX, two check characters.
constexpr int kCommandAt = 4;
constexpr int kPayloadStart = kCommandAt + 1;
constexpr int kFrameTrailer = 3;

struct CommandInfo {
    char command;
    const char* name;
    // Where key material starts in the payload; -1 when the command carries none.
    int keyMaterialOffset;
};

// Clear-text key record: key index (2), combination code (1), length code (1), then the parts.
// Cipher-text key record: decryption index (2), save index (2), tag (1), length (1), then the
// cipher text and the verify code.
constexpr CommandInfo kCommands[] = {
    {'1', "download key", 4},
    {'2', "download enciphered key", 6},
    {'3', "customer information", -1},
    {'4', "keyboard value", -1},
    {'5', "control code", -1},
    {'6', "enable PIN", -1},
    {'7', "PIN value", -1},
    {'8', "MAC", -1},
    {'9', "data encryption", -1},
    {':', "authorization", -1},
    {';', "display", -1},
    {'@', "IC card control", -1},
    {'A', "IC card access", -1},
};

const CommandInfo* FindCommand(char command) {
    for (const CommandInfo& info : kCommands)
        if (info.command == command) return &info;
    return nullptr;
}

QString StatusByteText(const FrameRecord& frame) {
    if (frame.direction == Direction::kSent) return {};
    if (frame.status < 0) return QStringLiteral("none");
    return QStringLiteral("%1").arg(frame.status, 2, 16, QLatin1Char('0')).toUpper();
}

QString ResultText(const FrameRecord& frame) {
    if (frame.direction == Direction::kSent) return {};
    char text[padlogic::kResultTextSize];
    if (frame.status < 0) return padlogic::ResultCodeToText(PINPAD_ERR_NO_REPLY, text);
    // A command succeeds with its own byte plus 0x30.
    if (frame.command != 0 && frame.status == static_cast<unsigned char>(frame.command) + 0x30)
        return QStringLiteral("success");
    return padlogic::ResultCodeToText(frame.status, text);
}

}  // namespace

QString CommandName(char command) {
    if (const CommandInfo* info = FindCommand(command)) return info->name;
    return QStringLiteral("command %1")
        .arg(static_cast<unsigned char>(command), 2, 16, QLatin1Char('0'))
        .toUpper();
}

std::pair<int, int> KeyMaterialSpan(const FrameRecord& frame) {
    if (frame.direction != Direction::kSent) return {0, 0};
    const CommandInfo* info = FindCommand(frame.command);
    if (info == nullptr || info->keyMaterialOffset < 0) return {0, 0};
    const int first = kPayloadStart + info->keyMaterialOffset;
    const int last = frame.bytes.size() < frame.length
                         ? static_cast<int>(frame.bytes.size())
                         : static_cast<int>(frame.bytes.size()) - kFrameTrailer;
    // A frame cut short still hides everything after the record's head.
    if (last <= first) return {0, 0};
    return {first, last};
}

QString BytesText(const FrameRecord& frame, bool unmasked) {
    const auto [first, last] = KeyMaterialSpan(frame);
    QString text;
    text.reserve(frame.bytes.size() * 3);
    for (int i = 0; i < frame.bytes.size(); ++i) {
        if (i > 0) text += QLatin1Char(' ');
        if (!unmasked && i >= first && i < last) {
            text += QStringLiteral("**");
        } else {
            text += QStringLiteral("%1")
                        .arg(static_cast<unsigned char>(frame.bytes[i]), 2, 16, QLatin1Char('0'))
                        .toUpper();
        }
    }
    if (frame.bytes.size() < frame.length) text += QStringLiteral(" ...");
    return text;
}

QStringList ColumnTexts(const FrameRecord& frame, bool unmasked) {
    const bool received = frame.direction == Direction::kReceived;
    return {frame.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
            received ? QStringLiteral("received") : QStringLiteral("sent"),
            frame.command != 0 ? CommandName(frame.command) : QString(),
            QString::number(frame.length),
            BytesText(frame, unmasked),
            StatusByteText(frame),
            ResultText(frame),
            received ? QString::number(frame.roundTripMicroseconds / 1000.0, 'f', 1) : QString()};
}

QString FramesText(const std::deque<FrameRecord>& frames, bool unmasked) {
    QString text = kColumnTitles.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (const FrameRecord& frame : frames)
        text += ColumnTexts(frame, unmasked).join(QLatin1Char('\t')) + QLatin1Char('\n');
    return text;
}

void FrameLog::Add(FrameRecord frame) {
    if (frame.direction == Direction::kSent) {
        m_lastCommand = frame.bytes.size() > kCommandAt ? frame.bytes[kCommandAt] : 0;
    }
    frame.command = m_lastCommand;
    if (frame.direction == Direction::kReceived) m_lastCommand = 0;
    if (Full()) DropOldest();
    m_frames.push_back(std::move(frame));
}

void FrameLog::DropOldest() {
    if (m_frames.empty()) return;
    m_frames.pop_front();
    ++m_dropped;
}

void FrameLog::Clear() {
    m_frames.clear();
    m_dropped = 0;
}

}  // namespace monitor
