// The shell against the real driver and a simulated pad: binding, opening and closing the port,
// the close-time control code and the guard that keeps driver calls from overlapping.
#include <dlfcn.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "pad_rig.h"

using namespace testsupport;
using namespace std::chrono_literals;

class ShellDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void bindsTwentyEntries();
    void fifoSettingsAndKeyStoreDoNotBlockTheStart();
    void openAtTheChosenSpeed_data();
    void openAtTheChosenSpeed();
    void badBaudTextMakesNoCall();
    void closePort();
    void operationWithThePortClosedKeepsItClosed_data();
    void operationWithThePortClosedKeepsItClosed();
    void focusReturnsAfterARealClick_data();
    void focusReturnsAfterARealClick();
    void closingRightAfterStartSendsCloseKeypadOnce();
    void closingAfterAnOperationSendsNothing();
    void closingWithThePortClosedShowsTheFailure();
    void clickDuringADriverCallDoesNotEnterTheDriver();
    void closeDuringADriverCallWaitsForIt();
};

void ShellDeviceTest::bindsTwentyEntries() {
    PadRig rig;
    QVERIFY(rig.window->Library().IsLoaded());
    QCOMPARE(rig.dialogs.requests.size(), std::size_t{0});
    int bound = 0;
    QStringList unbound;
    rig.shared().Entries().ForEach([&](const char* name, auto entry) {
        if (entry != nullptr) {
            ++bound;
        } else {
            unbound << name;
        }
    });
    QCOMPARE(bound, 20);
    QCOMPARE(unbound, QStringList({"PinPad_SetPassword", "PinPad_LoadKeyAuthenticate"}));
}

// A FIFO with no writer blocks whoever opens it for reading. The driver reads sysconfig.ini when
// it is loaded and the version page reads the key store at start: both must treat a FIFO as an
// empty file. Should a read block, a watchdog releases it after the deadline so the case fails
// instead of hanging.
void ShellDeviceTest::fifoSettingsAndKeyStoreDoNotBlockTheStart() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    const QStringList fifos = {folder.file("sysconfig.ini"), folder.file("KeyStock.txt")};
    for (const QString& fifo : fifos) QCOMPARE(mkfifo(qPrintable(fifo), 0600), 0);
    std::mutex mutex;
    std::condition_variable started;
    bool done = false;
    bool released = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (std::chrono::milliseconds wait = 5s;
             !started.wait_for(lock, wait, [&] { return done; }); wait = 100ms) {
            released = true;
            for (const QString& fifo : fifos) close(open(qPrintable(fifo), O_WRONLY | O_NONBLOCK));
        }
    });
    auto window = std::make_unique<shell::TfmTestQm731>();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    started.notify_all();
    watchdog.join();
    QVERIFY(!released);
    QVERIFY(window->Library().IsLoaded());
    QCOMPARE(dialogs.requests.size(), std::size_t{0});
    QCOMPARE(Find<QLineEdit>(window.get(), "edAuthorizationData")->text(), QString());
}

void ShellDeviceTest::openAtTheChosenSpeed_data() {
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("speed");
    QTest::newRow("115200") << "115200" << int(B115200);
    QTest::newRow("9600") << "9600" << int(B9600);
    QTest::newRow("2400") << "2400" << int(B2400);
}

void ShellDeviceTest::openAtTheChosenSpeed() {
    QFETCH(QString, baud);
    QFETCH(int, speed);
    PadRig rig;
    QVERIFY(rig.openPort(baud));
    QCOMPARE(int(rig.lineSpeed()), speed);
    for (const auto& [name, enabledWhenOpen] : OperationButtonsOpenState()) {
        QCOMPARE(rig.control<QPushButton>(name)->isEnabled(), enabledWhenOpen);
    }
    // The port really is the pad's: a read reaches it.
    rig.click("btGetVersion");
    QCOMPARE(rig.status(), QString("succeed in implementation"));
    QCOMPARE(rig.countPayload("3"), std::size_t{1});
}

void ShellDeviceTest::badBaudTextMakesNoCall() {
    PadRig rig;
    rig.setText("comboBoundRate", "96OO");
    rig.click("btOpenCom");
    QCOMPARE(rig.dialogs.requests.size(), std::size_t{1});
    QCOMPARE(rig.dialogs.requests[0].text, QString("'96OO' is not a valid integer value"));
    QCOMPARE(rig.status(), QString());
    QVERIFY(!rig.control<QPushButton>("btCloseCom")->isEnabled());
    // The driver was never asked to open the port.
    char reply[256] = {};
    QCOMPARE(rig.shared().Entries().PinPad_GetCustInfo(reply), -1);
}

void ShellDeviceTest::closePort() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.click("btCloseCom");
    QCOMPARE(rig.status(), QString("serial which has been closed"));
    QVERIFY(rig.control<QPushButton>("btOpenCom")->isEnabled());
    QVERIFY(!rig.control<QPushButton>("btCloseCom")->isEnabled());
    char reply[256] = {};
    QCOMPARE(rig.shared().Entries().PinPad_GetCustInfo(reply), -1);
    QCOMPARE(rig.requests(), std::uint64_t{0});
}

// How the port came to be closed before the operation.
enum class ClosedBy { kNeverOpened, kClosePort, kFailedReopen };
Q_DECLARE_METATYPE(ClosedBy)

void ShellDeviceTest::operationWithThePortClosedKeepsItClosed_data() {
    QTest::addColumn<ClosedBy>("closedBy");
    QTest::addColumn<QByteArray>("button");
    for (const char* button : {"SetPassword", "EnterPassword", "Authenticate"}) {
        QTest::addRow("%s, never opened", button) << ClosedBy::kNeverOpened << QByteArray(button);
    }
    QTest::newRow("after Close Com port") << ClosedBy::kClosePort << QByteArray("SetPassword");
    QTest::newRow("after a failed reopen at a new speed")
        << ClosedBy::kFailedReopen << QByteArray("EnterPassword");
}

// The buttons that stay enabled while the port is closed end their operation with the buttons
// of a closed port, not of an open one.
void ShellDeviceTest::operationWithThePortClosedKeepsItClosed() {
    QFETCH(ClosedBy, closedBy);
    QFETCH(QByteArray, button);
    PadRig rig;
    if (closedBy == ClosedBy::kClosePort) {
        QVERIFY(rig.openPort());
        rig.click("btCloseCom");
        QCOMPARE(rig.status(), QString("serial which has been closed"));
    } else if (closedBy == ClosedBy::kFailedReopen) {
        QVERIFY(rig.openPort());
        // Serial speed 0x48 names no baud entry: the reopen fails on the empty baud text.
        rig.control<QComboBox>("comboControlCode")->setCurrentIndex(6);
        rig.setText("edControlCode", "48");
        rig.click("btSetControlCode");
        QCOMPARE(rig.dialogs.requests.size(), std::size_t{1});
    }
    rig.click(button.constData());
    QVERIFY(!rig.status().isEmpty());
    for (const auto& [name, enabledWhenOpen] : OperationButtonsOpenState()) {
        QVERIFY2(rig.control(name)->isEnabled() == (QByteArray(name) == "btOpenCom"), name);
    }
    // "Open Com port" really opens it again.
    rig.setText("comboBoundRate", "9600");
    QVERIFY(rig.openPort());
    for (const auto& [name, enabledWhenOpen] : OperationButtonsOpenState()) {
        QVERIFY2(rig.control(name)->isEnabled() == enabledWhenOpen, name);
    }
}

void ShellDeviceTest::focusReturnsAfterARealClick_data() {
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("status");
    QTest::newRow("refusal that moves no focus")
        << QByteArray("TabSheet4") << QByteArray("btDownloadKey")
        << QStringList{"comboMixCode=33", "edPin1=0123"}
        << "in the first part clear test key length is 8 bytes(16 character)";
    QTest::newRow("Read Key Verify Code")
        << QByteArray("TabSheet4") << QByteArray("Button4") << QStringList{} << QString();
    QTest::newRow("Data Encrpytion") << QByteArray("TabSheet6") << QByteArray("btEncryptData")
                                     << QStringList{"memoInputData=0102030405060708"} << QString();
    QTest::newRow("MAC") << QByteArray("TabSheet5") << QByteArray("btMakeMAC")
                         << QStringList{"memoMakeMacData=0102030405060708"} << QString();
    QTest::newRow("card control") << QByteArray("TabSheet7") << QByteArray("IC_Control")
                                  << QStringList{} << "IC Card Control Success";
}

// A clicked button is disabled while its operation runs, which moves the focus on; when the
// buttons come back, the focus is back on the button, so the operator's next keys do not land
// in another control.
void ShellDeviceTest::focusReturnsAfterARealClick() {
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, button);
    QFETCH(QStringList, settings);
    QFETCH(QString, status);
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.control<QTabWidget>("PageControl1")->setCurrentWidget(rig.control(page.constData()));
    QVERIFY(ShowActive(rig));
    for (const QString& setting : settings) {
        rig.setText(setting.section('=', 0, 0).toLatin1().constData(), setting.section('=', 1));
    }
    const std::uint64_t before = rig.requests();
    rig.click(button.constData());
    if (status.isEmpty()) {
        QCOMPARE(rig.requests(), before + 1);
    } else {
        QCOMPARE(rig.status(), status);
    }
    QCOMPARE(QApplication::focusWidget(), rig.control(button.constData()));
}

void ShellDeviceTest::closingRightAfterStartSendsCloseKeypadOnce() {
    PadRig rig;
    // Open the port behind the window's back through the same loaded library, so that the
    // control code sent at close can reach the pad while no handler has run yet.
    const QString path = rig.window->Library().LoadedPath();
    void* library = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    QVERIFY(library != nullptr);
    auto enablePort =
        reinterpret_cast<decltype(&PinPad_EnablePort)>(dlsym(library, "PinPad_EnablePort"));
    QCOMPARE(enablePort("com1", 9600, "N", "8", "1"), 0);
    dlclose(library);

    rig.window->close();
    QCOMPARE(rig.countPayload("5032"), std::size_t{1});
    QCOMPARE(rig.requests(), std::uint64_t{1});
    rig.window->close();
    rig.window.reset();
    QCOMPARE(rig.countPayload("5032"), std::size_t{1});
}

void ShellDeviceTest::closingAfterAnOperationSendsNothing() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.click("btGetVersion");
    rig.window->close();
    rig.window.reset();
    QCOMPARE(rig.countPayload("5032"), std::size_t{0});
    QCOMPARE(rig.payloads(), std::vector<std::string>{"3"});
}

void ShellDeviceTest::closingWithThePortClosedShowsTheFailure() {
    PadRig rig;
    rig.window->close();
    QCOMPARE(rig.status(), QString("failure in Close Pinpad,failure reason is:the serial port "
                                   "remains closed  or open the serial port improperly"));
    QCOMPARE(rig.requests(), std::uint64_t{0});
}

void ShellDeviceTest::clickDuringADriverCallDoesNotEnterTheDriver() {
    PadRig rig;
    QVERIFY(rig.openPort("9600"));
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().delay = 600ms; });
    rig.setText("comboBoundRate", "115200");

    bool nestedRan = false;
    bool wasInCall = false;
    int nestedResult = 0;
    bool nestedEntered = false;
    speed_t speedAfterNestedClick = 0;
    // Fires from the driver's message pump while the version read waits for the pad.
    QTimer::singleShot(150, rig.w(), [&] {
        nestedRan = true;
        wasInCall = shell::Shell::InDriverCall();
        QVERIFY(rig.control<QPushButton>("btOpenCom")->isEnabled());
        rig.click("btOpenCom");
        speedAfterNestedClick = rig.lineSpeed();
        nestedResult = rig.shared().Run(shell::Operation::PlainCall(),
                                        rig.shared().Entries().PinPad_GetCustInfo, [&](auto) {
                                            nestedEntered = true;
                                            return 0;
                                        });
    });
    rig.click("btGetVersion");
    QVERIFY(nestedRan);
    QVERIFY(wasInCall);
    QCOMPARE(nestedResult, shell::kDriverBusy);
    QVERIFY(!nestedEntered);
    // The click did not reopen the port while the read was waiting ...
    QCOMPARE(int(speedAfterNestedClick), int(B9600));
    // ... but right after the read's driver call returned.
    QCOMPARE(int(rig.lineSpeed()), int(B115200));
    QCOMPARE(rig.status(), QString("succeed in implementation"));
    QCOMPARE(rig.text("edProductType"), QString("SIM731"));
    QCOMPARE(rig.payloads(), std::vector<std::string>{"3"});
}

void ShellDeviceTest::closeDuringADriverCallWaitsForIt() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.window->show();
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().delay = 400ms; });
    // The clear-text keypad may be open: the close then sends its control code.
    rig.shared().MarkPadInputOpen();
    bool visibleAfterCloseRequest = false;
    QTimer::singleShot(100, rig.w(), [&] {
        rig.window->close();
        visibleAfterCloseRequest = rig.window->isVisible();
    });
    char reply[256] = {};
    auto getCustInfo = rig.shared().Entries().PinPad_GetCustInfo;
    QCOMPARE(rig.shared().Run(shell::Operation::PlainCall(), getCustInfo,
                              [&](auto entry) { return entry(reply); }),
             0);
    QVERIFY(visibleAfterCloseRequest);
    QVERIFY(!rig.window->isVisible());
    QCOMPARE(rig.payloads(), (std::vector<std::string>{"3", "5032"}));
}

QTEST_MAIN(ShellDeviceTest)
#include "shell_device_test.moc"
