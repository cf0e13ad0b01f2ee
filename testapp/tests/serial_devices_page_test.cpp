// The serial devices on the "Commu para" page, through the real widgets and mouse: the list from
// a fake sysfs tree, the device the chosen port opens, a choice written to ./sysconfig.ini, and
// the list following devices that come and go.
#include <sys/stat.h>

#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>
#include <cstdio>

#include "fake_sysfs.h"
#include "test_support.h"

using testsupport::DialogRecorder;
using testsupport::FileText;
using testsupport::Find;
using testsupport::WorkingFolder;

namespace {

constexpr const char* kUsbById = "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0";

// A machine with one UART, one reserved legacy port and one USB adapter.
testsupport::FakeSysfs MakeTree(const QString& folder) {
    testsupport::FakeSysfs tree((folder + "/root").toStdString());
    tree.AddUart("ttyS0", "4", "pnp0/00:01", "serial");
    tree.AddUart("ttyS1", "0", "platform/serial8250", "serial8250");
    tree.AddUsbPort("ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2",
                    "usb-FTDI_FT232R_A1B2-if00-port0");
    return tree;
}

// The rows of the list: device and the ports that open it.
QStringList Rows(QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0) + " " + list->topLevelItem(i)->text(1);
    return rows;
}

void ClickRow(QTreeWidget* list, int row) {
    const QRect rect = list->visualItemRect(list->topLevelItem(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

struct Page {
    explicit Page(shell::TfmTestQm731& window)
        : list(Find<QTreeWidget>(&window, "listSerialDevices")),
          portDevice(Find<QLabel>(&window, "labelPortDevice")),
          map(Find<QPushButton>(&window, "btMapDevice")),
          port(Find<QComboBox>(&window, "comboPort")) {
        auto* pages = Find<QTabWidget>(&window, "PageControl1");
        for (int i = 0; i < pages->count(); ++i)
            if (pages->tabText(i) == "Commu para") pages->setCurrentIndex(i);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    QTreeWidget* list;
    QLabel* portDevice;
    QPushButton* map;
    QComboBox* port;
};

}  // namespace

class SerialDevicesPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("LUMENORD_LIBRARY", "/nonexistent/libLumenord.so"); }
    void cleanup() { qunsetenv("LUMENORD_DEVICE_ROOT"); }
    void choosingADeviceMapsTheChosenPort_data();
    void choosingADeviceMapsTheChosenPort();
    void listFollowsDevicesThatComeAndGo();
    void linesFollowTheSettingsFile_data();
    void linesFollowTheSettingsFile();
};

void SerialDevicesPageTest::choosingADeviceMapsTheChosenPort_data() {
    QTest::addColumn<QString>("settings");  // "fifo": a FIFO where the file should be
    QTest::addColumn<QStringList>("rowsBefore");
    QTest::addColumn<QString>("opensBefore");
    QTest::addColumn<QString>("portTyped");
    QTest::addColumn<QString>("opensTyped");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("settingsAfter");
    QTest::addColumn<QString>("opensAfter");
    QTest::addColumn<QStringList>("rowsAfter");
    QTest::addColumn<QString>("mappedAfter");

    QTest::newRow("no file: the default, then the adapter's persistent name")
        << QString() << QStringList{"/dev/ttyS0 com1", "/dev/ttyUSB0 "} << "/dev/ttyS0"
        << "com3"
        << "/dev/ttyS2 (not present)" << 1 << QString("[PORTS]\nCOM3=%1\n").arg(kUsbById)
        << kUsbById << QStringList{"/dev/ttyS0 com1", "/dev/ttyUSB0 com3"}
        << QString("com3 = %1").arg(kUsbById);
    QTest::newRow("the rest of the file kept, a device without persistent name by node")
        << "; "
           "settings\r\n[SYSTEM]\r\nDEBUG=0\r\n[PORTS]\r\nCOM1=/dev/ttyUSB0\r\nCOM2=/dev/"
           "ttyACM7\r\n"
        << QStringList{"/dev/ttyS0 ", "/dev/ttyUSB0 com1"} << "/dev/ttyUSB0"
        << "com2"
        << "/dev/ttyACM7 (not present)" << 0
        << "; "
           "settings\r\n[SYSTEM]\r\nDEBUG=0\r\n[PORTS]\r\nCOM1=/dev/ttyUSB0\r\nCOM2=/dev/ttyS0\r\n"
        << "/dev/ttyS0" << QStringList{"/dev/ttyS0 com2", "/dev/ttyUSB0 com1"}
        << "com1 = /dev/ttyUSB0; com2 = /dev/ttyS0";
    QTest::newRow("a port mapped to a device that is not there")
        << "[PORTS]\nCOM5=/dev/ttyACM7\n"
        << QStringList{"/dev/ttyS0 com1", "/dev/ttyUSB0 "} << "/dev/ttyS0"
        << "com5"
        << "/dev/ttyACM7 (not present)" << 1 << QString("[PORTS]\nCOM5=%1\n").arg(kUsbById)
        << kUsbById << QStringList{"/dev/ttyS0 com1", "/dev/ttyUSB0 com5"}
        << QString("com5 = %1").arg(kUsbById);
    const QString longPath = "/dev/<b>" + QString(200, 'x');
    QTest::newRow("long and marked-up paths shown cut, as plain text, and only so many")
        << QString(
               "[PORTS]\nCOM1=%1\nCOM2=/dev/ttyS0\nCOM3=a\nCOM4=b\nCOM5=c\nCOM6=d\nCOM7=e\n"
               "COM8=f\n")
               .arg(longPath)
        << QStringList{"/dev/ttyS0 com2", "/dev/ttyUSB0 "}
        << longPath.left(79) + QChar(0x2026) + " (not present)"
        << "com8"
        << "f (not present)" << 1
        << QString(
               "[PORTS]\nCOM1=%1\nCOM2=/dev/ttyS0\nCOM3=a\nCOM4=b\nCOM5=c\nCOM6=d\nCOM7=e\n"
               "COM8=%2\n")
               .arg(longPath, kUsbById)
        << kUsbById << QStringList{"/dev/ttyS0 com2", "/dev/ttyUSB0 com8"}
        << "com1 = " + longPath.left(79) + QChar(0x2026) +
               "; com2 = /dev/ttyS0; com3 = a; com4 = b; com5 = c; com6 = d; 2 more";
    QTest::newRow("a FIFO is neither read nor written")
        << "fifo" << QStringList{"/dev/ttyS0 ", "/dev/ttyUSB0 "}
        << "unknown: ./sysconfig.ini does not read whole"
        << "com1"
        << "unknown: ./sysconfig.ini does not read whole" << 1 << QString()
        << "unknown: ./sysconfig.ini does not read whole"
        << QStringList{"/dev/ttyS0 ", "/dev/ttyUSB0 "}
        << "unknown: ./sysconfig.ini does not read whole";
}

void SerialDevicesPageTest::choosingADeviceMapsTheChosenPort() {
    QFETCH(QString, settings);
    QFETCH(QStringList, rowsBefore);
    QFETCH(QString, opensBefore);
    QFETCH(QString, portTyped);
    QFETCH(QString, opensTyped);
    QFETCH(int, row);
    QFETCH(QString, settingsAfter);
    QFETCH(QString, opensAfter);
    QFETCH(QStringList, rowsAfter);
    QFETCH(QString, mappedAfter);

    WorkingFolder folder;
    DialogRecorder dialogs;
    const testsupport::FakeSysfs tree = MakeTree(folder.path());
    qputenv("LUMENORD_DEVICE_ROOT", tree.root().c_str());
    const bool fifo = settings == "fifo";
    if (fifo) {
        QCOMPARE(mkfifo("sysconfig.ini", 0600), 0);
    } else if (!settings.isNull()) {
        QFile file("sysconfig.ini");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settings.toLatin1());
    }
    shell::TfmTestQm731 window;
    dialogs.requests.clear();  // the missing driver library
    Page page(window);

    QCOMPARE(Rows(page.list), rowsBefore);
    QCOMPARE(page.portDevice->text(), opensBefore);
    QCOMPARE(page.portDevice->textFormat(), Qt::PlainText);
    QVERIFY(!page.map->isEnabled());

    QTest::mouseClick(page.port->lineEdit(), Qt::LeftButton);
    page.port->lineEdit()->selectAll();
    QTest::keyClicks(page.port->lineEdit(), portTyped);
    QCOMPARE(page.portDevice->text(), opensTyped);
    ClickRow(page.list, row);
    QVERIFY(page.map->isEnabled());
    QTest::mouseClick(page.map, Qt::LeftButton);

    if (fifo) {
        QCOMPARE(dialogs.requests.size(), std::size_t{1});
        QVERIFY(dialogs.requests[0].text.startsWith("./sysconfig.ini could not be written: "));
        struct stat info {};
        QVERIFY(stat("sysconfig.ini", &info) == 0 && S_ISFIFO(info.st_mode));
    } else {
        QCOMPARE(dialogs.requests.size(), std::size_t{0});
        QCOMPARE(FileText("sysconfig.ini"), settingsAfter);
    }
    QCOMPARE(page.portDevice->text(), opensAfter);
    QCOMPARE(Rows(page.list), rowsAfter);
    QCOMPARE(Find<QLabel>(&window, "labelMappedPorts")->text(), mappedAfter);
    QCOMPARE(page.list->currentItem(), page.list->topLevelItem(row));
}

// A USB adapter plugged in and pulled out again shows and goes without a click.
void SerialDevicesPageTest::listFollowsDevicesThatComeAndGo() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    const testsupport::FakeSysfs tree = MakeTree(folder.path());
    qputenv("LUMENORD_DEVICE_ROOT", tree.root().c_str());
    shell::TfmTestQm731 window;
    Page page(window);
    QCOMPARE(page.list->topLevelItemCount(), 2);
    QCOMPARE(page.list->accessibleName(), QString("Devices present:"));
    // The label shows a result: a screen reader hears it after the caption.
    QCOMPARE(page.portDevice->accessibleName(), "Com port opens: " + page.portDevice->text());

    tree.AddUsbPort("ttyACM0", "cdc_acm", "2341", "0043", "Arduino", "Uno", "7543",
                    "usb-Arduino_Uno_7543-if00");
    QTRY_COMPARE_WITH_TIMEOUT(
        Rows(page.list), (QStringList{"/dev/ttyACM0 ", "/dev/ttyS0 com1", "/dev/ttyUSB0 "}), 10000);
    QCOMPARE(page.list->topLevelItem(0)->text(2), QString("2341:0043"));
    QCOMPARE(page.list->topLevelItem(0)->text(7),
             QString("/dev/serial/by-id/usb-Arduino_Uno_7543-if00"));

    std::filesystem::remove(tree.root() / "dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0");
    std::filesystem::remove(tree.root() / "dev/ttyUSB0");
    QTRY_COMPARE_WITH_TIMEOUT(Rows(page.list), (QStringList{"/dev/ttyACM0 ", "/dev/ttyS0 com1"}),
                              10000);
}

void SerialDevicesPageTest::linesFollowTheSettingsFile_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("opens");
    QTest::addColumn<QString>("mapped");
    const QString unknown = "unknown: ./sysconfig.ini does not read whole";
    QTest::newRow("edited") << "edit"
                            << "/dev/ttyUSB0"
                            << "com1 = /dev/ttyUSB0";
    QTest::newRow("replaced by a FIFO") << "fifo" << unknown << unknown;
    QTest::newRow("removed") << "remove"
                             << "/dev/ttyS0"
                             << "none";
}

// The settings file changed behind the window's back: both lines follow, without a click.
void SerialDevicesPageTest::linesFollowTheSettingsFile() {
    QFETCH(QString, change);
    QFETCH(QString, opens);
    QFETCH(QString, mapped);
    WorkingFolder folder;
    DialogRecorder dialogs;
    const testsupport::FakeSysfs tree = MakeTree(folder.path());
    qputenv("LUMENORD_DEVICE_ROOT", tree.root().c_str());
    {
        QFile file("sysconfig.ini");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[PORTS]\nCOM1=/dev/ttyACM7\n");
    }
    shell::TfmTestQm731 window;
    Page page(window);
    auto* mappedLine = Find<QLabel>(&window, "labelMappedPorts");
    QCOMPARE(mappedLine->text(), QString("com1 = /dev/ttyACM7"));
    QCOMPARE(page.portDevice->text(), QString("/dev/ttyACM7 (not present)"));

    if (change == "edit") {
        // Written beside and renamed over, as editors and the program itself do.
        QFile file("sysconfig.ini.new");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[PORTS]\nCOM1=/dev/ttyUSB0\n");
        file.close();
        QVERIFY(std::rename("sysconfig.ini.new", "sysconfig.ini") == 0);
    } else {
        QVERIFY(QFile::remove("sysconfig.ini"));
        if (change == "fifo") QCOMPARE(mkfifo("sysconfig.ini", 0600), 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(mappedLine->text(), mapped, 10000);
    QCOMPARE(page.portDevice->text(), opens);
}

QTEST_MAIN(SerialDevicesPageTest)
#include "serial_devices_page_test.moc"
