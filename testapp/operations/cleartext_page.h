// The "cleartext" page: the clear-text keypad mode with its reader thread, and the pad's display.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "keypad_reader.h"
#include "shell.h"

namespace operations {

class CleartextPage : public QWidget {
    Q_OBJECT
public:
    CleartextPage(shell::Shell& shell, QWidget* parent = nullptr);

    // Start-up contents: both key memos emptied.
    void InitPageDefaults();
    // Start-up lists: the decryption modes 40-7F after the design-time modes, and the codes.
    void FillDisplayLists();

    void OpenKeyBordClick();
    void CloseKeyBordClick();
    void Button2Click();
    void TabSheet8_DisplayClick();
    void TS8_ComboxChange();

private:
    QWidget* BuildKeypadGroup();
    QWidget* BuildDisplayGroup();
    // Window-thread ends of the reader's events.
    void ShowKey(unsigned char byte, bool emptyFirst);
    void ReaderEnded();

    shell::Shell& m_shell;
    KeypadReader m_reader;
    QPlainTextEdit* Memo1;
    QPlainTextEdit* Memo2;
    QPushButton* OpenKeyBord;
    QPushButton* CloseKeyBord;
    QPushButton* Button2;

    QLabel* TS8_MODE;
    QComboBox* TS8_Combox;
    QLabel* TS8_Label10;
    QLabel* TS8_Label11;
    QPlainTextEdit* TS8_Memo3;
    QLabel* TS8_Label12;
    QComboBox* TS8_ComboBox4;
    QPushButton* TabSheet8_Display;
};

}  // namespace operations
