// Helpers the window tests share: a temporary working folder per case, a recorder for modal
// boxes, and finding the window's controls by name.
#pragma once

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

#include "dialogs.h"
#include "main_window.h"
#include "profile.h"

namespace testsupport {

// Makes a fresh temporary folder the current directory for its lifetime.
class WorkingFolder {
public:
    WorkingFolder() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~WorkingFolder() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// The whole text of the file at `path`; empty when it cannot be read.
inline QString FileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The key store file of the working folder, read and written by section and key name as its
// format gives them, beside the program's own records.
inline QString ReadKeyStore(const char* section, const char* key) {
    char value[100] = {};
    platform::GetPrivateProfileString(section, key, "", value, sizeof value, "./KeyStock.txt");
    return QString::fromLatin1(value);
}
inline void WriteKeyStore(const char* section, const char* key, const char* value) {
    QVERIFY(platform::WritePrivateProfileString(section, key, value, "./KeyStock.txt"));
}

// Records every box shown through the dialog function and answers it with OK.
class DialogRecorder {
public:
    DialogRecorder() {
        shell::SetDialogFunction([this](const shell::DialogRequest& request) {
            requests.push_back(request);
            return QMessageBox::Ok;
        });
    }
    ~DialogRecorder() { shell::SetDialogFunction({}); }
    std::vector<shell::DialogRequest> requests;
};

template <typename W>
W* Find(QWidget* window, const char* name) {
    W* widget = window->findChild<W*>(QLatin1String(name));
    if (widget == nullptr) qWarning("no control %s", name);
    return widget;
}

// The controls of `page` the operator types into or chooses from: lists, one-line edits other
// than a list's own editor and, unless `withMemos` is false, multi-line edits.
inline QList<QWidget*> InputControls(QWidget* page, bool withMemos = true) {
    QList<QWidget*> inputs;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        const bool comboEditor = qobject_cast<QComboBox*>(w->parentWidget()) != nullptr;
        if (qobject_cast<QComboBox*>(w) || (qobject_cast<QLineEdit*>(w) && !comboEditor) ||
            (withMemos && qobject_cast<QPlainTextEdit*>(w))) {
            inputs << w;
        }
    }
    return inputs;
}

// The label whose buddy `control` is (its caption), nullptr when none names it.
inline const QLabel* CaptionOf(QWidget* control) {
    const QLabel* caption = nullptr;
    for (const QLabel* label : control->window()->findChildren<QLabel*>()) {
        if (label->buddy() == control) caption = label;
    }
    return caption;
}

inline QString StatusLine(QWidget* window) { return Find<QLabel>(window, "StatusPanel1")->text(); }

// The 24 operation buttons and whether each is enabled in the open state.
inline const std::vector<std::pair<const char*, bool>>& OperationButtonsOpenState() {
    static const std::vector<std::pair<const char*, bool>> buttons = {
        {"btOpenCom", false},
        {"btGetPin", false},
        {"btCloseCom", true},
        {"btGetVersion", true},
        {"btInitAuthorization", true},
        {"btBidirectionAuthorization", true},
        {"btSetCustomerInfo", true},
        {"btGetCustomerInfor", true},
        {"btSetKeyboard", true},
        {"btSetControlCode", true},
        {"btDownloadKey", true},
        {"btDownloadEncrypt", true},
        {"btEnablePin", true},
        {"btMakeMAC", true},
        {"btEncryptData", true},
        {"btDecipherData", true},
        {"IC_Control", true},
        {"IC_Access", true},
        {"OpenKeyBord", true},
        {"CloseKeyBord", true},
        {"Button4", true},
        {"Button5", true},
        {"Button6", true},
        {"TabSheet8_Display", true},
    };
    return buttons;
}

}  // namespace testsupport
