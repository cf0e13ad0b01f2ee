// Real mouse clicks and key presses from the X server (xdotool under Xvfb): where the focus is
// after the first click on a window that is not active yet, and what keys pressed while an
// operation runs do. QTest's synthetic clicks skip the window's activation, so they cannot show
// these.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QtTest>
#include <chrono>

#include "monitor_window.h"
#include "operation_history.h"
#include "pad_rig.h"

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

constexpr int kDeadlineMs = 10000;

// Runs xdotool while the window keeps handling its events, so that each input reaches it when
// the server sends it, not in one burst after xdotool has ended.
bool Xdotool(const QStringList& arguments) {
    QProcess process;
    process.start("xdotool", arguments);
    QElapsedTimer waited;
    waited.start();
    while (process.state() != QProcess::NotRunning) {
        if (waited.elapsed() > kDeadlineMs) {
            process.kill();
            process.waitForFinished(kDeadlineMs);
            return false;
        }
        QTest::qWait(5);
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Moves the pointer onto the middle of `widget` and presses and releases its left button.
bool RealClick(QWidget* widget) {
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    // Without --sync, which waits for ever when the pointer is there already; the server takes
    // the move before the click all the same.
    return Xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
}

void ShowPage(const PadRig& rig, const char* page) {
    rig.control<QTabWidget>("PageControl1")->setCurrentWidget(rig.control(page));
}

}  // namespace

class RealClicksTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void focusAfterRealClicks_data();
    void focusAfterRealClicks();
    void keysDuringAnOperationDoNothing();
    void historyNamesTheOperationThatRan();
};

void RealClicksTest::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (run under xvfb-run)");
    if (QStandardPaths::findExecutable("xdotool").isEmpty()) QSKIP("xdotool is not installed");
}

void RealClicksTest::focusAfterRealClicks_data() {
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("focus");
    QTest::newRow("read ver information")
        << QByteArray("TabSheet2") << QByteArray("btGetVersion") << "succeed in implementation"
        << QByteArray("btGetVersion");
    // The pad holds no key at the default indexes: the read fails, and the focus stays all the
    // same.
    QTest::newRow("Read Key Verify Code")
        << QByteArray("TabSheet4") << QByteArray("Button4")
        << "failure in Read Key Verify Code,thefailure reason is:Unmatchable label or no such key"
        << QByteArray("Button4");
    QTest::newRow("Close Com port") << QByteArray("TabSheet1") << QByteArray("btCloseCom")
                                    << "serial which has been closed" << QByteArray("btOpenCom");
}

// A fresh window: the port opened with a real click, then the button's first real click. The
// focus ends on the button, or on the one enabled in its place.
void RealClicksTest::focusAfterRealClicks() {
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, button);
    QFETCH(QString, status);
    QFETCH(QByteArray, focus);
    PadRig rig;
    rig.setText("comboPort", "com1");
    ShowPage(rig, "TabSheet1");
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.w()));
    QVERIFY(RealClick(rig.control("btOpenCom")));
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QString("succeed in opening the serial"), kDeadlineMs);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), rig.control("btCloseCom"), kDeadlineMs);

    ShowPage(rig, page.constData());
    QVERIFY(RealClick(rig.control(button.constData())));
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), status, kDeadlineMs);
    QCOMPARE(QApplication::focusWidget(), rig.control(focus.constData()));
}

// Notes the release of the right Shift, which no control acts on: typed after other keys, it tells
// that the window has been given all of them.
class MarkerKey : public QObject {
public:
    MarkerKey() { qApp->installEventFilter(this); }
    bool seen = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyRelease &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Shift)
            seen = true;
        return false;
    }
};

// Types `keys` (xdotool names, `delayMs` apart) and then the marker, and waits until the window
// has had them all and no operation runs.
bool TypeAndSettle(const PadRig& rig, const QStringList& keys, int delayMs) {
    MarkerKey marker;
    if (!Xdotool(QStringList{"key", "--delay", QString::number(delayMs)} + keys +
                 QStringList{"Shift_R"}))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (!marker.seen || rig.shared().HoldsKeys() || shell::Shell::InDriverCall()) {
        if (waited.elapsed() > kDeadlineMs) return false;
        QTest::qWait(10);
    }
    return true;
}

// Opens the port, shows "Ver information" and reads the version with a real click, so that
// the window is active and the focus on "read ver information".
void ReadVersionByClick(const PadRig& rig) {
    QVERIFY(rig.openPort());
    ShowPage(rig, "TabSheet2");
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.w()));
    QVERIFY(RealClick(rig.control("btGetVersion")));
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QString("succeed in implementation"), kDeadlineMs);
    QCOMPARE(QApplication::focusWidget(), rig.control("btGetVersion"));
}

// Two quick presses of Space on "read ver information" while the pad answers slowly: the first
// runs the read; the second lands while it runs and does nothing, in particular it does not
// press "clear information", which would empty "input UID:".
void RealClicksTest::keysDuringAnOperationDoNothing() {
    PadRig rig;
    ReadVersionByClick(rig);
    if (QTest::currentTestFailed()) return;
    rig.setText("edAuthorizationData", "0123456789ABCDEF");
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().delay = 600ms; });
    const std::uint64_t before = rig.requests();
    QVERIFY(TypeAndSettle(rig, {"space", "space"}, 150));
    QCOMPARE(rig.requests(), before + 1);
    QCOMPARE(rig.status(), QString("succeed in implementation"));
    QCOMPARE(rig.text("edAuthorizationData"), QString("0123456789ABCDEF"));
    QCOMPARE(QApplication::focusWidget(), rig.control("btGetVersion"));
}

// Space pressed in quick succession on "read ver information", as a held key repeats: every
// entry of the history names the read, however the presses fell.
void RealClicksTest::historyNamesTheOperationThatRan() {
    PadRig rig;
    ReadVersionByClick(rig);
    if (QTest::currentTestFailed()) return;
    const auto& entries = rig.window->Monitor()->History().Entries();
    const std::size_t before = entries.size();
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().delay = 40ms; });
    QVERIFY(TypeAndSettle(rig, QStringList(30, "space"), 25));
    QVERIFY2(entries.size() > before + 1, qPrintable(QString("%1 entries after %2, %3 requests")
                                                         .arg(entries.size())
                                                         .arg(before)
                                                         .arg(rig.requests())));
    for (std::size_t i = before; i < entries.size(); ++i) {
        QCOMPARE(entries[i].operation, QString("read ver information"));
        QCOMPARE(entries[i].page, QString("Ver information"));
    }
}

QTEST_MAIN(RealClicksTest)
#include "real_clicks_test.moc"
