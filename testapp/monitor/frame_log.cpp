#include "frame_log.h"

#include <pinpad.h>

#include <algorithm>

#include "frame_secrets.h"
#include "result_code_text.h"

namespace monitor {
namespace {

struct CommandInfo {
    char command;
    const char* name;
};

constexpr CommandInfo kCommands[] = {
    {'1', "download key"},
    {'2', "download enciphered key"},
    {'3', "customer information"},
    {'4', "keyboard value"},
    {'5', "control code"},
    {'6', "enable PIN"},
    {'7', "PIN value"},
    {'8', "MAC"},
    {'9', "data encryption"},
    {':', "authorization"},
    {';', "display"},
    {'@', "IC card control"},
    {'A', "IC card access"},
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
    if (frame.status < 0) {
        QString result = padlogic::ResultCodeToText(PINPAD_ERR_NO_REPLY, text);
        if (frame.failure != LUMENORD_FAILURE_NONE)
            result += QStringLiteral(": ") + padlogic::FailureReasonText(frame.failure);
        return result;
    }
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
    const padlogic::ByteSpan span = padlogic::KeyMaterialSpan(
        frame.bytes.constData(), static_cast<int>(frame.bytes.size()), frame.length);
    if (span.empty()) return {0, 0};
    return {span.first, span.last};
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
        m_lastCommand = frame.bytes.size() > padlogic::kFrameCommandAt
                            ? frame.bytes[padlogic::kFrameCommandAt]
                            : '\0';
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
