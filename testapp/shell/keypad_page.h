// The "keypad parameter" page: customer information, key codes and control codes.
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include "commu_page.h"
#include "shell.h"

namespace shell {

class KeypadPage : public QWidget {
    Q_OBJECT
public:
    // `commu` is the page whose port settings the serial-speed change reopens with.
    KeypadPage(Shell& shell, CommuParaPage& commu, QWidget* parent = nullptr);

    // Start-up contents: memos emptied, control code entry 0 selected without its change handler.
    void InitPageDefaults();

    void btSetCustomerInfoClick();
    void btGetCustomerInforClick();
    void btSetKeyboardClick();
    void btSetControlCodeClick();
    void comboControlCodeChange();

private:
    QWidget* BuildCustomerGroup();
    QWidget* BuildKeyboardGroup();
    QWidget* BuildControlCodeGroup();
    void ReopenAtNewSpeed(int value);

    Shell& m_shell;
    CommuParaPage& m_commu;
    QPlainTextEdit* memoCustInof;
    QPlainTextEdit* memoGetCustInfo;
    QLineEdit* edKeyboardMainValue;
    QLineEdit* edLeftKey;
    QLineEdit* edRightKey;
    QComboBox* comboControlCode;
    QLabel* labelControlCode;
    QComboBox* edControlCode;
    QLabel* Label52;
    QGroupBox* RadioGroup1;
    QRadioButton* keypadResume;
    QRadioButton* keypadInvalidate;
    QPushButton* btSetCustomerInfo;
    QPushButton* btGetCustomerInfor;
    QPushButton* btSetKeyboard;
    QPushButton* btSetControlCode;
};

}  // namespace shell
