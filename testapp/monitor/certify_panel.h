// The pad certification offered from the monitor window: the very run of `lumenord certify`
// (certify/) through the program's driver entries, with its progress, what to type on the pad, a
// line per check, and the report written and opened.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <functional>

namespace shell {
class Shell;
}

namespace monitor {

class CertifyPanel : public QWidget {
    Q_OBJECT
public:
    // Opens the port as "Commu para" sets it (the driver's result), and the baud rate it names
    // (0 when its text is no number).
    using PortOpener = std::function<int()>;
    using BaudRate = std::function<int()>;
    // Shows the written certificate; replaceable so that tests see what would be opened.
    using ReportOpener = std::function<void(const QString& path)>;

    explicit CertifyPanel(shell::Shell& shell, QWidget* parent = nullptr);

    void SetPort(PortOpener open, BaudRate baud);
    void SetReportOpener(ReportOpener opener) { m_openReport = std::move(opener); }
    bool Running() const { return m_running; }

    void btCertifyClick();
    void btStopCertifyClick();
    void btOpenReportClick();

private:
    class PanelOperator;

    // A label that shows a result exposes it to screen readers as well.
    static void ShowResult(QLabel* label, const QString& text);

    shell::Shell& m_shell;
    PortOpener m_openPort;
    BaudRate m_baud;
    ReportOpener m_openReport;
    bool m_running = false;
    bool m_stop = false;
    QString m_reportPath;

    QCheckBox* chkOverwriteKeys;
    QCheckBox* chkChangeSettings;
    QCheckBox* chkSkipTyped;
    QLineEdit* edCertifyPin;
    QLineEdit* edUnitLabel;
    QLineEdit* edReportFolder;
    QPushButton* btCertify;
    QPushButton* btStopCertify;
    QPushButton* btOpenReport;
    QProgressBar* CertifyProgress;
    QLabel* CertifyPrompt;
    QLabel* CertifyResult;
    QPlainTextEdit* CertifyChecks;
};

}  // namespace monitor
