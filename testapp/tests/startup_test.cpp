// The window without a driver library: start-up, the button states, the clock, the conversion
// error and the handlers' messages for unbound entries.
#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>
#include <algorithm>

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
    void customerInfoRefusesWhatWouldOverflow_data();
    void customerInfoRefusesWhatWouldOverflow();
    void inputControlsAreNamedByTheirCaptions();
    void everyPageNamesItsControls_data();
    void everyPageNamesItsControls();
    void typedTextNeverJoinsAList();
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

void StartupTest::customerInfoRefusesWhatWouldOverflow_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("after");
    const QString full = QString(25, 'a') + QString(25, 'z');
    QTest::newRow("typing in the middle of a full memo") << full << 25 << 0 << "x"
                                                         << "" << full;
    QTest::newRow("Enter in a full memo") << full << 50 << 0 << "\n"
                                          << "" << full;
    QTest::newRow("typing the 50th character") << full.left(49) << 49 << 0 << "z"
                                               << "" << full;
    QTest::newRow("line break is a character") << full.left(48) << 48 << 0 << "\nq"
                                               << "" << full.left(48) + "\nq";
    QTest::newRow("paste that would overflow") << full.left(45) << 10 << 0 << ""
                                               << "0123456789" << full.left(45);
    QTest::newRow("paste over a selection that fits")
        << full << 20 << 10 << ""
        << "0123456789" << full.left(20) + "0123456789" + full.mid(30);
    QTest::newRow("program text is not cut, deleting shortens it")
        << QString(60, 'c') << 60 << 0 << "\b"
        << "" << QString(59, 'c');
}

void StartupTest::customerInfoRefusesWhatWouldOverflow() {
    QFETCH(QString, before);
    QFETCH(int, cursor);
    QFETCH(int, selected);
    QFETCH(QString, typed);
    QFETCH(QString, pasted);
    QFETCH(QString, after);
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    auto* memo = Find<QPlainTextEdit>(&window, "memoCustInof");
    memo->setPlainText(before);
    QTextCursor position = memo->textCursor();
    position.setPosition(cursor);
    position.setPosition(cursor + selected, QTextCursor::KeepAnchor);
    memo->setTextCursor(position);
    if (!pasted.isEmpty()) {
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keySequence(memo, QKeySequence::Paste);
    }
    for (QChar c : typed) {
        if (c == '\n')
            QTest::keyClick(memo, Qt::Key_Return);
        else if (c == '\b')
            QTest::keyClick(memo, Qt::Key_Backspace);
        else
            QTest::keyClicks(memo, QString(c));
    }
    QCOMPARE(memo->toPlainText(), after);
    if (after == before) {
        // Refused: the cursor stays where it was, and undo brings nothing back.
        QCOMPARE(memo->textCursor().position(), cursor + selected);
        QTest::keySequence(memo, QKeySequence::Undo);
        QCOMPARE(memo->toPlainText(), before);
    }
}

// The name an assistive tool reads for `control`. On Linux a combo box reports its text as its
// name and its caption label through the "labelled by" relation.
QString AccessibleName(QWidget* control) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    if (accessible == nullptr) return "<none>";
    if (qobject_cast<QComboBox*>(control) == nullptr) return accessible->text(QAccessible::Name);
    if (control->accessibleName().isEmpty()) return "<unnamed>";
    QStringList captions;  // the group box around it counts as a label too; take the captions
    for (const auto& [label, relation] : accessible->relations(QAccessible::Label)) {
        if (qobject_cast<QLabel*>(label->object())) captions << label->text(QAccessible::Name);
    }
    return captions.size() == 1 ? captions[0] : "<no single caption>";
}

// Screen readers and GUI automation find a control by the name its accessibility interface
// reports: the caption the operator reads beside it, and never the same name twice but on the
// password row, whose one caption names the index and the password (a combo box and an edit).
void StartupTest::inputControlsAreNamedByTheirCaptions() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    const QHash<QString, QString> expected = {
        {"comboPort", "Com port:"},
        {"comboBoundRate", "Baud rate:"},
        {"comboDataBit", "Data bit:"},
        {"comboParity", "Parity bit:"},
        {"comboStop", "Stop bit:"},
        {"edProductType", "product model:"},
        {"edHardwareVersion", "hardware ver:"},
        {"edSoftwareVersion", "firmware version:"},
        {"edDate", "Date Code:"},
        {"edProductNO", "series number:"},
        {"edRemark", "description code:"},
        {"edAuthorizationData", "input UID:"},
        {"ComboInitKey", "Key index:"},
        {"AuthRandom", "Random:"},
        {"edReturnAuthorization", "return information:"},
        {"ComboBox4", "password"},
        {"auth_password", "password"},
        {"memoCustInof", "customer information to write:"},
        {"memoGetCustInfo", "customer information read back:"},
        {"edKeyboardMainValue", "Main key value(HEX):"},
        {"edLeftKey", "left function key value(HEX):"},
        {"edRightKey", "right function key value(HEX):"},
        {"comboControlCode", "select controlling code"},
        {"edControlCode", "input controller value"},
        {"keypad resume temporarily", "keypad resume temporarily"},
        {"keypad invalidation temporarily", "keypad invalidation temporarily"},
    };
    QStringList seen;
    QSet<QString> names;
    for (const char* page : {"TabSheet1", "TabSheet2", "TabSheet3"}) {
        QWidget* controls = Find<QWidget>(&window, page);
        QList<QWidget*> inputs = InputControls(controls);
        for (QRadioButton* option : controls->findChildren<QRadioButton*>()) inputs << option;
        for (QWidget* control : inputs) {
            const QString key = qobject_cast<QRadioButton*>(control)
                                    ? static_cast<QRadioButton*>(control)->text()
                                    : control->objectName();
            QVERIFY2(expected.contains(key), qPrintable("not in the table: " + key));
            QCOMPARE(AccessibleName(control), expected.value(key));
            names.insert(AccessibleName(control));
            seen << key;
        }
    }
    QCOMPARE(seen.size(), expected.size());
    QCOMPARE(names.size(), expected.size() - 1);
}

void StartupTest::everyPageNamesItsControls_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("readOnly");
    QTest::addColumn<QStringList>("valueLabels");
    QTest::newRow("Commu para") << "TabSheet1" << QStringList{} << QStringList{};
    QTest::newRow("Ver information") << "TabSheet2" << QStringList{"AuthRandom"} << QStringList{};
    QTest::newRow("keypad parameter") << "TabSheet3" << QStringList{} << QStringList{};
    QTest::newRow("key management")
        << "TabSheet4" << QStringList{"edDownLoadKeyRetValue", "PWD"}
        << QStringList{"CheckValue1", "CheckValue2", "CheckValue3", "CheckValueKey"};
    QTest::newRow("PIN arithmetic") << "TabSheet5" << QStringList{} << QStringList{};
    QTest::newRow("data operation") << "TabSheet6" << QStringList{} << QStringList{};
    QTest::newRow("cleartext") << "TabSheet8" << QStringList{"Memo1", "Memo2"} << QStringList{};
    QTest::newRow("Ic Card Control") << "TabSheet7" << QStringList{"CardAtr"} << QStringList{};
}

// Every control the operator types into, the edit inside an editable list included, carries
// the caption beside it as its accessible name, or a name of its own where it has none; Tab
// leaves a multi-line field instead of typing a tab into it.
void StartupTest::everyPageNamesItsControls() {
    QFETCH(QString, page);
    QFETCH(QStringList, readOnly);
    QFETCH(QStringList, valueLabels);
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    QWidget* controls = Find<QWidget>(&window, page.toLatin1().constData());
    Find<QTabWidget>(&window, "PageControl1")->setCurrentWidget(controls);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    int edits = 0;
    for (QWidget* control : controls->findChildren<QWidget*>()) {
        const bool input = qobject_cast<QComboBox*>(control) || qobject_cast<QLineEdit*>(control) ||
                           qobject_cast<QPlainTextEdit*>(control);
        if (!input) continue;
        auto* combo = qobject_cast<QComboBox*>(control->parentWidget());
        QWidget* captioned = combo != nullptr ? combo : control;
        const QString what = control->objectName() + " in " + captioned->objectName();
        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(what));
        if (const QLabel* caption = CaptionOf(captioned)) {
            QCOMPARE(control->accessibleName(), caption->text());
        }
        if (combo != nullptr) ++edits;
    }
    const QList<QComboBox*> combos = controls->findChildren<QComboBox*>();
    QCOMPARE(edits, static_cast<int>(std::count_if(combos.cbegin(), combos.cend(),
                                                   [](auto* c) { return c->isEditable(); })));

    for (const QString& name : valueLabels) {
        QVERIFY2(!Find<QLabel>(&window, name.toLatin1().constData())->accessibleName().isEmpty(),
                 qPrintable(name));
    }
    for (const QString& name : readOnly) {
        QWidget* field = Find<QWidget>(&window, name.toLatin1().constData());
        const auto* edit = qobject_cast<QLineEdit*>(field);
        const auto* memo = qobject_cast<QPlainTextEdit*>(field);
        QVERIFY2(edit ? edit->isReadOnly() : memo && memo->isReadOnly(), qPrintable(name));
    }

    for (QPlainTextEdit* memo : controls->findChildren<QPlainTextEdit*>()) {
        if (memo->isReadOnly() || !memo->isVisible() || !memo->isEnabled()) continue;
        memo->setFocus();
        QVERIFY(memo->hasFocus());
        const QString before = memo->toPlainText();
        QTest::keyClick(memo, Qt::Key_Tab);
        QCOMPARE(memo->toPlainText(), before);
        QVERIFY2(!memo->hasFocus(), qPrintable(memo->objectName()));
    }
}

// Enter in an editable combo box never adds the typed text to its list; a serial-speed value
// past the end of the baud list must stay past its end.
void StartupTest::typedTextNeverJoinsAList() {
    WorkingFolder folder;
    DialogRecorder dialogs;
    shell::TfmTestQm731 window;
    int editable = 0;
    for (const char* page : {"TabSheet1", "TabSheet2", "TabSheet3"}) {
        for (QComboBox* combo : Find<QWidget>(&window, page)->findChildren<QComboBox*>()) {
            if (!combo->isEditable()) continue;
            ++editable;
            const int count = combo->count();
            combo->lineEdit()->clear();
            QTest::keyClicks(combo, "57600");
            QTest::keyClick(combo, Qt::Key_Return);
            QCOMPARE(combo->count(), count);
            QCOMPARE(combo->findText("57600"), -1);
        }
    }
    QCOMPARE(editable, 6);
}

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
