// The "key management" page: clear-text keys in parts or typed on the pad, cipher-text keys
// enciphered locally, verify codes, load-key authentication and password entry. Its controls are
// built in key_management_form.cpp, its handlers are in key_management_page.cpp, and its rules
// in key_downloads.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "key_downloads.h"
#include "shell.h"

namespace operations {
class PinPage;
}

namespace keys {

class KeyManagementPage : public QWidget {
    Q_OBJECT
public:
    // `pinPage`: "Enter Password" empties its results and sets its Pin2Mode, so that its
    // "Read ciphertext" follows the password entry.
    KeyManagementPage(shell::Shell& shell, operations::PinPage& pinPage, QWidget* parent = nullptr);

    // Start-up selections, made without running the change handlers.
    void InitPageDefaults();

    void comboMixCodeChange();
    void comboPinLengthChange();
    void comboKeyNoChange();
    void btDownloadKeyClick();
    void Button3Click();

    void comboEncryptMarkChange();
    void comboEncryptNoChange();
    void comboEnryptLengthChange();
    void btDownloadEncryptClick();

    void Button4Click();
    void AuthenticateClick();
    void EnterPasswordClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // key_management_form.cpp
    QWidget* BuildClearKeyGroup();
    QWidget* BuildCipherKeyGroup();
    QWidget* BuildPasswordGroup();

    QWidget* FocusOf(Field field) const;
    void Refuse(const Refusal& refusal);
    ClearKeyInput ReadClearKeyInput(bool onPad) const;
    // The clear-text download of both buttons; `onPad` is "Manually input Key".
    void DownloadClearKey(bool onPad);
    // Sends `request` with PinPad_DownloadEncryptKey; the reply is the verify code, shown in
    // Edit15. False with the refusal or `failureFormat` shown; true with `successText` shown.
    bool SendEncryptKeyRequest(const std::string& request, const char* failureFormat,
                               const char* successText);
    // Mirrors the part typed on the pad into its field until Enter, Escape, the pad's time-out
    // or another operation; `timeoutCancels` makes the time-out end it like Escape.
    void RunPadKeyEntry(const ClearKeyDownload& download, bool timeoutCancels);
    // The part check values and the combined key's, beside the part fields.
    void UpdateCheckValues();
    // The combination code chosen or typed; nullopt for typed text that is no hexadecimal byte.
    std::optional<int> MixCode() const;

    shell::Shell& m_shell;
    operations::PinPage& m_pinPage;

    QComboBox* comboKeyNo;
    QComboBox* comboMixCode;
    QComboBox* comboPinLength;
    QLineEdit* edPin1;
    QLineEdit* edPin2;
    QLineEdit* edPin3;
    QLabel* Label23;
    QLineEdit* edDownLoadKeyRetValue;
    QPushButton* btDownloadKey;
    QPushButton* Button3;
    QLabel* m_partCheckValues[3];
    QLabel* m_keyCheckValue;
    // Shown beside the check values while the pad's verify code differs from the combined key's.
    QLabel* m_verifyCodeDiffers;

    QComboBox* comboDecipherNo;
    QComboBox* comboEncryptNo;
    QComboBox* comboEncryptMark;
    QComboBox* comboEnryptLength;
    QLineEdit* edInputKeyToEncrypt;
    QLineEdit* edEncrypKey;
    QLineEdit* Edit15;
    QCheckBox* CheckBox1;
    QCheckBox* IsVerify;
    QPushButton* btDownloadEncrypt;

    QPushButton* Button4;
    QPushButton* Authenticate;
    QPushButton* EnterPassword;
    QComboBox* Hint;
    QComboBox* KeyLength;
    QComboBox* CR;
    QComboBox* Clear;
    QLineEdit* PWD;
};

}  // namespace keys
