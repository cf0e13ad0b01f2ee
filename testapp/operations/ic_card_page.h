// The "Ic Card Control" page: card power and status, and APDUs to the card.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "shell.h"

namespace operations {

class IcCardPage : public QWidget {
    Q_OBJECT
public:
    IcCardPage(shell::Shell& shell, QWidget* parent = nullptr);

    // Start-up contents: the data, reply and answer-to-reset boxes emptied.
    void ClearCardFields();

    void IC_ControlClick();
    void IC_AccessClick();
    void ClearIcClick();

private:
    QWidget* BuildControlGroup();
    QWidget* BuildAccessGroup();

    shell::Shell& m_shell;
    QComboBox* CardSockt1;
    QComboBox* CardType;
    QComboBox* ControlCode;
    QLineEdit* CardAtr;
    QPushButton* IC_Control;

    QComboBox* CardSockt2;
    QComboBox* ComboBox5;
    QLineEdit* CLA;
    QLineEdit* INS;
    QLineEdit* P1;
    QLineEdit* P2;
    QLineEdit* LC;
    QLineEdit* DataSend;
    QLineEdit* LE;
    QLineEdit* DataRcv;
    QLineEdit* RcvSW;
    QPushButton* IC_Access;
    QPushButton* ClearIc;
};

}  // namespace operations
