#include "certify_panel.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>
#include <QVBoxLayout>

#include "certification.h"
#include "page_layout.h"
#include "shell.h"

namespace monitor {
namespace {

QString Text(const std::string& text) { return QString::fromUtf8(text.c_str()); }

QLineEdit* AddField(QFormLayout* form, const char* name, const QString& caption,
                    const QString& text, QWidget* parent) {
    auto* edit = shell::Named<QLineEdit>(name, parent, text);
    form->addRow(shell::MakeCaption(caption, edit, parent), edit);
    return edit;
}

// A check box or push button named `name`, its accessible name its caption, added to `layout`.
template <typename W>
W* AddCaptioned(QBoxLayout* layout, const char* name, const QString& caption, QWidget* parent) {
    auto* control = shell::Named<W>(name, parent, caption);
    control->setAccessibleName(caption);
    layout->addWidget(control);
    return control;
}

}  // namespace

// What the certification tells the one who runs it, shown in the panel.
class CertifyPanel::PanelOperator : public certify::Operator {
public:
    explicit PanelOperator(CertifyPanel& panel) : m_panel(panel) {}

    void Progress(int done, int total, const std::string& stage) override {
        m_panel.CertifyProgress->setMaximum(total);
        m_panel.CertifyProgress->setValue(done);
        m_panel.CertifyProgress->setFormat(Text(stage) + " (%v/%m)");
        ShowResult(m_panel.CertifyResult, done == total ? QString() : "certifying: " + Text(stage));
        QCoreApplication::processEvents();
    }
    void Prompt(const std::string& text) override {
        QString prompt = Text(text);
        if (!prompt.isEmpty()) prompt[0] = prompt[0].toUpper();
        ShowResult(m_panel.CertifyPrompt, prompt);
        QCoreApplication::processEvents();
    }
    void Checked(const certify::CheckResult& check) override {
        QString line = QString("[%1] %2: %3")
                           .arg(certify::VerdictName(check.verdict),
                                certify::FamilyName(check.family), Text(check.name));
        if (!check.reason.empty()) line += ": " + Text(check.reason);
        m_panel.CertifyChecks->appendPlainText(line);
        ShowResult(m_panel.CertifyPrompt, QString());
        QCoreApplication::processEvents();
    }
    bool Interrupted() override {
        QCoreApplication::processEvents();
        return m_panel.m_stop;
    }
    // The program's driver waits end by their own time-outs: the work runs as it is.
    void AfterInterrupt(const std::function<void()>& work) override { work(); }

private:
    CertifyPanel& m_panel;
};

CertifyPanel::CertifyPanel(shell::Shell& shell, QWidget* parent) : QWidget(parent), m_shell(shell) {
    setObjectName("CertifyPanel");
    m_openReport = [](const QString& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    auto* options = new QVBoxLayout;
    chkOverwriteKeys = AddCaptioned<QCheckBox>(options, "chkOverwriteKeys",
                                               "Overwrite the pad's keys with test keys", this);
    chkChangeSettings = AddCaptioned<QCheckBox>(options, "chkChangeSettings",
                                                "Also change settings that cannot be undone", this);
    chkSkipTyped =
        AddCaptioned<QCheckBox>(options, "chkSkipTyped", "Leave out keys typed on the pad", this);
    auto* form = new QFormLayout;
    edCertifyPin = AddField(form, "edCertifyPin", "PIN typed on the pad:", "1234", this);
    edCertifyPin->setMaxLength(8);
    edUnitLabel = AddField(form, "edUnitLabel", "Unit label:", QString(), this);
    edReportFolder = AddField(form, "edReportFolder", "Report folder:", "certificate", this);
    auto* buttons = new QHBoxLayout;
    btCertify = AddCaptioned<QPushButton>(buttons, "btCertify", "Certify", this);
    btStopCertify = AddCaptioned<QPushButton>(buttons, "btStopCertify", "Stop", this);
    btOpenReport = AddCaptioned<QPushButton>(buttons, "btOpenReport", "Open report", this);
    buttons->addStretch();
    btStopCertify->setEnabled(false);
    btOpenReport->setEnabled(false);
    CertifyProgress = new QProgressBar(this);
    CertifyProgress->setObjectName("CertifyProgress");
    CertifyProgress->setAccessibleName("Progress");
    CertifyPrompt = new QLabel(this);
    CertifyPrompt->setObjectName("CertifyPrompt");
    QFont prompt = CertifyPrompt->font();
    prompt.setBold(true);
    CertifyPrompt->setFont(prompt);
    CertifyResult = new QLabel(this);
    CertifyResult->setObjectName("CertifyResult");
    CertifyChecks = new QPlainTextEdit(this);
    CertifyChecks->setObjectName("CertifyChecks");
    CertifyChecks->setAccessibleName("Checks");
    CertifyChecks->setReadOnly(true);

    auto* top = new QHBoxLayout;
    top->addLayout(options);
    top->addLayout(form);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->addWidget(CertifyProgress);
    layout->addWidget(CertifyPrompt);
    layout->addWidget(CertifyResult);
    layout->addWidget(CertifyChecks, 1);

    connect(btCertify, &QPushButton::clicked, this, &CertifyPanel::btCertifyClick);
    connect(btStopCertify, &QPushButton::clicked, this, &CertifyPanel::btStopCertifyClick);
    connect(btOpenReport, &QPushButton::clicked, this, &CertifyPanel::btOpenReportClick);
}

void CertifyPanel::SetPort(PortOpener open, BaudRate baud) {
    m_openPort = std::move(open);
    m_baud = std::move(baud);
}

void CertifyPanel::ShowResult(QLabel* label, const QString& text) {
    label->setText(text);
    label->setAccessibleName(text);
}

void CertifyPanel::btCertifyClick() {
    if (m_running) return;
    if (!chkOverwriteKeys->isChecked()) {
        ShowResult(CertifyResult,
                   "The certification loads test keys over the pad's own: tick \"Overwrite the "
                   "pad's keys with test keys\" first.");
        return;
    }
    const QString pin = edCertifyPin->text();
    static const QRegularExpression digits("^[0-9]{4,8}$");
    if (!digits.match(pin).hasMatch()) {
        ShowResult(CertifyResult, "The PIN must be 4 to 8 digits.");
        edCertifyPin->setFocus();
        return;
    }
    const QString folder = edReportFolder->text().trimmed();
    if (folder.isEmpty()) {
        ShowResult(CertifyResult, "Name a folder for the report.");
        edReportFolder->setFocus();
        return;
    }
    const shell::DriverEntries& entries = m_shell.Entries();
    if (entries.PinPad_TriUntriDes == nullptr || entries.PinPad_ReadOneByte == nullptr) {
        ShowResult(CertifyResult, "failure in selecting function");
        return;
    }
    // The pad is the certification's alone: no key loop or reader is left running.
    m_shell.CloseKeypadMode();
    m_shell.Begin(shell::Operation::Standard(btCertify));
    m_running = true;
    m_stop = false;
    btCertify->setEnabled(false);
    btStopCertify->setEnabled(true);
    btOpenReport->setEnabled(false);
    CertifyChecks->clear();

    certify::Settings settings;
    settings.changeSettings = chkChangeSettings->isChecked();
    settings.skipTyped = chkSkipTyped->isChecked();
    settings.pin = pin.toStdString();
    settings.baud = m_baud ? m_baud() : 0;
    settings.device = "the port of \"Commu para\"";
    settings.unitLabel = edUnitLabel->text().toStdString();
    settings.station = QSysInfo::machineHostName().toStdString();
    settings.toolVersion =
        ("Tallowbench_english " + QCoreApplication::applicationVersion()).toStdString();
    certify::Line line{[this] { return m_openPort ? m_openPort() : PINPAD_ERR_PORT; },
                       [this](int) { return m_openPort ? m_openPort() : PINPAD_ERR_PORT; },
                       [](int) { return std::string("fail in opening the serial port"); }};
    PanelOperator person(*this);
    const certify::Certificate certificate =
        certify::Certify(entries, m_shell.LastFailureEntry(), line, settings, person);

    m_shell.EnableOperationButtons();
    m_running = false;
    btCertify->setEnabled(true);
    btStopCertify->setEnabled(false);
    const certify::Counts counts = certify::CountVerdicts(certificate.checks);
    QString result = QString("%1: %2 passed, %3 failed, %4 errors, %5 not run")
                         .arg(certify::ConformanceName(certificate.conformance))
                         .arg(counts.passed)
                         .arg(counts.failed)
                         .arg(counts.errors)
                         .arg(counts.notRun);
    const std::string problem = certify::WriteReport(certificate, folder.toStdString());
    if (problem.empty()) {
        m_reportPath = QDir(folder).absoluteFilePath("certificate.html");
        btOpenReport->setEnabled(true);
        result += "; report in " + m_reportPath;
    } else {
        m_reportPath.clear();
        result += "; the report could not be written: " + Text(problem);
    }
    ShowResult(CertifyPrompt, QString());
    ShowResult(CertifyResult, result);
    if (!m_reportPath.isEmpty()) m_openReport(m_reportPath);
}

void CertifyPanel::btStopCertifyClick() { m_stop = true; }

void CertifyPanel::btOpenReportClick() {
    if (!m_reportPath.isEmpty()) m_openReport(m_reportPath);
}

}  // namespace monitor
