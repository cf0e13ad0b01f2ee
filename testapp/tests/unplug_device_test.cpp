// The pad unplugged and plugged back: the device vanishes (its pseudo-terminal closed) while the
// program is idle, in the middle of a command, during a PIN entry loop, during a key part typed
// on the pad and while the clear-text reader runs. Every operation after it ends with a failure
// text within its time-out, no button stays disabled, and once the device is back under the same
// path "Close Com port" and "Open Com port" work again without restarting the program.
#include <QFile>
#include <QTimer>
#include <QtTest>
#include <chrono>

#include "pad_rig.h"

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

// COM1 maps to a symbolic link that follows the current pad, as a udev name follows a device.
void MapThroughLink(PadRig& rig) {
    const QString link = rig.folder.file("ttyPAD");
    QFile::remove(link);
    QVERIFY(QFile::link(QString::fromStdString(rig.pad->DevicePath()), link));
    QFile config(rig.folder.file("sysconfig.ini"));
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
    config.write("[PORTS]\nCOM1=" + link.toUtf8() + "\n");
}

double ClickSeconds(PadRig& rig, const char* button) {
    const auto start = Clock::now();
    rig.click(button);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

class UnplugDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void vanishAndReturn_data();
    void vanishAndReturn();
};

void UnplugDeviceTest::vanishAndReturn_data() {
    QTest::addColumn<QString>("moment");
    for (const char* moment :
         {"idle", "mid-command", "PIN entry", "key entry", "clear-text reader"})
        QTest::newRow(moment) << QString(moment);
}

void UnplugDeviceTest::vanishAndReturn() {
    QFETCH(QString, moment);
    PadRig rig;
    rig.pad->With([](padsim::PadSimulator& s) {
        s.SetKey(0x30, {"1C587F1C13924FEF4A5B3D2C1F0E8F9D", "TPK"});  // the PIN key
    });
    MapThroughLink(rig);
    QVERIFY(rig.openPort());
    rig.click("btGetCustomerInfor");
    const QString success = rig.status();

    if (moment == "idle") {
        rig.pad->Disappear();
    } else if (moment == "mid-command") {
        rig.pad->With([](padsim::PadSimulator& s) { s.faults().disappearAfter = 3; });
    } else if (moment.endsWith("entry")) {
        // The entry loop runs inside the click; the pad goes while it waits for keys, and the
        // operator's next click (which ends the loop) meets the gone pad.
        const bool pin = moment == "PIN entry";
        const auto mode = pin ? padsim::Mode::PinEntry : padsim::Mode::KeyEntry;
        if (!pin) {
            rig.setText("comboKeyNo", "05");
            Choose(rig, "comboMixCode", "41");  // the first part typed on the pad
        }
        QTimer watch;
        bool clicked = false;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (clicked || rig.mode() != mode) return;
            clicked = true;
            rig.pad->Disappear();
            rig.click("btGetCustomerInfor");
        });
        watch.start(20);
        QVERIFY(ClickSeconds(rig, pin ? "btEnablePin" : "Button3") < 15);
        QVERIFY2(clicked, qPrintable(rig.status()));
    } else {
        rig.click("OpenKeyBord");
        QCOMPARE(rig.status(), QString("Open Pinpad Success,Please Key-press"));
        rig.pad->Disappear();
    }
    // Whatever runs next meets the gone pad: a failure text within the read time-out.
    QVERIFY(ClickSeconds(rig, "btGetCustomerInfor") < 6);
    QVERIFY(!rig.status().isEmpty());
    QVERIFY2(rig.status() != success, qPrintable(rig.status()));
    QVERIFY(ClickSeconds(rig, "btSetControlCode") < 6);
    QVERIFY(!rig.status().isEmpty());
    for (const auto& [name, enabledWhenOpen] : OperationButtonsOpenState())
        if (enabledWhenOpen) QVERIFY2(rig.control<QPushButton>(name)->isEnabled(), name);

    // The pad comes back under the same path: close and open again, and it answers.
    rig.click("btCloseCom");
    QCOMPARE(rig.status(), QString("serial which has been closed"));
    rig.pad = std::make_unique<padsim::PtyPad>();
    MapThroughLink(rig);
    QVERIFY(rig.openPort());
    rig.click("btGetCustomerInfor");
    QCOMPARE(rig.status(), success);
}

QTEST_MAIN(UnplugDeviceTest)
#include "unplug_device_test.moc"
