// PinPad_TriUntriDes: single or triple DES on the host, no pad and no port involved.
#include "driver_context.h"
#include "pinpad.h"

static_assert(lumenord::kLongestDesText + 1 == PINPAD_DES_RESULT_SIZE);

extern "C" PINPAD_API int PINPAD_CALL PinPad_TriUntriDes(const char* data, const char* key,
                                                         char* output, int direction) {
    return lumenord::Guarded([&] {
        // The result does not tell a rejected length from success; the output's length does.
        lumenord::Context().des.TriUntriDes(data, key, output, direction == 0);
        return PINPAD_OK;
    });
}
