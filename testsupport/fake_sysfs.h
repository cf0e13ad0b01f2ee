// A fake file system root holding the sysfs and /dev entries of serial ports, laid out as the
// kernel and udev lay them out, for tests of the serial device list.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace testsupport {

class FakeSysfs {
public:
    explicit FakeSysfs(std::filesystem::path root) : m_root(std::move(root)) {
        std::filesystem::create_directories(m_root / "sys/class/tty");
        std::filesystem::create_directories(m_root / "dev");
    }

    const std::filesystem::path& root() const { return m_root; }

    void Write(const std::string& relative, const std::string& content) const {
        const std::filesystem::path path = m_root / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    void Link(const std::string& relative, const std::string& target) const {
        const std::filesystem::path path = m_root / relative;
        std::filesystem::create_directories(path.parent_path());
        std::filesystem::remove(path);
        std::filesystem::create_symlink(target, path);
    }

    // A port of a USB adapter: the USB device's identity, the interface bound to `driver`, the
    // port's tty, its node and, when `byId` is given, its persistent name.
    void AddUsbPort(const std::string& name, const std::string& driver, const std::string& vendor,
                    const std::string& product, const std::string& manufacturer,
                    const std::string& productName, const std::string& serial,
                    const std::string& byId = {}) const {
        const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + name;
        Write(usb + "/idVendor", vendor + "\n");
        Write(usb + "/idProduct", product + "\n");
        Write(usb + "/manufacturer", manufacturer + "\n");
        Write(usb + "/product", productName + "\n");
        Write(usb + "/serial", serial + "\n");
        const std::string port = usb + "/1-" + name + ":1.0/" + name;
        Write(port + "/tty/" + name + "/uevent", "MAJOR=188\nMINOR=0\nDEVNAME=" + name + "\n");
        Link(port + "/tty/" + name + "/device", "../../../" + name);
        Link(port + "/driver", "../../../../../../../bus/usb-serial/drivers/" + driver);
        Link("sys/class/tty/" + name, "../../" + port.substr(4) + "/tty/" + name);
        Write("dev/" + name, "");
        if (!byId.empty()) Link("dev/serial/by-id/" + byId, "../../" + name);
    }

    // A UART port: `type` 0 is what the kernel shows for a port it reserves without hardware.
    void AddUart(const std::string& name, const std::string& type, const std::string& device,
                 const std::string& driver) const {
        const std::string tty = "sys/devices/" + device + "/tty/" + name;
        Write(tty + "/type", type + "\n");
        Write(tty + "/uevent", "MAJOR=4\nMINOR=64\nDEVNAME=" + name + "\n");
        Link(tty + "/device", "../../../" + device.substr(device.rfind('/') + 1));
        Link("sys/devices/" + device + "/driver", "../../../bus/platform/drivers/" + driver);
        Link("sys/class/tty/" + name, "../../" + tty.substr(4));
        Write("dev/" + name, "");
    }

    // A terminal with no device behind it (a virtual console, the console, ptmx).
    void AddVirtual(const std::string& name) const {
        const std::string tty = "sys/devices/virtual/tty/" + name;
        Write(tty + "/uevent", "MAJOR=4\nMINOR=0\nDEVNAME=" + name + "\n");
        Link("sys/class/tty/" + name, "../../" + tty.substr(4));
        Write("dev/" + name, "");
    }

private:
    std::filesystem::path m_root;
};

}  // namespace testsupport
