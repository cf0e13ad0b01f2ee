#include "result_code_text.h"

#include <pinpad.h>

#include <cstring>
#include <iterator>
#include <string>

namespace padlogic {
namespace {

struct ResultText {
    int code;
    const char* text;
};

constexpr ResultText kResultTexts[] = {
    {PINPAD_ERR_PORT, "the serial port remains closed  or open the serial port improperly"},
    {PINPAD_ERR_CLOSE, "close the serial port improperly"},
    {PINPAD_ERR_ARGUMENT, "wrong parameter fed into"},
    {PINPAD_ERR_NO_REPLY, "excessive time in data reading"},
    {0x31, "Command BCC Verify Error"},
    {0x32, "Command Format Error"},
    {0x33, "Command Key Error"},
    {0x34, "Command Length Error"},
    {0x41, "No Card"},
    {0x42, "Nonstandard Card"},
    {0x43, "Card Not Power Up"},
    {0x44, "Card Type Nonsupport"},
    {0x45, "Out Card Unsuccessfulness"},
    {0x51, "Password Error Or Not Verify Password"},
    {0x52, "Write Data Error"},
    {0x53, "Verify Password lock up(Read Only)"},
    {0x61, "Access COS Error,See SW"},
    {PINPAD_LOW_BATTERY, "Low battery, Need to replace the battery "},
    {0xE1, "Not IMK which can't download the master key "},
    {0xE2, "Not TMK which can't download the working key"},
    {0xE3, "Wrong Key length"},
    {0xE4, "Key index don't exist"},
    {0xE5, "Unmatchable label or no such key"},
    {0xE6, "Wrong verification odd and even of Key"},
    {0xE7, "Wrong Key check"},
    {0xE8, "Wrong command length"},
    {0xE9, "Illegal data"},
    {0xEA, "Information Code don't exist "},
    {0xEB, "Wrong Parameter type"},
    {0xEC, "Certifcation failure"},
    {0xED, "Certification locked"},
    {0xEE, "Overtime input on EPP"},
    {0xEF, "Other error"},
};

constexpr const char* kOtherError = "Other error";

constexpr bool EveryTextFits() {
    for (const ResultText& entry : kResultTexts) {
        if (std::char_traits<char>::length(entry.text) >= kResultTextSize) return false;
    }
    return true;
}
static_assert(EveryTextFits(), "a result text outgrew the callers' buffers");

constexpr ResultText kFailureTexts[] = {
    {LUMENORD_FAILURE_NONE, ""},
    {LUMENORD_FAILURE_NO_REPLY, "no reply from the pad"},
    {LUMENORD_FAILURE_CUT_REPLY, "the reply stopped part-way"},
    {LUMENORD_FAILURE_LINE_HUNG_UP, "the line hung up; is the pad unplugged?"},
    {LUMENORD_FAILURE_BAD_CHECK, "the reply's check characters are wrong"},
    {LUMENORD_FAILURE_MALFORMED_REPLY, "the reply is malformed"},
    {LUMENORD_FAILURE_REPLY_TOO_LONG, "the reply is too long"},
    {LUMENORD_FAILURE_CANCELLED, "cancelled by the host"},
    {LUMENORD_FAILURE_ARGUMENT, "an argument was refused"},
    {LUMENORD_FAILURE_PORT_NOT_OPEN, "the port is not open"},
    {LUMENORD_FAILURE_OPEN_FAILED, "the port could not be opened; is the device there and free?"},
    {LUMENORD_FAILURE_WRITE_FAILED, "the request could not be written"},
};

// The reasons are numbered from 0 without gaps; each has its text.
constexpr bool EveryReasonHasItsText() {
    for (int reason = LUMENORD_FAILURE_NONE; reason <= LUMENORD_FAILURE_WRITE_FAILED; ++reason) {
        int found = 0;
        for (const ResultText& entry : kFailureTexts) found += entry.code == reason ? 1 : 0;
        if (found != 1) return false;
    }
    return std::size(kFailureTexts) == LUMENORD_FAILURE_WRITE_FAILED + 1;
}
static_assert(EveryReasonHasItsText(), "a reason the driver names has no text, or two");

}  // namespace

char* ResultCodeToText(int code, char* buffer) {
    const char* text = kOtherError;
    for (const ResultText& entry : kResultTexts) {
        if (entry.code == code) {
            text = entry.text;
            break;
        }
    }
    // Every text fits the kResultTextSize bytes each caller supplies (checked above).
    std::strcpy(buffer, text);
    return buffer;
}

const char* FailureReasonText(int reason) {
    for (const ResultText& entry : kFailureTexts)
        if (entry.code == reason) return entry.text;
    return "an unknown fault";
}

}  // namespace padlogic
