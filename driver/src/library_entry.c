/* Compiled as C so that the public header is proven to be valid C; the library's code comes
 * from the driver's static core. */
#include "pinpad.h"
