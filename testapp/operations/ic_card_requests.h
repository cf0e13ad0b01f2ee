// The IC card page's parameter texts for PinPad_IC_Control and PinPad_IC_Access, and the split of
// an access reply into response data and status word.
#pragma once

#include <QString>
#include <optional>

namespace operations {

// The only card type and the code the pad knows it by.
inline constexpr char kCpuCardType[] = "CPU";
inline constexpr char kCpuCardCode[] = "88";

// Action code of a "Control Code" item: "PowerOn" 1, "GetStatus" 2, "PowerDown" 3 (exact text).
std::optional<int> ControlActionCode(const QString& text);

// "%d%s%d": socket, card type code, action.
QString ControlText(int socket, int action);

// The APDU boxes as typed.
struct ApduFields {
    QString cla, ins, p1, p2, lc, data, le;
};

struct AccessText {
    enum class Field { kNone, kLc, kLe, kData };
    QString text;     // the parameter text when it may be sent
    QString refusal;  // the status message otherwise
    Field field = Field::kNone;
};

// A length box: empty counts as 0; one or two hex digits give their value; anything else nothing.
std::optional<int> ParseApduLength(const QString& text);

// Socket, CLA, INS, P1, P2 as typed, then LC and DATA when LC is not 0 and LE when LE is not 0.
AccessText BuildAccessText(int socket, const ApduFields& fields);

struct CardResponse {
    QString data;        // everything before the status word
    QString statusWord;  // the last four characters
};

// A reply shorter than a status word is kept whole as data.
CardResponse SplitAccessReply(const QString& reply);

}  // namespace operations
