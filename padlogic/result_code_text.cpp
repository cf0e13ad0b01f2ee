#include "result_code_text.h"

#include <pinpad.h>

#include <cstring>
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

}  // namespace padlogic
