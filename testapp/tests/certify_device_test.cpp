// The certification from the monitor window, through the real widgets, the real driver and a
// simulated pad: the same run as the tool's, its prompts for what to type, its progress and
// result, and the report it writes and opens.
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QSet>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include "certify_panel.h"
#include "monitor_window.h"
#include "pad_rig.h"

using namespace testsupport;

namespace {

// What padsim types whenever an input mode opens: the key part of codes 41-43; the PIN entries
// take its first four digits.
padsim::PadOptions TypingPad() {
    padsim::PadOptions options;
    options.scriptedKeys = "1234567890ABCDEF\r";
    options.scriptedKeyDelay = std::chrono::milliseconds(20);
    return options;
}

}  // namespace

class CertifyTest : public QObject {
    Q_OBJECT
private slots:
    void certifiesFromTheMonitorWindow();
    void refusesWithoutLeaveToOverwriteKeys();
};

void CertifyTest::certifiesFromTheMonitorWindow() {
    PadRig rig(TypingPad());
    QVERIFY(rig.openPort());
    QTest::mouseClick(rig.control<QToolButton>("btFrameMonitor"), Qt::LeftButton);
    monitor::CertifyPanel* panel = rig.window->Monitor()->Certification();
    QStringList opened;
    panel->SetReportOpener([&opened](const QString& path) { opened << path; });
    rig.control<QCheckBox>("chkOverwriteKeys")->setChecked(true);
    rig.control<QCheckBox>("chkChangeSettings")->setChecked(true);
    rig.setText("edUnitLabel", "BENCH-3");
    rig.setText("edReportFolder", rig.folder.file("report"));
    // Every prompt the operator is shown while it runs.
    QSet<QString> prompts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString prompt = rig.control<QLabel>("CertifyPrompt")->text();
        if (!prompt.isEmpty()) prompts << prompt;
    });
    watch.start(5);
    rig.click("btCertify");
    watch.stop();

    auto* result = rig.control<QLabel>("CertifyResult");
    QVERIFY2(result->text().startsWith("conforms: "), qPrintable(result->text()));
    QCOMPARE(result->accessibleName(), result->text());
    QVERIFY(result->text().contains(" 0 failed, 0 errors, 0 not run"));
    QVERIFY(prompts.contains("Type the key part 1234567890ABCDEF on the pad, then Enter"));
    QVERIFY(prompts.contains("PIN format ISO9564_3: type the PIN 1234 on the pad"));
    QCOMPARE(rig.control<QProgressBar>("CertifyProgress")->value(),
             rig.control<QProgressBar>("CertifyProgress")->maximum());
    const QString checks = rig.text("CertifyChecks");
    QVERIFY(checks.contains("[passed] PIN: PIN block, IBM3624, decoded on the host"));
    QVERIFY(checks.contains("[passed] MAC: MAC ANSI X9.19 under the TAK at 31"));
    // The report is written and opened; it names the unit the operator gave.
    const QString report = rig.folder.file("report/certificate.html");
    QCOMPARE(opened, QStringList{report});
    QVERIFY(FileText(report).contains("<td>BENCH-3</td>"));
    QVERIFY(FileText(rig.folder.file("report/certificate.json")).contains("\"conforms\""));
    opened.clear();
    rig.click("btOpenReport");
    QCOMPARE(opened, QStringList{report});
    // The main window's operations are there again.
    QVERIFY(rig.control<QPushButton>("btGetVersion")->isEnabled());
}

void CertifyTest::refusesWithoutLeaveToOverwriteKeys() {
    PadRig rig(TypingPad());
    QVERIFY(rig.openPort());
    QTest::mouseClick(rig.control<QToolButton>("btFrameMonitor"), Qt::LeftButton);
    rig.setText("edReportFolder", rig.folder.file("report"));
    rig.click("btCertify");
    QVERIFY(rig.control<QLabel>("CertifyResult")->text().contains("tick \"Overwrite the"));
    QCOMPARE(rig.requests(), std::uint64_t{0});
    QVERIFY(!QFile::exists(rig.folder.file("report")));
}

QTEST_MAIN(CertifyTest)
#include "certify_device_test.moc"
