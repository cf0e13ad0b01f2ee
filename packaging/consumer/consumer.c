/* A program from outside the project that links the installed driver as an integrator would:
 * opens port com1 (mapped in ./sysconfig.ini), reads the customer information area and prints
 * the pad's product model. Built against an install by find_package and by pkg-config. */
#include <lumenord/pinpad.h>
#include <stdio.h>
#include <string.h>

/* The product model's place in the customer information area. */
enum { kModelOffset = 126, kModelLength = 6 };

int main(void) {
    /* No parity, eight data bits, one stop bit: the codes are the first byte of each. */
    const char none[1] = {0};
    const char eight[1] = {8};
    const char one[1] = {1};
    int result = PinPad_EnablePort("com1", 9600, none, eight, one);
    if (result != PINPAD_OK) {
        fprintf(stderr, "consumer: com1 does not open: result %d\n", result);
        return 1;
    }
    char info[PINPAD_CUST_INFO_SIZE];
    memset(info, 0, sizeof info);
    result = PinPad_GetCustInfo(info);
    PinPad_DisablePort();
    if (result != PINPAD_OK && result != PINPAD_LOW_BATTERY) {
        fprintf(stderr, "consumer: reading the customer information failed: result %d\n", result);
        return 1;
    }
    printf("model=%.*s\n", kModelLength, info + kModelOffset);
    return 0;
}
