#include "keypad_page.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <cstring>
#include <string>

#include "control_codes.h"
#include "key_recording.h"
#include "page_layout.h"
#include "reply_fields.h"

namespace shell {
namespace {

constexpr int kCustomerInfoLimit = 50;
// The keyboard value: 32 main key characters, then 8 each for the left and right keys.
constexpr int kKeyboardValueLength = 48;

QStringList ControlCodeItems() {
    return {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B"};
}

}  // namespace

KeypadPage::KeypadPage(Shell& shell, CommuParaPage& commu, QWidget* parent)
    : QWidget(parent), m_shell(shell), m_commu(commu) {
    auto* layout = new QGridLayout(this);
    layout->addWidget(BuildCustomerGroup(), 0, 0, 2, 1);
    layout->addWidget(BuildKeyboardGroup(), 0, 1);
    layout->addWidget(BuildControlCodeGroup(), 1, 1);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 2);
}

QWidget* KeypadPage::BuildCustomerGroup() {
    auto* group = new QGroupBox("customer information", this);
    memoCustInof = MakeMemo("memoCustInof", group, kCustomerInfoLimit);
    memoGetCustInfo = MakeMemo("memoGetCustInfo", group);
    btSetCustomerInfo =
        m_shell.MakeOperationButton("btSetCustomerInfo", "set up customer information", group);
    btGetCustomerInfor =
        m_shell.MakeOperationButton("btGetCustomerInfor", "Read customer information", group);
    m_shell.OnClick(btSetCustomerInfo, this, &KeypadPage::btSetCustomerInfoClick);
    m_shell.OnClick(btGetCustomerInfor, this, &KeypadPage::btGetCustomerInforClick);

    auto* grid = new QGridLayout(group);
    grid->addWidget(MakeCaption("customer information to write:", memoCustInof, group), 0, 0);
    grid->addWidget(memoCustInof, 1, 0);
    grid->addWidget(btSetCustomerInfo, 2, 0);
    grid->addWidget(MakeCaption("customer information read back:", memoGetCustInfo, group), 0, 1);
    grid->addWidget(memoGetCustInfo, 1, 1);
    grid->addWidget(btGetCustomerInfor, 2, 1);
    return group;
}

QWidget* KeypadPage::BuildKeyboardGroup() {
    auto* group = new QGroupBox("keypad value", this);
    edKeyboardMainValue = MakeEdit("edKeyboardMainValue", group, 32);
    edLeftKey = MakeEdit("edLeftKey", group, 8);
    edRightKey = MakeEdit("edRightKey", group, 8);
    btSetKeyboard = m_shell.MakeOperationButton("btSetKeyboard", "set up keypad value", group);
    m_shell.OnClick(btSetKeyboard, this, &KeypadPage::btSetKeyboardClick);

    auto* grid = new QGridLayout(group);
    grid->addWidget(MakeCaption("Main key value(HEX):", edKeyboardMainValue, group), 0, 0);
    grid->addWidget(edKeyboardMainValue, 0, 1, 1, 3);
    grid->addWidget(MakeCaption("left function key value(HEX):", edLeftKey, group), 1, 0);
    grid->addWidget(edLeftKey, 1, 1);
    grid->addWidget(MakeCaption("right function key value(HEX):", edRightKey, group), 2, 0);
    grid->addWidget(edRightKey, 2, 1);
    grid->addWidget(btSetKeyboard, 2, 3);
    grid->setColumnStretch(2, 1);
    return group;
}

QWidget* KeypadPage::BuildControlCodeGroup() {
    auto* group = new QGroupBox("controlling code", this);
    comboControlCode = MakeCombo("comboControlCode", group, ControlCodeItems(), "0");
    labelControlCode = Named<QLabel>("labelControlCode", group, "controlling code initialize ");
    edControlCode = MakeCombo("edControlCode", group, HexItems(0x30, 0x3F), "30");
    Label52 = Named<QLabel>("Label52", group, "input or choose relative key value");
    RadioGroup1 = Named<QGroupBox>("RadioGroup1", group);
    keypadResume = new QRadioButton("keypad resume temporarily", RadioGroup1);
    keypadInvalidate = new QRadioButton("keypad invalidation temporarily", RadioGroup1);
    keypadResume->setChecked(true);
    auto* radios = new QHBoxLayout(RadioGroup1);
    radios->addWidget(keypadResume);
    radios->addWidget(keypadInvalidate);
    Label52->hide();
    RadioGroup1->hide();
    btSetControlCode =
        m_shell.MakeOperationButton("btSetControlCode", "set up controlling code", group);
    m_shell.OnClick(btSetControlCode, this, &KeypadPage::btSetControlCodeClick);
    connect(comboControlCode, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeypadPage::comboControlCodeChange, comboControlCode));

    auto* grid = new QGridLayout(group);
    grid->addWidget(MakeCaption("select controlling code", comboControlCode, group), 0, 0);
    grid->addWidget(comboControlCode, 0, 1);
    grid->addWidget(labelControlCode, 0, 2, 1, 2);
    grid->addWidget(MakeCaption("input controller value", edControlCode, group), 1, 0);
    grid->addWidget(edControlCode, 1, 1);
    grid->addWidget(btSetControlCode, 1, 3);
    grid->addWidget(Label52, 2, 0, 1, 4);
    grid->addWidget(RadioGroup1, 3, 0, 1, 4);
    grid->setColumnStretch(2, 1);
    return group;
}

void KeypadPage::InitPageDefaults() {
    memoCustInof->setPlainText("");
    memoGetCustInfo->setPlainText("");
    const QSignalBlocker blocker(comboControlCode);
    comboControlCode->setCurrentIndex(0);
}

void KeypadPage::btSetCustomerInfoClick() {
    // This handler has its own message for an unbound entry.
    const Operation set = Operation::Standard(btSetCustomerInfo)
                              .Unbound("failure in selecting 'DLL' function")
                              .Texts("set the user information,failure reason is:%s",
                                     "succeed in setting the user information");
    m_shell.Begin(set);
    char info[kCustomerInfoLimit + 1] = {};
    std::strncpy(info, memoCustInof->toPlainText().toLatin1().constData(), kCustomerInfoLimit);
    if (info[0] == '\0') return m_shell.Refuse("no user information is forbidden", memoCustInof);
    const auto length = static_cast<unsigned int>(std::strlen(info));
    m_shell.Run(set, m_shell.Entries().PinPad_SetCustInfo,
                [&](auto entry) { return entry(info, length); });
}

void KeypadPage::btGetCustomerInforClick() {
    const Operation read = Operation::Standard(btGetCustomerInfor);
    m_shell.Begin(read);
    char reply[kCustInfoReplySize] = {};
    const int result = m_shell.Run(read, m_shell.Entries().PinPad_GetCustInfo,
                                   [&](auto getCustInfo) { return getCustInfo(reply); });
    if (result == kEntryUnbound) return;
    if (result == 0) {
        m_shell.ShowStatus("implementation ok");
    } else if (result == PINPAD_LOW_BATTERY) {
        m_shell.ShowFailure("read user information:%s", result);
    } else {
        m_shell.ShowFailure("fail in reading user information,the failure reason is:%s", result);
        return;
    }
    const QString info = ReplyField(reply, kCustomerInfoRange);
    memoGetCustInfo->setPlainText(info);
    memoCustInof->setPlainText(info);
    edKeyboardMainValue->setText(ReplyField(reply, kMainKeyRange));
    edLeftKey->setText(ReplyField(reply, kLeftKeyRange));
    edRightKey->setText(ReplyField(reply, kRightKeyRange));
}

void KeypadPage::btSetKeyboardClick() {
    const Operation set = Operation::Standard(btSetKeyboard)
                              .Texts("failure in setting keyboard value,the failure reason is:%s",
                                     "succeed in setting the keyboard value");
    m_shell.Begin(set);
    const QByteArray mainValue = edKeyboardMainValue->text().toLatin1();
    const QByteArray left = edLeftKey->text().toLatin1();
    const QByteArray right = edRightKey->text().toLatin1();
    if (mainValue.size() != 32) {
        return m_shell.Refuse("master keyboard value  must be 32-HEX character",
                              edKeyboardMainValue);
    }
    if (left.size() != 8) {
        return m_shell.Refuse("left function  keyboard value must be 8-HEX character", edLeftKey);
    }
    if (right.size() != 8) {
        return m_shell.Refuse("wrong right  function  keyboard value must be 8-HEX character",
                              edRightKey);
    }
    char joined[kKeyboardValueLength + 1] = {};
    std::memcpy(joined, mainValue.constData(), 32);
    std::memcpy(joined + 32, left.constData(), 8);
    std::memcpy(joined + 40, right.constData(), 8);
    m_shell.Run(set, m_shell.Entries().PinPad_SetKeyboardValue,
                [&](auto entry) { return entry(joined, kKeyboardValueLength); });
}

void KeypadPage::btSetControlCodeClick() {
    const Operation set =
        Operation::Standard(btSetControlCode)
            .Texts("failure in setting the control code,failure reason is:%s", nullptr);
    m_shell.Begin(set);
    // A code typed into the editable combo counts as the entry it names.
    const std::optional<int> position = ParseControlCode(comboControlCode->currentText());
    if (!position) return m_shell.Refuse("select controlling code", comboControlCode);
    const std::optional<ControlCodeCommand> command = BuildControlCodeCommand(
        *position, edControlCode->currentText(), keypadInvalidate->isChecked());
    if (!command)
        return m_shell.Refuse("control code value must be 2-HEX character", comboControlCode);
    const QByteArray text = command->text.toLatin1();
    const int result = m_shell.Run(set, m_shell.Entries().PinPad_SetControlCode,
                                   [&](auto entry) { return entry(text.constData(), 3); });
    if (result != 0) return;
    if (*position == kSerialSpeedCode && IsSerialSpeedValue(command->value)) {
        ReopenAtNewSpeed(command->value);
        return;
    }
    m_shell.ShowStatus("set the control code ok");
    if (*position == kPinTimeoutCode) {
        RecordKeys("The PIN time-out was set on the pad",
                   padlogic::KeyRecords().PinTimeout(command->value));
    }
}

void KeypadPage::ReopenAtNewSpeed(int value) {
    m_shell.Run(Operation::PortCall(), m_shell.Entries().PinPad_DisablePort,
                [](auto disablePort) { return disablePort(); });
    // The port is closed now; the buttons say so until the reopen succeeds.
    m_shell.MarkPortClosed();
    m_shell.DisableOperationButtons();
    m_commu.SelectBaudRateEntry(BaudEntryForSpeedValue(value));
    m_shell.StopKeyLoops();
    m_shell.ShowStatus("");
    if (m_commu.OpenPort() != 0) {
        m_shell.ShowStatus("set the control code ok but fail in opening the serial port");
        return;
    }
    m_shell.MarkPortOpen();
    m_shell.EnableOperationButtons();
    m_shell.ShowStatus("set the control code ok and succeed in opening the serial");
}

void KeypadPage::comboControlCodeChange() {
    const std::optional<int> code = ParseControlCode(comboControlCode->currentText());
    if (!code) return;
    const ControlCodeInfo info = ControlCodeInfoFor(*code);
    labelControlCode->setText(info.label);
    edControlCode->clear();
    edControlCode->setEditText(info.defaultValue);
    edControlCode->addItems(info.values);
    edControlCode->setCurrentIndex(-1);
    edControlCode->setEditText(info.defaultValue);
    const bool keyLock = *code == kKeyLockCode;
    Label52->setVisible(keyLock);
    RadioGroup1->setVisible(keyLock);
}

}  // namespace shell
