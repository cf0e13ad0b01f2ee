#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLocale>
#include <QStatusBar>
#include <QTime>
#include <QToolButton>

#include "cleartext_page.h"
#include "commu_page.h"
#include "data_page.h"
#include "ic_card_page.h"
#include "key_management_page.h"
#include "keyboard.h"
#include "keypad_page.h"
#include "monitor_window.h"
#include "pin_page.h"
#include "version_page.h"

namespace shell {
namespace {

constexpr int kClientWidth = 963;
constexpr int kClientHeight = 464;

}  // namespace

TfmTestQm731::TfmTestQm731(QWidget* parent) : QMainWindow(parent) {
    setObjectName("fmTestQm731");
    setWindowTitle("QM_ORLA_EPP  Test Program(V3.0)---RVQM");
    setFixedSize(kClientWidth, kClientHeight);
    BuildPages();
    BuildStatusBar();
    BuildMonitor();
    BuildKeyboard();
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TfmTestQm731::Timer1Timer);
    Timer1->start();
    FormCreate();
}

TfmTestQm731::~TfmTestQm731() { FormDestroy(); }

void TfmTestQm731::BuildPages() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    m_commuPage = new CommuParaPage(m_shell);
    m_versionPage = new VersionPage(m_shell);
    m_keypadPage = new KeypadPage(m_shell, *m_commuPage);
    m_pinPage = new operations::PinPage(m_shell);
    m_keysPage = new keys::KeyManagementPage(m_shell, *m_pinPage);
    m_dataPage = new operations::DataPage(m_shell);
    m_cleartextPage = new operations::CleartextPage(m_shell);
    m_icCardPage = new operations::IcCardPage(m_shell);
    const std::pair<QWidget*, const char*> pages[] = {
        {m_commuPage, "Commu para"},        {m_versionPage, "Ver information"},
        {m_keypadPage, "keypad parameter"}, {m_keysPage, "key management"},
        {m_pinPage, "PIN arithmetic"},      {m_dataPage, "data operation"},
        {m_cleartextPage, "cleartext"},     {m_icCardPage, "Ic Card Control"},
    };
    const char* const names[] = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4",
                                 "TabSheet5", "TabSheet6", "TabSheet8", "TabSheet7"};
    int index = 0;
    for (const auto& [page, caption] : pages) {
        page->setObjectName(names[index++]);
        PageControl1->addTab(page, caption);
    }
    setCentralWidget(PageControl1);
}

// The toggle sits in the tab bar's free corner, so the pages and the status bar keep their
// layout.
void TfmTestQm731::BuildMonitor() {
    m_monitor = new monitor::MonitorWindow(m_shell, PageControl1, this);
    auto* toggle = new QToolButton(PageControl1);
    toggle->setObjectName("btFrameMonitor");
    // Short, in the panels' smaller font: the eight tabs leave little room beside them.
    toggle->setText("Monitor");
    toggle->setAccessibleName("Monitor");
    toggle->setAccessibleDescription("Frame monitor and operation history (F12)");
    toggle->setToolTip("Frame monitor and operation history (F12)");
    toggle->setShortcut(QKeySequence(Qt::Key_F12));
    QFont toggleFont = toggle->font();
    toggleFont.setPointSizeF(toggleFont.pointSizeF() * 0.85);
    toggle->setFont(toggleFont);
    toggle->setCheckable(true);
    toggle->setAutoRaise(true);
    connect(toggle, &QToolButton::toggled, m_monitor, &QWidget::setVisible);
    connect(m_monitor, &monitor::MonitorWindow::visibilityChanged, toggle,
            &QToolButton::setChecked);
    PageControl1->setCornerWidget(toggle, Qt::TopRightCorner);
    // The certification opens the port as "Commu para" sets it.
    m_monitor->Certification()->SetPort([this] { return m_commuPage->OpenPort(); },
                                        [this] {
                                            try {
                                                return m_commuPage->OpenArgs().baudRate;
                                            } catch (...) {
                                                return 0;
                                            }
                                        });
}

void TfmTestQm731::BuildKeyboard() {
    for (int page = 0; page < PageControl1->count(); ++page)
        SetReadingTabOrder(PageControl1->widget(page));
    qApp->installEventFilter(
        new ReturnPressesButtons([this] { return m_shell.HoldsKeys(); }, this));
}

void TfmTestQm731::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    // The panels keep their narrow widths; a slightly smaller font lets "Status" and the clock
    // fit in them.
    QFont panelFont = bar->font();
    panelFont.setPointSizeF(panelFont.pointSizeF() * 0.85);
    const int widths[] = {40, 650, 50};
    const char* const texts[] = {"Status", "please first open com port, then test.", ""};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(texts[i], bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(widths[i]);
        panel->setFont(panelFont);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        if (i == 2) panel->setAlignment(Qt::AlignCenter);
        bar->addWidget(panel);
        m_statusPanels[i] = panel;
    }
    m_shell.SetStatusPanel(m_statusPanels[1]);
}

void TfmTestQm731::InitPageDefaults() {
    m_keypadPage->InitPageDefaults();
    m_keysPage->InitPageDefaults();
    m_pinPage->InitPageDefaults();
    m_dataPage->InitPageDefaults();
    m_cleartextPage->InitPageDefaults();
}

void TfmTestQm731::LoadDriver() {
    if (!m_library.Load()) {
        ShowDialog({"Err", "Load library PinPad_731_QM.dll err", QMessageBox::NoIcon,
                    QMessageBox::Ok | QMessageBox::Cancel});
        return;
    }
    m_library.Bind(m_shell.Entries());
    // Bound before any call, so that the first failure already names its reason.
    const auto lastFailure = m_library.LastFailureEntry();
    m_shell.SetLastFailureEntry(lastFailure);
    m_monitor->Feed()->SetLastFailureEntry(lastFailure);
    m_setMessagePump = m_library.MessagePumpHook();
    if (m_setMessagePump) m_setMessagePump(&Shell::PumpMessages);
    m_setFrameMonitor = m_library.FrameMonitorHook();
    if (m_setFrameMonitor) m_setFrameMonitor(&monitor::FrameFeed::OnFrame, m_monitor->Feed());
}

void TfmTestQm731::FormCreate() {
    move(35, 130);
    InitPageDefaults();
    m_shell.DisableOperationButtons();
    LoadDriver();
    Timer1Timer();
    m_versionPage->LoadAuthorizationData();
    m_icCardPage->ClearCardFields();
    m_cleartextPage->FillDisplayLists();
    PageControl1->setCurrentIndex(3);
}

void TfmTestQm731::Timer1Timer() {
    // The locale's long time format names the time zone too; the clock shows the time only.
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    m_statusPanels[2]->setText(QLocale().toString(QTime::currentTime(), format.trimmed()));
}

void TfmTestQm731::closeEvent(QCloseEvent* event) {
    if (Shell::InDriverCall()) {
        // Asked to close from the driver's message pump: close once that call has returned, so
        // that the close-time control code does not enter the driver a second time.
        event->ignore();
        m_shell.Defer([window = QPointer<TfmTestQm731>(this)] {
            if (window) window->close();
        });
        return;
    }
    FormClose();
    event->accept();
}

void TfmTestQm731::FormClose() {
    if (m_shell.PadInputClosed()) return;
    m_shell.MarkPadInputClosed();
    // The keypad reader leaves at once now; wait for it so the closing code goes out alone.
    m_shell.StopReaderThread();
    const int result = m_shell.Run(Operation::PlainCall(), m_shell.Entries().PinPad_SetControlCode,
                                   [](auto setControlCode) { return setControlCode("032", 3); });
    if (result != 0) m_shell.ShowFailure("failure in Close Pinpad,failure reason is:%s", result);
}

void TfmTestQm731::FormDestroy() {
    m_shell.StopReaderThread();
    if (m_setMessagePump) m_setMessagePump(nullptr);
    if (m_setFrameMonitor) m_setFrameMonitor(nullptr, nullptr);
    m_shell.SetLastFailureEntry(nullptr);
    // The history watches the shell, a member that goes before the window's children do.
    delete m_monitor;
    m_monitor = nullptr;
    m_library.Unload();
}

}  // namespace shell
