// The control codes of the "keypad parameter" page: their labels, default values and value lists,
// and the three-character command text sent for them.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace shell {

inline constexpr int kControlCodeCount = 12;
inline constexpr int kSerialSpeedCode = 6;
inline constexpr int kPinTimeoutCode = 2;
inline constexpr int kKeyLockCode = 1;

struct ControlCodeInfo {
    QString label;
    QString defaultValue;
    QStringList values;
};

// Label, default and value list for code 0 to 11 (0 to B).
ControlCodeInfo ControlCodeInfoFor(int code);

// The code a combo text names ("0" to "9", "A", "B", as hexadecimal), or nullopt.
std::optional<int> ParseControlCode(const QString& text);

struct ControlCodeCommand {
    QString text;  // three characters: code character and two upper-case hex digits
    int value;     // the value as sent (0x80 added for a temporary key lock)
};

// Builds the command for the code at `position` and a two-character hex `valueText`; nullopt
// when the value is not two hexadecimal digits. `invalidateKeys` adds 0x80 for code 1.
std::optional<ControlCodeCommand> BuildControlCodeCommand(int position, const QString& valueText,
                                                          bool invalidateKeys);

// The baud list position that a serial-speed value 0x41... selects.
inline int BaudEntryForSpeedValue(int value) { return value - 0x41; }
inline bool IsSerialSpeedValue(int value) { return value >= 0x41 && value <= 0x48; }

}  // namespace shell
