#include "serial_devices.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fake_sysfs.h"

namespace fs = std::filesystem;
using testsupport::FakeSysfs;

namespace {

// One device as a line: node, persistent names, driver, then the USB identity.
std::string Describe(const platform::SerialDevice& device) {
    std::string line = device.node + " [";
    for (const std::string& link : device.byIdLinks) line += link + ";";
    return line + "] " + device.driver + " " + device.vendorId + ":" + device.productId + " '" +
           device.manufacturer + "' '" + device.product + "' '" + device.serialNumber + "'";
}

const char* const kFtdi =
    "/dev/ttyUSB0 [/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0;] ftdi_sio 0403:6001 'FTDI' "
    "'FT232R USB UART' 'A1B2'";
const char* const kUart = "/dev/ttyS0 [] serial : '' '' ''";

void AddFtdi(const FakeSysfs& tree) {
    tree.AddUsbPort("ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2",
                    "usb-FTDI_FT232R_A1B2-if00-port0");
}

// What a typical PC shows: one USB adapter, one UART with hardware behind it, three that the
// kernel reserves without hardware, and virtual terminals.
void AddTypicalMachine(const FakeSysfs& tree) {
    AddFtdi(tree);
    tree.AddUart("ttyS0", "4", "pnp0/00:01", "serial");
    for (const char* name : {"ttyS1", "ttyS2", "ttyS3"})
        tree.AddUart(name, "0", "platform/serial8250", "serial8250");
    tree.AddVirtual("tty0");
    tree.AddVirtual("console");
}

struct Case {
    const char* name;
    std::function<void(const FakeSysfs&)> build;
    std::vector<std::string> expected;
};

class SerialDevicesTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/serial_devices_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
    }
    void TearDown() override { fs::remove_all(m_root); }
    fs::path m_root;
};

TEST_P(SerialDevicesTest, ListsThePortsThatHaveHardware) {
    const FakeSysfs tree(m_root / "root");
    GetParam().build(tree);
    std::vector<std::string> listed;
    for (const platform::SerialDevice& device : platform::ListSerialDevices(tree.root().string()))
        listed.push_back(Describe(device));
    EXPECT_EQ(listed, GetParam().expected);
}

const Case kCases[] = {
    {"TypicalMachine", AddTypicalMachine, {kUart, kFtdi}},
    {"AcmModemIdentifiedByItsUsbDevice",
     [](const FakeSysfs& tree) {
         tree.AddUsbPort("ttyACM0", "cdc_acm", "2341", "0043", "Arduino (www.arduino.cc)", "Uno",
                         "7543", "usb-Arduino_Uno_7543-if00");
         // cdc_acm binds the interface: the tty's device is the interface, not a port device.
         const std::string interface =
             "devices/pci0000:00/0000:00:14.0/usb1/1-ttyACM0/1-ttyACM0:1.0";
         tree.Link("sys/" + interface + "/ttyACM0/tty/ttyACM0/device", "../../..");
         tree.Link("sys/" + interface + "/driver", "../../../../../../bus/usb/drivers/cdc_acm");
     },
     {"/dev/ttyACM0 [/dev/serial/by-id/usb-Arduino_Uno_7543-if00;] cdc_acm 2341:0043 'Arduino "
      "(www.arduino.cc)' 'Uno' '7543'"}},
    {"NumbersSortedAsNumbers",
     [](const FakeSysfs& tree) {
         for (const char* name : {"ttyS10", "ttyS2", "ttyS1"})
             tree.AddUart(name, "4", std::string("pnp0/00:") + name, "serial");
     },
     {"/dev/ttyS1 [] serial : '' '' ''", "/dev/ttyS2 [] serial : '' '' ''",
      "/dev/ttyS10 [] serial : '' '' ''"}},
    {"SerialCorePortsNameTheControllersDriver",
     [](const FakeSysfs& tree) {
         tree.AddUart("ttyS0", "4", "pnp0/00:00/00:00:0/00:00:0.0", "port");
         tree.Link("sys/devices/pnp0/00:00/00:00:0/00:00:0.0/driver",
                   "../../../../../bus/serial-base/drivers/port");
         tree.Link("sys/devices/pnp0/00:00/00:00:0/driver",
                   "../../../../bus/serial-base/drivers/ctrl");
         tree.Link("sys/devices/pnp0/00:00/driver", "../../../bus/pnp/drivers/serial");
     },
     {kUart}},
    {"NoNodeInDev",
     [](const FakeSysfs& tree) {
         AddFtdi(tree);
         fs::remove(tree.root() / "dev/ttyUSB0");
     },
     {}},
    {"ClassLinkLeadingOutOfTheRoot",
     [](const FakeSysfs& tree) {
         AddFtdi(tree);
         // Outside the root, a real-looking port that must not be reached through the tree.
         const FakeSysfs outside(tree.root().parent_path() / "outside");
         outside.AddUart("ttyS7", "4", "pnp0/00:07", "serial");
         tree.Link("sys/class/tty/ttyS7", "../../../../outside/sys/devices/pnp0/00:07/tty/ttyS7");
         tree.Link("dev/serial/by-id/escape", "../../../../outside/dev/ttyS7");
         tree.Link("dev/ttyS7", "../../outside/dev/ttyS7");
     },
     {kFtdi}},
    {"AbsoluteLinksStayInsideTheRoot",
     [](const FakeSysfs& tree) {
         AddFtdi(tree);
         tree.Link("dev/serial/by-id/usb-absolute", "/dev/ttyUSB0");
     },
     {"/dev/ttyUSB0 [/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0;/dev/serial/by-id/"
      "usb-absolute;] ftdi_sio 0403:6001 'FTDI' 'FT232R USB UART' 'A1B2'"}},
    {"LinkLoopsEndTheSearch",
     [](const FakeSysfs& tree) {
         AddFtdi(tree);
         tree.Link("sys/class/tty/ttyLOOP", "ttyLOOP");
         tree.Link("dev/serial/by-id/loop-a", "loop-b");
         tree.Link("dev/serial/by-id/loop-b", "loop-a");
     },
     {kFtdi}},
    {"HostileAttributes",
     [](const FakeSysfs& tree) {
         AddFtdi(tree);
         const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-ttyUSB0";
         tree.Write(usb + "/manufacturer", std::string("\x01\xff \xc3\xa9t\xe9 \0x\nsecond", 17));
         tree.Write(usb + "/product", std::string(1 << 20, 'P'));
         fs::remove(tree.root() / (usb + "/serial"));
         ASSERT_EQ(mkfifo((tree.root() / (usb + "/serial")).c_str(), 0600), 0);
         tree.Write(usb + "/idProduct", "60011\n");
     },
     {"/dev/ttyUSB0 [/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0;] ftdi_sio 0403: "
      "'?? \xc3\xa9t? ?x' '' ''"}},
    {"UartTypeBeyondTheReadLimitIsNotPlaceholder",
     [](const FakeSysfs& tree) {
         tree.AddUart("ttyS4", "0", "pnp0/00:04", "serial");
         tree.Write("sys/devices/pnp0/00:04/tty/ttyS4/type", std::string(4096, '0'));
     },
     {"/dev/ttyS4 [] serial : '' '' ''"}},
    {"RootThatIsNotThere", [](const FakeSysfs& tree) { fs::remove_all(tree.root()); }, {}},
};

INSTANTIATE_TEST_SUITE_P(Trees, SerialDevicesTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SerialDevicesNames, NodeOrPersistentNameNamesTheDevice) {
    platform::SerialDevice device;
    device.node = "/dev/ttyUSB0";
    device.byIdLinks = {"/dev/serial/by-id/usb-x"};
    EXPECT_TRUE(platform::NamesDevice(device, "/dev/ttyUSB0"));
    EXPECT_TRUE(platform::NamesDevice(device, "/dev/serial/by-id/usb-x"));
    EXPECT_FALSE(platform::NamesDevice(device, "/dev/ttyUSB1"));
    EXPECT_FALSE(platform::NamesDevice(device, ""));
}

}  // namespace

namespace {

struct MappingCase {
    const char* settings;
    std::vector<int> usbPorts;   // the ports that open /dev/ttyUSB0
    std::vector<int> uartPorts;  // the ports that open /dev/ttyS0
};

class PortMappingTest : public ::testing::TestWithParam<MappingCase> {};

// Port N opens key COMN of [PORTS] or, without one, /dev/ttyS(N-1), as the driver does.
TEST_P(PortMappingTest, PortsOpeningADevice) {
    platform::SerialDevice usb;
    usb.node = "/dev/ttyUSB0";
    usb.byIdLinks = {"/dev/serial/by-id/usb-FTDI_A1B2-if00-port0"};
    platform::SerialDevice uart;
    uart.node = "/dev/ttyS0";
    EXPECT_EQ(platform::PortsOpening(GetParam().settings, usb, 20), GetParam().usbPorts);
    EXPECT_EQ(platform::PortsOpening(GetParam().settings, uart, 20), GetParam().uartPorts);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PortMappingTest,
    ::testing::Values(
        MappingCase{"", {}, {1}}, MappingCase{"[ports]\r\ncom1 = /dev/ttyUSB0\r\n", {1}, {}},
        MappingCase{"[PORTS]\nCOM1=\nCOM3=/dev/serial/by-id/usb-FTDI_A1B2-if00-port0\n"
                    "COM12=\"/dev/ttyUSB0\"\nCOM21=/dev/ttyUSB0\n",
                    {3, 12},
                    {1}},
        MappingCase{"[SYSTEM]\nCOM1=/dev/ttyUSB0\n[PORTS]\nCOM2=/dev/ttyS0\n", {}, {1, 2}}));

TEST(PortMapping, MappedPortsListsTheExplicitKeys) {
    using Mapped = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(platform::MappedPorts("[PORTS]\nCOM2=/dev/ttyUSB0\nCOM1=\nCOM9=x\n", 8),
              (Mapped{{2, "/dev/ttyUSB0"}}));
    EXPECT_EQ(platform::DefaultPortDevice(1), "/dev/ttyS0");
}

}  // namespace
