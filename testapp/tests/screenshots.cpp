// Saves pictures of the main window and of the shell's pages as PNG files:
//   testapp_screenshots <folder>     (run with QT_QPA_PLATFORM=offscreen on a machine without
//   screen)
// The window talks to a simulated pad, so the pictures show the fields filled as in use.
#include <padsim/pty_pad.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "dialogs.h"
#include "key_store.h"
#include "main_window.h"
#include "monitor_window.h"

namespace {

bool SaveGrab(QWidget& window, const QString& path) {
    const bool saved = window.grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

using Window = shell::TfmTestQm731;

bool clickOverran = false;

// Clicks `name`. A click still running after a minute (an entry loop that nothing ends) is ended
// as another operation would end it, and the run fails instead of hanging.
void Click(Window& window, const char* name) {
    auto* button = window.findChild<QPushButton*>(name);
    if (button == nullptr) return;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&window, name] {
        std::fprintf(stderr, "FAILED %s still ran after a minute: its loop was ended\n", name);
        clickOverran = true;
        window.SharedState().Begin(shell::Operation::Standard());
    });
    deadline.start(std::chrono::minutes(1));
    button->click();
}

void SetText(QWidget& window, const char* name, const QString& text) {
    if (auto* edit = window.findChild<QLineEdit*>(name)) return edit->setText(text);
    if (auto* memo = window.findChild<QPlainTextEdit*>(name)) return memo->setPlainText(text);
    if (auto* combo = window.findChild<QComboBox*>(name)) combo->setEditText(text);
}

// A PIN entered on the pad and read back, a PIN offset, a MAC and an encrypted block, under
// keys that the pad holds and the key store records.
void FillOperationPages(Window& window, padsim::PtyPad& pad) {
    const char* const pinKey = "0123456789ABCDEFFEDCBA9876543210";
    const char* const dataKey = "1C587F1C13924FEF";
    pad.With([&](padsim::PadSimulator& sim) {
        sim.SetKey(0x30, {pinKey, "TPK"});
        sim.SetKey(0x40, {dataKey, "TDK"});
    });
    padlogic::KeyStore().Write(
        padlogic::KeyRecords().CipherKey("30", pinKey).CipherKey("40", dataKey));
    pad.SetScriptedKeys("123456");
    Click(window, "btEnablePin");
    Click(window, "Button6");  // the offset of that PIN; it empties the PIN results
    Click(window, "btEnablePin");
    pad.SetScriptedKeys("");
    Click(window, "btGetPin");
    SetText(window, "memoMakeMacData", "0102030405060708090A0B0C0D0E0F10");
    Click(window, "btMakeMAC");
    SetText(window, "memoInputData", "0123456789ABCDEF0011223344556677");
    Click(window, "btEncryptData");
}

// Key presses on the pad while the clear-text keypad is open, shown once the reader has them.
void PressPadKeys(QApplication& app, Window& window, padsim::PtyPad& pad, const char* keys) {
    Click(window, "OpenKeyBord");
    pad.PressKeys(keys);
    const auto* memo = window.findChild<QPlainTextEdit*>("Memo1");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (memo->toPlainText().size() < static_cast<qsizetype>(std::strlen(keys)) &&
           std::chrono::steady_clock::now() < deadline) {
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}

void Choose(QWidget& window, const char* name, int entry) {
    if (auto* combo = window.findChild<QComboBox*>(name)) combo->setCurrentIndex(entry);
}

// A double-length key loaded in three parts at 05, and a master key enciphered under it.
void LoadKeys(Window& window) {
    Choose(window, "comboKeyNo", 5);
    Choose(window, "comboMixCode", 1);
    Choose(window, "comboPinLength", 1);
    SetText(window, "edPin1", "0123456789ABCDEFFEDCBA9876543210");
    SetText(window, "edPin2", "89ABCDEF0123456701234567FEDCBA98");
    SetText(window, "edPin3", "FEDCBA987654321089ABCDEF01234567");
    Click(window, "btDownloadKey");
}

void LoadMasterKey(Window& window) {
    Choose(window, "comboDecipherNo", 5);
    Choose(window, "comboEnryptLength", 1);
    SetText(window, "edInputKeyToEncrypt", "000102030405060708090A0B0C0D0E0F");
    Click(window, "btDownloadEncrypt");
}

int PINPAD_CALL ReplyOtherVerifyCode(const char*, unsigned int, char* verifyCode, int) {
    std::strcpy(verifyCode, "5A3C0F21");
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: testapp_screenshots <folder>\n", stderr);
        return 2;
    }
    const QDir out(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    padsim::PtyPad pad;
    QFile config("sysconfig.ini");
    if (!config.open(QIODevice::WriteOnly)) return 1;
    config.write("[PORTS]\nCOM1=" + QByteArray::fromStdString(pad.DevicePath()) + "\n");
    config.close();

    // A message box would wait for a click nobody makes: each is answered at once.
    shell::SetDialogFunction([](const shell::DialogRequest&) { return QMessageBox::Ok; });
    Window window;
    window.show();
    Click(window, "btOpenCom");
    Click(window, "btGetVersion");
    window.findChild<QPlainTextEdit*>("memoCustInof")->setPlainText("branch 7, counter 2");
    Click(window, "btSetCustomerInfo");
    Click(window, "btGetCustomerInfor");
    window.findChild<QComboBox*>("comboControlCode")->setCurrentIndex(1);
    window.findChild<QLineEdit*>("auth_password")->setText(QString(32, '1'));
    LoadKeys(window);
    FillOperationPages(window, pad);
    PressPadKeys(app, window, pad, "4711.0815");
    SetText(window, "TS8_Memo3", "48 45 4C 4C 4F");
    Click(window, "TabSheet8_Display");
    Click(window, "IC_Control");
    SetText(window, "DataSend", "3F00");
    Click(window, "IC_Access");
    app.processEvents();

    bool ok = SaveGrab(window, out.filePath("main-window.png"));
    LoadMasterKey(window);
    auto* pages = window.findChild<QTabWidget*>("PageControl1");
    const std::pair<int, const char*> shots[] = {
        {0, "page-commu-para.png"},       {1, "page-ver-information.png"},
        {2, "page-keypad-parameter.png"}, {3, "page-key-management.png"},
        {4, "page-pin-arithmetic.png"},   {5, "page-data-operation.png"},
        {6, "page-cleartext.png"},        {7, "page-ic-card.png"}};
    for (const auto& [index, file] : shots) {
        pages->setCurrentIndex(index);
        app.processEvents();
        ok = SaveGrab(window, out.filePath(file)) && ok;
    }
    // A pad that derives its verify code in another way: the note beside the check values.
    const auto download = window.SharedState().Entries().PinPad_DownloadKey;
    window.SharedState().Entries().PinPad_DownloadKey = &ReplyOtherVerifyCode;
    pages->setCurrentIndex(3);
    Click(window, "btDownloadKey");
    app.processEvents();
    ok = SaveGrab(window, out.filePath("page-key-management-verify-code-differs.png")) && ok;
    // The frames of the whole run and its operation history, opened by the toggle.
    window.findChild<QToolButton*>("btFrameMonitor")->click();
    monitor::MonitorWindow* monitor = window.Monitor();
    app.processEvents();
    ok = SaveGrab(*monitor, out.filePath("monitor-frames.png")) && ok;
    monitor->findChild<QTabWidget*>("MonitorTabs")->setCurrentIndex(1);
    app.processEvents();
    ok = SaveGrab(*monitor, out.filePath("monitor-history.png")) && ok;
    // A certification from the monitor, the pad typing what the person at it would type.
    window.SharedState().Entries().PinPad_DownloadKey = download;
    pad.SetScriptedKeys("1234567890ABCDEF\r");
    monitor->findChild<QTabWidget*>("MonitorTabs")->setCurrentIndex(2);
    monitor->Certification()->SetReportOpener([](const QString&) {});
    monitor->findChild<QCheckBox*>("chkOverwriteKeys")->setChecked(true);
    monitor->findChild<QLineEdit*>("edUnitLabel")->setText("BENCH-3");
    monitor->findChild<QLineEdit*>("edReportFolder")->setText(work.filePath("certificate"));
    Click(window, "btCertify");
    app.processEvents();
    ok = SaveGrab(*monitor, out.filePath("monitor-certification.png")) && ok;
    shell::SetDialogFunction({});
    return ok && !clickOverran ? 0 : 1;
}
