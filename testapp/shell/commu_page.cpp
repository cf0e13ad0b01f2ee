#include "commu_page.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "page_layout.h"
#include "serial_devices_panel.h"

namespace shell {
namespace {

QStringList PortItems() {
    QStringList items;
    for (int n = 1; n <= 15; ++n) items << QStringLiteral("com%1").arg(n);
    return items;
}

}  // namespace

CommuParaPage::CommuParaPage(Shell& shell, QWidget* parent) : QWidget(parent), m_shell(shell) {
    comboPort = MakeCombo("comboPort", this, PortItems(), QStringLiteral("com1"));
    // The port name travels in a 10-byte field.
    comboPort->lineEdit()->setMaxLength(9);
    comboBoundRate =
        MakeCombo("comboBoundRate", this,
                  {"1200", "2400", "4800", "9600", "19200", "38400", "115200"}, "9600");
    comboDataBit = MakeCombo("comboDataBit", this, {}, "8", false);
    comboParity = MakeCombo("comboParity", this, {}, "NO", false);
    comboStop = MakeCombo("comboStop", this, {}, "1", false);
    for (QComboBox* fixed : {comboDataBit, comboParity, comboStop}) fixed->setEnabled(false);

    btOpenCom = shell.MakeOperationButton("btOpenCom", "Open Com port", this, kOpenPortButton);
    btCloseCom = shell.MakeOperationButton("btCloseCom", "Close Com port", this, kClosePortButton);
    m_shell.OnClick(btOpenCom, this, &CommuParaPage::btOpenComClick);
    m_shell.OnClick(btCloseCom, this, &CommuParaPage::btCloseComClick);

    auto* group = new QGroupBox(this);
    auto* form = new QFormLayout(group);
    const std::pair<const char*, QComboBox*> fields[] = {{"Com port:", comboPort},
                                                         {"Baud rate:", comboBoundRate},
                                                         {"Data bit:", comboDataBit},
                                                         {"Parity bit:", comboParity},
                                                         {"Stop bit:", comboStop}};
    for (const auto& [caption, combo] : fields)
        form->addRow(MakeCaption(caption, combo, group), combo);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btOpenCom);
    buttons->addWidget(btCloseCom);
    form->addRow(buttons);
    group->setFixedWidth(360);

    auto* outer = new QHBoxLayout(this);
    outer->addWidget(group, 0, Qt::AlignTop);
    outer->addWidget(new SerialDevicesPanel(comboPort, this), 1);
}

PortOpenArgs CommuParaPage::OpenArgs() const {
    return BuildPortOpenArgs(comboPort->currentText(), comboBoundRate->currentText(),
                             comboParity->currentText(), comboDataBit->currentText(),
                             comboStop->currentText());
}

void CommuParaPage::SelectBaudRateEntry(int index) {
    comboBoundRate->setCurrentIndex(index < comboBoundRate->count() ? index : -1);
}

int CommuParaPage::OpenPort() {
    const PortOpenArgs args = OpenArgs();
    return m_shell.Run(Operation::PortCall(), m_shell.Entries().PinPad_EnablePort,
                       [&](auto enablePort) {
                           return enablePort(args.portName, args.baudRate, args.parity,
                                             args.dataBits, args.stopBits);
                       });
}

void CommuParaPage::btOpenComClick() {
    m_shell.Begin(Operation::PortCall(btOpenCom));
    if (OpenPort() != 0) {
        m_shell.MarkPortClosed();
        m_shell.ShowStatus("fail in opening the serial port");
        return;
    }
    m_shell.MarkPortOpen();
    m_shell.ShowStatus("succeed in opening the serial");
    m_shell.EnableOperationButtons();
    m_shell.SettleFocus(btCloseCom);
}

void CommuParaPage::btCloseComClick() {
    const Operation close = Operation::PortCall(btCloseCom);
    m_shell.Begin(close);
    const int result = m_shell.Run(close, m_shell.Entries().PinPad_DisablePort,
                                   [](auto disablePort) { return disablePort(); });
    if (result != 0) {
        m_shell.ShowStatus("failure in closing the serial");
        return;
    }
    m_shell.MarkPortClosed();
    m_shell.DisableOperationButtons();
    m_shell.ShowStatus("serial which has been closed");
    m_shell.SettleFocus(btOpenCom);
}

}  // namespace shell
