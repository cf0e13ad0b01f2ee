// The window without a driver library: start-up, the button states, the clock, the conversion
// error and the handlers' messages for unbound entries.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "test_support.h"

using namespace testsupport;

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startsWithoutTheLibrary();
    void clockRuns();
    void pagesInTheirOrder();
    void openWithoutLibraryCountsAsSuccess();
    void unboundEntries_data();
    void unboundEntries();
    void badBaudTextShowsTheConversionError();
    void badPasswordIndex_data();
    void badPasswordIndex();
    void clearInformationEmptiesTheFields();
    void customerInfoIsLimitedTo50Characters();
};

void StartupTest::initTestCase() { qputenv("LUMENORD_LIBRARY", "/nonexistent/libLumenord.so"); }

void StartupTest::startsWithoutTheLibrary() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    QCOMPARE(dialogs.requests.size(), std::size_t{1});
    QCOMPARE(dialogs.requests[0].caption, QString("Err"));
    QCOMPARE(dialogs.requests[0].text, QString("Load library PinPad_731_QM.dll err"));
    QCOMPARE(dialogs.requests[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QVERIFY(!window.Library().IsLoaded());

    QCOMPARE(window.windowTitle(), QString("QM_ORLA_EPP  Test Program(V3.0)---RVQM"));
    QCOMPARE(window.size(), QSize(963, 464));
    QCOMPARE(window.pos(), QPoint(35, 130));
    auto* pages = Find<QTabWidget>(&window, "PageControl1");
    QCOMPARE(pages->tabText(pages->currentIndex()), QString("key management"));

    int buttons = 0;
    for (const auto& [name, enabledWhenOpen] : OperationButtonsOpenState()) {
        auto* button = Find<QPushButton>(&window, name);
        QVERIFY2(button != nullptr, name);
        QCOMPARE(button->isEnabled(), QByteArray(name) == "btOpenCom");
        ++buttons;
    }
    QCOMPARE(buttons, 24);
    QCOMPARE(window.SharedState().OperationButtons().size(), std::size_t{24});
    QCOMPARE(Find<QLabel>(&window, "StatusPanel0")->text(), QString("Status"));
    QCOMPARE(StatusLine(&window), QString("please first open com port, then test."));
    QCOMPARE(Find<QLabel>(&window, "StatusPanel0")->width(), 40);
    QCOMPARE(Find<QLabel>(&window, "StatusPanel1")->width(), 650);
    QCOMPARE(Find<QLabel>(&window, "StatusPanel2")->width(), 50);
    // Selecting the default entry at start runs no change handler: the label keeps its text.
    QCOMPARE(Find<QLabel>(&window, "labelControlCode")->text(),
             QString("controlling code initialize "));
    QVERIFY(!Find<QWidget>(&window, "RadioGroup1")->isVisibleTo(&window));
}

void StartupTest::clockRuns() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    auto* clock = Find<QLabel>(&window, "StatusPanel2");
    const QString first = clock->text();
    QVERIFY(QTime::fromString(first, "HH:mm:ss").isValid() ||
            QTime::fromString(first, "h:mm:ss").isValid());
    QTRY_VERIFY_WITH_TIMEOUT(clock->text() != first, 3000);
}

void StartupTest::pagesInTheirOrder() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    auto* pages = Find<QTabWidget>(&window, "PageControl1");
    const QStringList captions = {"Commu para",     "Ver information", "keypad parameter",
                                  "key management", "PIN arithmetic",  "data operation",
                                  "cleartext",      "Ic Card Control"};
    const QStringList names = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4",
                               "TabSheet5", "TabSheet6", "TabSheet8", "TabSheet7"};
    QCOMPARE(pages->count(), 8);
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(pages->tabText(i), captions[i]);
        QCOMPARE(pages->widget(i)->objectName(), names[i]);
    }
}

void StartupTest::openWithoutLibraryCountsAsSuccess() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    QTest::mouseClick(Find<QPushButton>(&window, "btOpenCom"), Qt::LeftButton);
    QCOMPARE(StatusLine(&window), QString("succeed in opening the serial"));
    for (const auto& [name, enabledWhenOpen] : OperationButtonsOpenState()) {
        QCOMPARE(Find<QPushButton>(&window, name)->isEnabled(), enabledWhenOpen);
    }
    QTest::mouseClick(Find<QPushButton>(&window, "btCloseCom"), Qt::LeftButton);
    QCOMPARE(StatusLine(&window), QString("serial which has been closed"));
    QVERIFY(Find<QPushButton>(&window, "btOpenCom")->isEnabled());
    QVERIFY(!Find<QPushButton>(&window, "btGetVersion")->isEnabled());
}

void StartupTest::unboundEntries_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("status");
    QTest::newRow("read ver information") << QByteArray("btGetVersion") << "invalied function";
    QTest::newRow("initialize attestation")
        << QByteArray("btInitAuthorization") << "failure in selecting function";
    QTest::newRow("Both sides Authentication")
        << QByteArray("btBidirectionAuthorization") << "failure in selecting function";
    QTest::newRow("Read customer information")
        << QByteArray("btGetCustomerInfor") << "failure in selecting function";
    QTest::newRow("set up controlling code")
        << QByteArray("btSetControlCode") << "failure in selecting function";
}

void StartupTest::unboundEntries() {
    QFETCH(QByteArray, button);
    QFETCH(QString, status);
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    QTest::mouseClick(Find<QPushButton>(&window, "btOpenCom"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(&window, button.constData()), Qt::LeftButton);
    QCOMPARE(StatusLine(&window), status);
    QVERIFY(Find<QPushButton>(&window, "btCloseCom")->isEnabled());
    QCOMPARE(dialogs.requests.size(), std::size_t{1});
}

void StartupTest::badBaudTextShowsTheConversionError() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    auto* baud = Find<QComboBox>(&window, "comboBoundRate");
    baud->setEditText("abc");
    QTest::mouseClick(Find<QPushButton>(&window, "btOpenCom"), Qt::LeftButton);
    QCOMPARE(dialogs.requests.size(), std::size_t{2});
    QCOMPARE(dialogs.requests[1].text, QString("'abc' is not a valid integer value"));
    QCOMPARE(dialogs.requests[1].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(StatusLine(&window), QString());
    QVERIFY(!Find<QPushButton>(&window, "btCloseCom")->isEnabled());
}

void StartupTest::badPasswordIndex_data() {
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("dialog");
    const QString password32(32, 'A');
    QTest::newRow("index 4") << "4" << password32 << "Invalid password index"
                             << "";
    QTest::newRow("index -1") << "-1" << password32 << "Invalid password index"
                              << "";
    QTest::newRow("index 0 accepted") << "0" << password32 << "failure in selecting function"
                                      << "";
    QTest::newRow("30 characters")
        << "2" << QString(30, 'A') << "authorization  data must be 16-bytes"
        << "";
    QTest::newRow("not a number") << "x" << password32 << "please first open com port, then test."
                                  << "'x' is not a valid integer value";
}

void StartupTest::badPasswordIndex() {
    QFETCH(QString, index);
    QFETCH(QString, password);
    QFETCH(QString, status);
    QFETCH(QString, dialog);
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    window.show();
    Find<QTabWidget>(&window, "PageControl1")->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Find<QComboBox>(&window, "ComboBox4")->setEditText(index);
    Find<QLineEdit>(&window, "auth_password")->setText(password);
    QTest::mouseClick(Find<QPushButton>(&window, "SetPassword"), Qt::LeftButton);
    QCOMPARE(StatusLine(&window), status);
    QCOMPARE(dialogs.requests.size(), std::size_t{dialog.isEmpty() ? 1u : 2u});
    if (!dialog.isEmpty()) QCOMPARE(dialogs.requests[1].text, dialog);
    if (password.size() != 32) {
        QCOMPARE(QApplication::focusWidget(), Find<QWidget>(&window, "auth_password"));
    }
}

void StartupTest::clearInformationEmptiesTheFields() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    const char* const fields[] = {
        "edProductType", "edHardwareVersion", "edSoftwareVersion",   "edDate",
        "edProductNO",   "edRemark",          "edAuthorizationData", "edReturnAuthorization"};
    for (const char* name : fields) Find<QLineEdit>(&window, name)->setText("12");
    QTest::mouseClick(Find<QPushButton>(&window, "Button1"), Qt::LeftButton);
    for (const char* name : fields) QCOMPARE(Find<QLineEdit>(&window, name)->text(), QString());
    QCOMPARE(StatusLine(&window), QString("please first open com port, then test."));
}

void StartupTest::customerInfoIsLimitedTo50Characters() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    auto* memo = Find<QPlainTextEdit>(&window, "memoCustInof");
    memo->setPlainText(QString(60, 'c'));
    QCOMPARE(memo->toPlainText(), QString(50, 'c'));
}

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
