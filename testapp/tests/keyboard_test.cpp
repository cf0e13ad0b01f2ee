// The keyboard in the window and the monitor: Tab in each page's reading order and out of the
// monitor's tables, Return and keypad Enter press the focused button, Escape and F12 put the
// monitor away, and the monitor opened with F12 has the keyboard.
#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

#include "main_window.h"
#include "monitor_window.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// The controls of `page` that Tab reaches, in the order it reaches them.
QStringList TabStops(QWidget* page) {
    QStringList names;
    QWidget* first = nullptr;
    for (QWidget* w = page->nextInFocusChain(); w != page && w != first;
         w = w->nextInFocusChain()) {
        if (first == nullptr) first = w;
        // Disabled controls too: their place in the chain is what matters here.
        if (!page->isAncestorOf(w) || !(w->focusPolicy() & Qt::TabFocus) || !w->isVisible())
            continue;
        if (!names.contains(w->objectName())) names << w->objectName();
    }
    return names;
}

bool ShowWindow(QWidget* window) {
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

}  // namespace

class KeyboardTest : public QObject {
    Q_OBJECT
private slots:
    void tabFollowsTheReadingOrder_data();
    void tabFollowsTheReadingOrder();
    void returnPressesTheFocusedButton_data();
    void returnPressesTheFocusedButton();
    void monitorKeyboard();
};

void KeyboardTest::tabFollowsTheReadingOrder_data() {
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QStringList>("order");  // names in the order Tab reaches them
    QTest::newRow("PIN arithmetic: the PIN group first, then renew, then MAC")
        << QByteArray("TabSheet5")
        << QStringList{"comboPinKeyNo", "btEnablePin", "ComboBox3",   "Button6",
                       "comboMacType",  "btMakeMAC",   "btCleanUpMac"};
    QTest::newRow("Ic Card Control: the button beside its code")
        << QByteArray("TabSheet7")
        << QStringList{"CardSockt1", "ControlCode", "IC_Control", "CardAtr",
                       "CLA",        "DataSend",    "IC_Access"};
    QTest::newRow("Ver information: the version, then authentication")
        << QByteArray("TabSheet2")
        << QStringList{"edProductType", "btGetVersion", "Button1", "edAuthorizationData",
                       "btInitAuthorization"};
}

void KeyboardTest::tabFollowsTheReadingOrder() {
    QFETCH(QByteArray, page);
    QFETCH(QStringList, order);
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    auto* pages = Find<QTabWidget>(&window, "PageControl1");
    pages->setCurrentWidget(Find<QWidget>(&window, page.constData()));
    QVERIFY(ShowWindow(&window));
    const QStringList stops = TabStops(Find<QWidget>(&window, page.constData()));
    QCOMPARE(stops.value(0), order.first());
    qsizetype last = -1;
    for (const QString& name : order) {
        const qsizetype at = stops.indexOf(name);
        QVERIFY2(at > last, qPrintable(name + " out of order in " + stops.join(' ')));
        last = at;
    }
    // A pair that stands side by side in the order also follows directly.
    if (page == "TabSheet7")
        QCOMPARE(stops.indexOf("IC_Control"), stops.indexOf("ControlCode") + 1);
}

void KeyboardTest::returnPressesTheFocusedButton_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
}

// "clear information" empties the version fields; in the monitor, "Clear" empties the history.
void KeyboardTest::returnPressesTheFocusedButton() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    auto* pages = Find<QTabWidget>(&window, "PageControl1");
    pages->setCurrentWidget(Find<QWidget>(&window, "TabSheet2"));
    QVERIFY(ShowWindow(&window));
    Find<QLineEdit>(&window, "edProductType")->setText("SIM731");
    auto* clear = Find<QPushButton>(&window, "Button1");
    clear->setFocus();
    QTest::keyClick(window.windowHandle(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(Find<QLineEdit>(&window, "edProductType")->text(), QString());

    // A line of the history to clear: the port's open without a driver counts as success.
    QTest::mouseClick(Find<QPushButton>(&window, "btOpenCom"), Qt::LeftButton);
    monitor::MonitorWindow* monitor = window.Monitor();
    QCOMPARE(monitor->History().Entries().size(), std::size_t{1});
    QVERIFY(ShowWindow(monitor));
    auto* clearHistory = monitor->findChild<QPushButton*>("btClearHistory");
    monitor->findChild<QTabWidget*>("MonitorTabs")->setCurrentIndex(1);
    clearHistory->setFocus();
    QTest::keyClick(monitor->windowHandle(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(monitor->History().Entries().size(), std::size_t{0});
}

// F12 opens the monitor with the keyboard in it; Tab leaves its table for the buttons below;
// Escape puts it away, and so does F12 pressed in it.
void KeyboardTest::monitorKeyboard() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    QVERIFY(ShowWindow(&window));
    monitor::MonitorWindow* monitor = window.Monitor();
    for (const Qt::Key away : {Qt::Key_Escape, Qt::Key_F12}) {
        QTest::keyClick(window.windowHandle(), Qt::Key_F12);
        // The toggle's shortcut presses it as a click does, a moment later.
        QTRY_VERIFY(monitor->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(monitor));
        auto* frames = monitor->findChild<QTableView*>("FramesView");
        frames->setFocus();
        QTest::keyClick(monitor->windowHandle(), Qt::Key_Tab);
        QCOMPARE(monitor->focusWidget()->objectName(), QString("chkShowKeys"));
        QTest::keyClick(monitor->windowHandle(), away);
        QVERIFY(!monitor->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
}

QTEST_MAIN(KeyboardTest)
#include "keyboard_test.moc"
