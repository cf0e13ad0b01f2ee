// The frame monitor and the operation history against the real driver and a simulated pad:
// the frames listed as they were on the line, key material masked until the operator shows it,
// the final status line of each operation kept, and what is copied and saved.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>
#include <functional>

#include "monitor_window.h"
#include "operation_history.h"
#include "pad_rig.h"

using namespace testsupport;

namespace {

const QString kKeyPart = "0123456789ABCDEF";

// Bytes as the monitor shows them: two hex digits each, separated by blanks.
QString HexText(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ')).toUpper(); }

// The request frame the driver builds for `commandAndPayload`.
QByteArray RequestFrame(const QByteArray& commandAndPayload) {
    QByteArray frame = "\x02" +
                       QByteArray::number(commandAndPayload.size()).rightJustified(3, '0') +
                       commandAndPayload + "\x03";
    unsigned char check = 0;
    for (int i = 1; i < frame.size(); ++i) check ^= static_cast<unsigned char>(frame[i]);
    return frame + QByteArray::number(check, 16).rightJustified(2, '0').toUpper();
}

QString Cell(const QAbstractItemModel* model, int row, int column) {
    return model->index(row, column).data().toString();
}

void FillClearKey(const PadRig& rig, const QString& keyNo) {
    rig.setText("comboKeyNo", keyNo);
    Choose(rig, "comboMixCode", "30");
    rig.control<QComboBox>("comboPinLength")->setCurrentIndex(0);
    rig.setText("edPin1", kKeyPart);
}

// Shows the monitor through its toggle and has its saves go to `path`.
monitor::MonitorWindow* OpenMonitor(const PadRig& rig, const QString& path) {
    QTest::mouseClick(rig.control<QToolButton>("btFrameMonitor"), Qt::LeftButton);
    monitor::MonitorWindow* window = rig.window->Monitor();
    window->SetFileChooser([path](const QString&, const QString&) { return path; });
    return window;
}

struct FrameRow {
    const char* name;
    std::function<void(const PadRig&)> act;
    QString command;
    QString secret;  // the request's key material, shown only when unmasked
    QString status, result;
};

struct Expected {
    const char* page;
    const char* button;  // its caption names the operation
    QString result, text;
    QString reason = {};  // why the driver call failed, as the operator reads it; none: empty
};

struct HistoryRow {
    const char* name;
    std::function<void(const PadRig&)> act;
    std::vector<Expected> entries;
};

// Splits one CSV line; fields may be quoted with doubled quotes inside.
QStringList CsvFields(const QString& line) {
    QStringList fields;
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    return fields << field;
}

}  // namespace

Q_DECLARE_METATYPE(FrameRow)
Q_DECLARE_METATYPE(HistoryRow)

class MonitorTest : public QObject {
    Q_OBJECT
private slots:
    void framesListed_data();
    void framesListed();
    void historyKept_data();
    void historyKept();
    void screenReaderHearsWhatTheMonitorShows();
    void csvCellsStayText_data();
    void csvCellsStayText();
};

void MonitorTest::framesListed_data() {
    QTest::addColumn<FrameRow>("row");
    const FrameRow rows[] = {
        {"clear key download: the key part masked",
         [](const PadRig& rig) {
             FillClearKey(rig, "1F");
             rig.click("btDownloadKey");
         },
         "download key", kKeyPart, "61", "success"},
        {"version read: nothing masked", [](const PadRig& rig) { rig.click("btGetVersion"); },
         "customer information", "", "63", "success"},
        {"version read with a wrong check: the reason named",
         [](const PadRig& rig) {
             rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().wrongCheck = true; });
             rig.click("btGetVersion");
         },
         "customer information", "", "none",
         "excessive time in data reading: the reply's check characters are wrong"},
    };
    for (const FrameRow& row : rows) QTest::newRow(row.name) << row;
}

void MonitorTest::framesListed() {
    QFETCH(FrameRow, row);
    PadRig rig;
    const QString saved = rig.folder.file("frames.txt");
    monitor::MonitorWindow* window = OpenMonitor(rig, saved);
    QVERIFY(window->isVisible());
    QVERIFY(rig.openPort());
    const auto* model = rig.window->Monitor()->findChild<QTableView*>("FramesView")->model();
    QTest::mouseClick(window->findChild<QPushButton*>("btClearFrames"), Qt::LeftButton);
    QCOMPARE(model->rowCount(), 0);

    row.act(rig);
    QTRY_VERIFY_WITH_TIMEOUT(
        model->rowCount() >= 2 && Cell(model, model->rowCount() - 1, 1) == "received", 10000);
    const int sent = model->rowCount() - 2, received = sent + 1;
    const QByteArray request = QByteArray::fromStdString(rig.payloads().back());
    const QByteArray frame = RequestFrame(request);
    const QString secretHex = HexText(row.secret.toLatin1());
    QString masked = HexText(frame);
    if (!row.secret.isEmpty()) {
        QVERIFY(masked.contains(secretHex));
        masked.replace(secretHex, QStringList(row.secret.size(), "**").join(' '));
    }
    QCOMPARE(Cell(model, sent, 1), QString("sent"));
    QCOMPARE(Cell(model, sent, 2), row.command);
    QCOMPARE(Cell(model, sent, 3), QString::number(frame.size()));
    QCOMPARE(Cell(model, sent, 4), masked);
    QCOMPARE(Cell(model, received, 2), row.command);
    QVERIFY(Cell(model, received, 4).startsWith("02"));
    QCOMPARE(Cell(model, received, 5), row.status);
    QCOMPARE(Cell(model, received, 6), row.result);
    QVERIFY(Cell(model, received, 7).toDouble() > 0);

    // Copied and saved as listed: masked.
    QTest::mouseClick(window->findChild<QPushButton*>("btCopyFrames"), Qt::LeftButton);
    const QString copied = QApplication::clipboard()->text();
    QTest::mouseClick(window->findChild<QPushButton*>("btSaveFrames"), Qt::LeftButton);
    const QString file = FileText(saved);
    QCOMPARE(file, copied);
    QCOMPARE(file.count('\n'), model->rowCount() + 1);
    QVERIFY(file.contains(masked));
    if (!row.secret.isEmpty()) QVERIFY(!file.contains(secretHex));

    // The operator shows the key material: listed and saved whole.
    QTest::mouseClick(window->findChild<QCheckBox*>("chkShowKeys"), Qt::LeftButton);
    QCOMPARE(Cell(model, sent, 4), HexText(frame));
    QTest::mouseClick(window->findChild<QPushButton*>("btSaveFrames"), Qt::LeftButton);
    QVERIFY(FileText(saved).contains(HexText(frame)));

    window->close();
    QVERIFY(!rig.control<QToolButton>("btFrameMonitor")->isChecked());
}

// The toggle is named by its caption, the monitor is a window, and its notice is heard as the
// text it shows: here why a save did not happen.
void MonitorTest::screenReaderHearsWhatTheMonitorShows() {
    PadRig rig;
    auto* toggle = rig.control<QToolButton>("btFrameMonitor");
    QCOMPARE(QAccessible::queryAccessibleInterface(toggle)->text(QAccessible::Name),
             toggle->text());
    // A folder where the file should go: nothing is saved, and the notice says why.
    monitor::MonitorWindow* window = OpenMonitor(rig, rig.folder.path());
    QCOMPARE(QAccessible::queryAccessibleInterface(window)->role(), QAccessible::Window);
    QTest::mouseClick(window->findChild<QPushButton*>("btSaveFrames"), Qt::LeftButton);
    auto* notice = window->findChild<QLabel*>("MonitorNotice");
    const QString expected = QString("not saved: %1 is no regular file").arg(rig.folder.path());
    QCOMPARE(notice->text(), expected);
    QCOMPARE(QAccessible::queryAccessibleInterface(notice)->text(QAccessible::Name), expected);
    // So are the serial devices view's result lines, after their captions.
    auto* mapped = rig.control<QLabel>("labelMappedPorts");
    QVERIFY(mapped->text().startsWith("com1 = "));
    QCOMPARE(QAccessible::queryAccessibleInterface(mapped)->text(QAccessible::Name),
             "Mapped ports: " + mapped->text());
}

void MonitorTest::historyKept_data() {
    QTest::addColumn<HistoryRow>("row");
    const QString closed =
        "failure in user information reading,the failure reason is:the serial port remains "
        "closed  or open the serial port improperly";
    // The status line keeps its text; the reason stands in a column of its own.
    const QString noReply =
        "failure in user information reading,the failure reason is:excessive time in data reading";
    const HistoryRow rows[] = {
        {"a failure with its result code",
         [](const PadRig& rig) {
             rig.openPort();
             // The port goes away under the window.
             rig.shared().Entries().PinPad_DisablePort();
             rig.click("btGetVersion");
         },
         {{"Commu para", "btOpenCom", "0", "succeed in opening the serial"},
          {"Ver information", "btGetVersion", "-1", closed, "the port is not open"}}},
        {"the pad unplugged under the window",
         [](const PadRig& rig) {
             rig.openPort();
             rig.pad->Disappear();
             rig.click("btGetVersion");
         },
         {{"Commu para", "btOpenCom", "0", "succeed in opening the serial"},
          {"Ver information", "btGetVersion", "-4", noReply,
           "the line hung up; is the pad unplugged?"}}},
        {"a reply with a wrong check",
         [](const PadRig& rig) {
             rig.openPort();
             rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().wrongCheck = true; });
             rig.click("btGetVersion");
         },
         {{"Commu para", "btOpenCom", "0", "succeed in opening the serial"},
          {"Ver information", "btGetVersion", "-4", noReply,
           "the reply's check characters are wrong"}}},
        {"successes on two pages",
         [](const PadRig& rig) {
             rig.openPort();
             rig.click("btGetVersion");
         },
         {{"Commu para", "btOpenCom", "0", "succeed in opening the serial"},
          {"Ver information", "btGetVersion", "0", "succeed in implementation"}}},
        {"a refusal without a result code, then a download",
         [](const PadRig& rig) {
             rig.openPort();
             FillClearKey(rig, "2G");
             rig.click("btDownloadKey");
             FillClearKey(rig, "1E");
             rig.click("btDownloadKey");
         },
         {{"Commu para", "btOpenCom", "0", "succeed in opening the serial"},
          {"key management", "btDownloadKey", "", "invalid key no.(value range:00-1F)"},
          {"key management", "btDownloadKey", "0", "succeed in downloading the clear text key"}}},
    };
    for (const HistoryRow& row : rows) QTest::newRow(row.name) << row;
}

void MonitorTest::historyKept() {
    QFETCH(HistoryRow, row);
    PadRig rig;
    const QString saved = rig.folder.file("history");
    monitor::MonitorWindow* window = OpenMonitor(rig, saved);
    auto* view = window->findChild<QTableWidget*>("HistoryView");
    QTest::mouseClick(window->findChild<QPushButton*>("btClearHistory"), Qt::LeftButton);
    QCOMPARE(view->rowCount(), 0);

    row.act(rig);
    const auto operation = [&](const Expected& e) {
        return rig.control<QPushButton>(e.button)->text().remove('&');
    };
    QCOMPARE(view->rowCount(), static_cast<int>(row.entries.size()));
    for (int i = 0; i < view->rowCount(); ++i) {
        const Expected& e = row.entries[static_cast<std::size_t>(i)];
        QCOMPARE(view->item(i, 1)->text(), QString(e.page));
        QCOMPARE(view->item(i, 2)->text(), operation(e));
        QCOMPARE(view->item(i, 3)->text(), e.result);
        QCOMPARE(view->item(i, 4)->text(), e.reason);
        QCOMPARE(view->item(i, 5)->text(), e.text);
        QVERIFY(
            QDateTime::fromString(view->item(i, 0)->text(), "yyyy-MM-dd hh:mm:ss.zzz").isValid());
    }
    // The status bar keeps showing the last line as before.
    QCOMPARE(rig.status(), row.entries.back().text);

    QTest::mouseClick(window->findChild<QPushButton*>("btSaveHistoryCsv"), Qt::LeftButton);
    QStringList lines = FileText(saved).split("\r\n");
    QCOMPARE(lines.takeFirst(), QString("time,page,operation,result code,reason,text"));
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.size(), view->rowCount());
    for (int i = 0; i < lines.size(); ++i) {
        const Expected& e = row.entries[static_cast<std::size_t>(i)];
        QCOMPARE(CsvFields(lines[i]), QStringList({view->item(i, 0)->text(), e.page, operation(e),
                                                   e.result, e.reason, e.text}));
    }

    QTest::mouseClick(window->findChild<QPushButton*>("btSaveHistoryJson"), Qt::LeftButton);
    lines = FileText(saved).split('\n');
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.size(), view->rowCount());
    for (int i = 0; i < lines.size(); ++i) {
        const Expected& e = row.entries[static_cast<std::size_t>(i)];
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(lines[i].toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(object.size(), 6);
        QCOMPARE(object["time"].toString(), view->item(i, 0)->text());
        QCOMPARE(object["page"].toString(), QString(e.page));
        QCOMPARE(object["operation"].toString(), operation(e));
        QCOMPARE(object["result"].isNull() ? QString() : QString::number(object["result"].toInt()),
                 e.result);
        QCOMPARE(object["reason"].isNull() ? QString() : object["reason"].toString(), e.reason);
        QCOMPARE(object["text"].toString(), e.text);
    }
}

// A status text that a spreadsheet would run as a formula is written so that it shows as text;
// numbers, result codes among them, stay numbers.
void MonitorTest::csvCellsStayText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cell");
    QTest::newRow("formula") << "=HYPERLINK(\"x\")"
                             << "\"'=HYPERLINK(\"\"x\"\")\"";
    QTest::newRow("plus") << "+1+2"
                          << "\"'+1+2\"";
    QTest::newRow("minus text") << "-abc"
                                << "\"'-abc\"";
    QTest::newRow("at") << "@SUM(A1)"
                        << "\"'@SUM(A1)\"";
    QTest::newRow("tab first") << "\t=1"
                               << "\"'\t=1\"";
    QTest::newRow("negative number") << "-1"
                                     << "-1";
    QTest::newRow("signed decimal") << "+2.5"
                                    << "+2.5";
    QTest::newRow("plain text") << "succeed in implementation"
                                << "succeed in implementation";
}

void MonitorTest::csvCellsStayText() {
    QFETCH(QString, text);
    QFETCH(QString, cell);
    const monitor::HistoryEntry entry{QDateTime(), "page", "operation", -1, text};
    const QStringList lines = monitor::HistoryCsv({entry}).split("\r\n");
    QCOMPARE(lines.value(1), QString(",page,operation,-1,,") + cell);
}

QTEST_MAIN(MonitorTest)
#include "monitor_device_test.moc"
