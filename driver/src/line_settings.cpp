// The line parameters that every backend maps to its own settings: the accepted baud rates and
// the character frame that the numeric codes select.
#include "serial_port.h"

namespace lumenord {

int EffectiveBaudRate(int requested) {
    for (int rate : kListedBaudRates)
        if (rate == requested) return requested;
    return 9600;
}

CharacterFrame CharacterFrameFor(const LineSettings& settings) {
    CharacterFrame frame{8, Parity::kNone, 1};
    if (settings.dataBitsCode == 7) frame.dataBits = 7;
    if (settings.parityCode == 1) frame.parity = Parity::kOdd;
    if (settings.parityCode == 2) frame.parity = Parity::kEven;
    if (settings.stopBitsCode == 2) frame.stopBits = 2;
    return frame;
}

}  // namespace lumenord
