// The "PIN arithmetic" page: PIN entry with its star echo and local decipherment of the PIN
// block, PIN renew and verify, and MAC calculation.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <optional>

#include "pin_requests.h"
#include "shell.h"
#include "star_echo.h"

namespace operations {

class PinPage : public QWidget {
    Q_OBJECT
public:
    PinPage(shell::Shell& shell, QWidget* parent = nullptr);

    // Start-up contents: the MAC data emptied, "ANSI X9.9", "ISO9564_0" and sound "0" selected
    // without running their change handlers, PIN length "06".
    void InitPageDefaults();

    // For the password entry of the key management page, which starts a PIN-style entry of its
    // own: "Read ciphertext" then sends key index, PIN type and account as after "startup PIN2"
    // (SetPin2Mode(true)), and the results of an earlier entry are emptied (track number,
    // ciphertext PIN, cleartext PIN and the PIN digits beside it).
    void SetPin2Mode(bool pin2Mode) { m_pin2Mode = pin2Mode; }
    bool Pin2Mode() const { return m_pin2Mode; }
    void ClearPinResults();

    void btEnablePinClick();
    void Button5Click();
    void btGetPinClick();
    void comboPinTypeChange();
    void Button6Click();
    void btMakeMACClick();
    void btCleanUpMacClick();

private:
    QWidget* BuildPinGroup();
    QWidget* BuildRenewGroup();
    QWidget* BuildMacGroup();
    // The key index of comboPinKeyNo, or nullopt with the refusal shown.
    std::optional<QByteArray> PinKeyIndex();
    // Key index, PIN type and account from the page, or nullopt with the refusal shown.
    std::optional<PinTarget> PinTargetFromPage(int typeIndex);
    void ClearEntryResults();
    // Sends the start text; on success runs the star echo until the entry ends. `target` is
    // what "startup PIN1" told the pad; "startup PIN2" tells it nothing (nullopt).
    void StartPinEntry(const QByteArray& text, const std::optional<PinTarget>& target,
                       StarEcho echo);
    void RunStarEcho(StarEcho echo);
    void ShowPinBlock(const PinReplyFields& fields, const PinTarget& target);
    QString DecipherLocally(const QString& block, const QByteArray& keyIndex);

    shell::Shell& m_shell;
    bool m_pin2Mode = false;
    // The key, type and account the pad enciphers the current entry's block with.
    PinTarget m_entryTarget;

    QComboBox* comboPinKeyNo;
    QComboBox* comboPinType;
    QComboBox* comboHintAudio;
    QComboBox* edPinLength;
    QLineEdit* edAccount;
    QComboBox* ComboBox1;
    QComboBox* ComboBox2;
    QPushButton* btEnablePin;
    QPushButton* Button5;
    QPushButton* btGetPin;
    QLineEdit* PinPadKey;
    QLineEdit* edPinSerialNo;
    QLineEdit* edPinRevLength;
    QLineEdit* edPinRevEncrypt;
    QLineEdit* PinMingWen;
    QLineEdit* edPinDigits;

    QComboBox* ComboBox3;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QPushButton* Button6;

    QComboBox* comboMakeMacKeyIndex;
    QComboBox* comboMacType;
    QPlainTextEdit* memoMakeMacData;
    QLineEdit* edMakeMacResult;
    QPushButton* btMakeMAC;
    QPushButton* btCleanUpMac;
};

}  // namespace operations
