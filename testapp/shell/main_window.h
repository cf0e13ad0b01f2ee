// The main window TfmTestQm731: the eight pages, the status line, the clock and the driver
// library's lifetime.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTabWidget>
#include <QTimer>

#include "driver_entries.h"
#include "shell.h"

namespace keys {
class KeyManagementPage;
}

namespace operations {
class PinPage;
class DataPage;
}  // namespace operations

namespace monitor {
class MonitorWindow;
}

namespace shell {

class CommuParaPage;
class VersionPage;
class KeypadPage;
}  // namespace shell

namespace operations {
class CleartextPage;
class IcCardPage;
}  // namespace operations

namespace shell {

class TfmTestQm731 : public QMainWindow {
    Q_OBJECT
public:
    explicit TfmTestQm731(QWidget* parent = nullptr);
    ~TfmTestQm731() override;

    Shell& SharedState() { return m_shell; }
    const DriverLibrary& Library() const { return m_library; }
    // The frame monitor and operation history, a window of its own shown by the toggle.
    monitor::MonitorWindow* Monitor() const { return m_monitor; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildPages();
    void BuildStatusBar();
    void BuildMonitor();
    // Tab in each page's reading order; Return presses the focused button.
    void BuildKeyboard();
    void InitPageDefaults();
    void LoadDriver();
    void FormCreate();
    void FormClose();
    void FormDestroy();
    void Timer1Timer();

    Shell m_shell;
    DriverLibrary m_library;
    decltype(&::Lumenord_SetMessagePump) m_setMessagePump = nullptr;
    decltype(&::Lumenord_SetFrameMonitor) m_setFrameMonitor = nullptr;
    monitor::MonitorWindow* m_monitor = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QLabel* m_statusPanels[3] = {};
    QTimer* Timer1 = nullptr;
    CommuParaPage* m_commuPage = nullptr;
    VersionPage* m_versionPage = nullptr;
    KeypadPage* m_keypadPage = nullptr;
    keys::KeyManagementPage* m_keysPage = nullptr;
    operations::PinPage* m_pinPage = nullptr;
    operations::DataPage* m_dataPage = nullptr;
    operations::CleartextPage* m_cleartextPage = nullptr;
    operations::IcCardPage* m_icCardPage = nullptr;
};

}  // namespace shell
