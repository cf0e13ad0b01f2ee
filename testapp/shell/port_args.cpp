#include "port_args.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "str_to_int.h"

namespace shell {
namespace {

template <std::size_t N>
void CopyBounded(char (&field)[N], const QString& text) {
    const QByteArray bytes = text.toLatin1();
    const std::size_t count = std::min<std::size_t>(bytes.size(), N - 1);
    std::memcpy(field, bytes.constData(), count);
    field[count] = '\0';
}

}  // namespace

PortOpenArgs BuildPortOpenArgs(const QString& port, const QString& baud, const QString& parity,
                               const QString& dataBits, const QString& stopBits) {
    PortOpenArgs args;
    CopyBounded(args.portName, port);
    args.baudRate = StrToInt(baud);
    CopyBounded(args.parity, parity);
    args.parity[0] = parity.startsWith(QLatin1String("NO")) ? 'N' : 'Y';
    CopyBounded(args.dataBits, dataBits);
    CopyBounded(args.stopBits, stopBits);
    return args;
}

int PortNumberOfName(const QString& port) {
    PortOpenArgs args;
    CopyBounded(args.portName, port);
    if (std::strlen(args.portName) < 4) return 0;
    const long number = std::strtol(args.portName + 3, nullptr, 10);
    return number >= 1 && number <= INT_MAX ? static_cast<int>(number) : 0;
}

}  // namespace shell
