// The "data operation" page: the pad encrypts or decrypts hexadecimal data under one of its keys,
// ECB or CBC.
#pragma once

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "shell.h"

namespace operations {

class DataPage : public QWidget {
    Q_OBJECT
public:
    DataPage(shell::Shell& shell, QWidget* parent = nullptr);

    // Start-up contents: both memos emptied and "ECB" selected.
    void InitPageDefaults();

    void btEncryptDataClick();
    void btDecipherDataClick();
    void btCleanUpClick();

private:
    // Both directions: they differ only in the mode character and their texts.
    void RunCipher(bool decrypt);

    shell::Shell& m_shell;
    QComboBox* comboKeyIndex;
    QComboBox* comboEncryptType;
    QPlainTextEdit* memoInputData;
    QPlainTextEdit* memoOutput;
    QPushButton* btEncryptData;
    QPushButton* btDecipherData;
    QPushButton* btCleanUp;
};

}  // namespace operations
