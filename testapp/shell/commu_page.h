// The "Commu para" page: opens and closes the pad's serial port.
#pragma once

#include <QComboBox>
#include <QPushButton>
#include <QWidget>

#include "port_args.h"
#include "shell.h"

namespace shell {

class CommuParaPage : public QWidget {
    Q_OBJECT
public:
    CommuParaPage(Shell& shell, QWidget* parent = nullptr);

    // The open arguments from the page as it stands (throws ConversionError for the baud).
    PortOpenArgs OpenArgs() const;
    // Opens the port with the page's arguments; an unbound entry counts as success (0).
    int OpenPort();
    // Selects entry `index` of the baud list (past the end: no entry, empty text).
    void SelectBaudRateEntry(int index);

    void btOpenComClick();
    void btCloseComClick();

private:
    Shell& m_shell;
    QComboBox* comboPort;
    QComboBox* comboBoundRate;
    QComboBox* comboDataBit;
    QComboBox* comboParity;
    QComboBox* comboStop;
    QPushButton* btOpenCom;
    QPushButton* btCloseCom;
};

}  // namespace shell
