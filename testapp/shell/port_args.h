// The five arguments of PinPad_EnablePort as the "Commu para" page builds them.
#pragma once

#include <QString>

namespace shell {

struct PortOpenArgs {
    char portName[10] = {};
    int baudRate = 0;
    char parity[12] = {};
    char dataBits[12] = {};
    char stopBits[5] = {};
};

// Builds the arguments from the page's texts. The port name is cut to its 9-character field;
// the parity's first character becomes 'N' for a text beginning "NO", 'Y' otherwise. Throws
// ConversionError when the baud text is not a decimal integer.
PortOpenArgs BuildPortOpenArgs(const QString& port, const QString& baud, const QString& parity,
                               const QString& dataBits, const QString& stopBits);

// The port number the driver opens for the port name `port` (cut to its field as above): the
// number after the first three characters, 0 when there is none and nothing would open.
int PortNumberOfName(const QString& port);

}  // namespace shell
