/* Opens the pad's port and prints the version fields of its customer information area.
 * Usage: read_version <port name> [baud rate]    for instance: read_version com1 9600
 * The port number N of "comN" opens key COMN of section [PORTS] in ./sysconfig.ini, or
 * /dev/ttyS(N-1) when that key is missing (\\.\COMN on Windows). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pinpad.h"

struct VersionField {
    const char* label;
    int offset;
    int length;
};

static const struct VersionField kFields[] = {
    {"description code:", 118, 8}, {"product model:", 126, 6}, {"hardware ver:", 132, 3},
    {"firmware version:", 135, 3}, {"Date Code:", 138, 4},     {"series number:", 142, 4},
};

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <port name, e.g. com1> [baud rate]\n", argv[0]);
        return 2;
    }
    int baud = argc > 2 ? atoi(argv[2]) : 9600;
    /* The codes are numeric: 0 selects no parity, 8 data bits and 1 stop bit. */
    const char none[1] = {0};
    const char eight[1] = {8};
    const char one[1] = {1};
    int result = PinPad_EnablePort(argv[1], baud, none, eight, one);
    if (result != 0) {
        fprintf(stderr, "cannot open %s: result %d\n", argv[1], result);
        return 1;
    }
    char info[256];
    memset(info, 0, sizeof info);
    result = PinPad_GetCustInfo(info);
    PinPad_DisablePort();
    if (result != 0 && result != 224) {
        fprintf(stderr, "reading the customer information failed: result %d\n", result);
        return 1;
    }
    for (size_t i = 0; i < sizeof kFields / sizeof kFields[0]; ++i) {
        /* A field ends at its first zero byte inside its range. */
        const struct VersionField* f = &kFields[i];
        printf("%-18s %.*s\n", f->label, f->length, info + f->offset);
    }
    if (result == 224) printf("(the pad reports a low battery)\n");
    return 0;
}
