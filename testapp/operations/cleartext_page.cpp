#include "cleartext_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QVBoxLayout>

#include "display_request.h"
#include "page_layout.h"

namespace operations {
namespace {

// The data memo takes 62 characters until the decryption modes have been used, 64 after.
constexpr int kDesignMemoLimit = 62;

void Append(QPlainTextEdit* memo, const QString& text) {
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

QPlainTextEdit* MakeKeyMemo(const char* name, QWidget* parent) {
    QPlainTextEdit* memo = shell::MakeMemo(name, parent);
    memo->setReadOnly(true);
    return memo;
}

}  // namespace

CleartextPage::CleartextPage(shell::Shell& shell, QWidget* parent)
    : QWidget(parent),
      m_shell(shell),
      m_reader(shell, {[this](unsigned char byte, bool emptyFirst) {
                           QMetaObject::invokeMethod(
                               this, [this, byte, emptyFirst] { ShowKey(byte, emptyFirst); },
                               Qt::QueuedConnection);
                       },
                       [this] {
                           QMetaObject::invokeMethod(
                               this, [this] { ReaderEnded(); }, Qt::QueuedConnection);
                       }}) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildKeypadGroup(), 3);
    layout->addWidget(BuildDisplayGroup(), 2);
}

QWidget* CleartextPage::BuildKeypadGroup() {
    auto* group = new QGroupBox("clear-text keypad", this);
    Memo1 = MakeKeyMemo("Memo1", group);
    Memo2 = MakeKeyMemo("Memo2", group);
    OpenKeyBord = m_shell.MakeOperationButton("OpenKeyBord", "Open Pinpad", group);
    CloseKeyBord = m_shell.MakeOperationButton("CloseKeyBord", "Close Pinpad", group);
    Button2 = shell::Named<QPushButton>("Button2", group, "Clear");
    m_shell.OnClick(OpenKeyBord, this, &CleartextPage::OpenKeyBordClick);
    m_shell.OnClick(CloseKeyBord, this, &CleartextPage::CloseKeyBordClick);
    m_shell.OnClick(Button2, this, &CleartextPage::Button2Click);

    auto* grid = new QGridLayout(group);
    grid->addWidget(shell::MakeCaption("Key value:", Memo1, group), 0, 0);
    grid->addWidget(Memo1, 1, 0);
    grid->addWidget(shell::MakeCaption("Key value:(HEX):", Memo2, group), 0, 1);
    grid->addWidget(Memo2, 1, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(OpenKeyBord);
    buttons->addWidget(CloseKeyBord);
    buttons->addWidget(Button2);
    buttons->addStretch();
    grid->addLayout(buttons, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 2);
    return group;
}

QWidget* CleartextPage::BuildDisplayGroup() {
    auto* group = new QGroupBox("display", this);
    TS8_Combox = shell::MakeCombo("TS8_Combox", group, {"30", "31", "32"}, "30");
    shell::LimitTyping(TS8_Combox->lineEdit(), 2);
    TS8_MODE = shell::MakeCaption("Mode(HEX):", TS8_Combox, group);
    TS8_MODE->setObjectName("TS8_MODE");
    TS8_Label10 = shell::Named<QLabel>("TS8_Label10", group, "Original code display");
    QFont titleFont = TS8_Label10->font();
    titleFont.setBold(true);
    TS8_Label10->setFont(titleFont);
    TS8_Memo3 = shell::MakeMemo("TS8_Memo3", group, kDesignMemoLimit);
    TS8_Label11 = shell::MakeCaption("Context(HEX)", TS8_Memo3, group);
    TS8_Label11->setObjectName("TS8_Label11");
    TS8_ComboBox4 = shell::MakeCombo("TS8_ComboBox4", group, {}, "");
    shell::LimitTyping(TS8_ComboBox4->lineEdit(), 2);
    TS8_Label12 = shell::MakeCaption("Data-displaying as code", TS8_ComboBox4, group);
    TS8_Label12->setObjectName("TS8_Label12");
    TS8_Label12->hide();
    TS8_ComboBox4->hide();
    TabSheet8_Display = m_shell.MakeOperationButton("TabSheet8_Display", "Display", group);
    m_shell.OnClick(TabSheet8_Display, this, &CleartextPage::TabSheet8_DisplayClick);
    connect(TS8_Combox, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &CleartextPage::TS8_ComboxChange, TS8_Combox));

    auto* grid = new QGridLayout(group);
    grid->addWidget(TS8_MODE, 0, 0);
    grid->addWidget(TS8_Combox, 0, 1);
    grid->addWidget(TS8_Label10, 0, 2);
    grid->addWidget(TS8_Label11, 1, 0);
    grid->addWidget(TS8_Memo3, 1, 1, 1, 2);
    grid->addWidget(TS8_Label12, 2, 0);
    grid->addWidget(TS8_ComboBox4, 2, 1);
    grid->addWidget(TabSheet8_Display, 1, 3, Qt::AlignTop);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(1, 1);
    return group;
}

void CleartextPage::InitPageDefaults() {
    Memo1->setPlainText("");
    Memo2->setPlainText("");
}

void CleartextPage::FillDisplayLists() {
    const QSignalBlocker modeBlocker(TS8_Combox);
    TS8_Combox->addItems(shell::HexItems(0x40, 0x7F));
    TS8_ComboBox4->addItems(shell::HexItems(0x30, 0x39) << "41"
                                                        << "42");
}

void CleartextPage::OpenKeyBordClick() {
    // Two plain calls that leave the flags and the buttons alone until the mode is open.
    shell::Operation open = shell::Operation::PlainCall();
    open.control = OpenKeyBord;
    open.unbound = shell::WhenUnbound::kRefuse;
    m_shell.Begin(open);
    auto setControlCode = m_shell.Entries().PinPad_SetControlCode;
    if (m_shell.RefuseUnbound(open, setControlCode)) return;
    for (const char* code : {"035", "033"}) {
        const int result =
            m_shell.Run(open, setControlCode, [&](auto entry) { return entry(code, 3); });
        // A mode that did not open leaves a running PIN, password or key entry as it was.
        if (result != 0)
            return m_shell.ShowFailure("failure in Open Pinpad,failure reason is:%s", result);
    }
    // A PIN, password or key entry loop would keep taking the keys meant for the reader.
    m_shell.EndEntryLoops();
    m_shell.ShowStatus("Open Pinpad Success,Please Key-press");
    OpenKeyBord->setEnabled(false);
    if (m_reader.Open() == KeypadReader::OpenResult::kNotCreated) {
        m_shell.ShowStatus("can not create a read clear text thread.");
        // Without a reader the operator may try again.
        OpenKeyBord->setEnabled(true);
    }
}

void CleartextPage::CloseKeyBordClick() {
    const shell::Operation close =
        shell::Operation::Standard(CloseKeyBord)
            .Starting({false, false, false, false})
            .Texts("failure in Close Pinpad,failure reason is:%s", "Close Pinpad Success");
    m_shell.Begin(close);
    // The reader must be out of the driver and gone before the closing code goes out.
    m_shell.CloseKeypadMode();
    m_shell.Run(close, m_shell.Entries().PinPad_SetControlCode,
                [](auto setControlCode) { return setControlCode("032", 3); });
}

void CleartextPage::Button2Click() {
    Memo1->clear();
    Memo2->clear();
}

void CleartextPage::ShowKey(unsigned char byte, bool emptyFirst) {
    if (emptyFirst) Button2Click();
    Append(Memo1, QString(QChar::fromLatin1(static_cast<char>(byte))));
    Append(Memo2, QString::asprintf("%02X ", byte));
}

void CleartextPage::ReaderEnded() {
    // The reader gives back "Open Pinpad", unless a new reader runs or an operation holds the
    // buttons in its busy state (it restores them itself when it ends).
    if (m_reader.Running() || !CloseKeyBord->isEnabled()) return;
    OpenKeyBord->setEnabled(true);
}

void CleartextPage::TabSheet8_DisplayClick() {
    const shell::Operation display = shell::Operation::KeepingButtons(TabSheet8_Display);
    m_shell.Begin(display);
    const DisplayRequest request = BuildDisplayRequest(
        TS8_Combox->currentText(), TS8_Memo3->toPlainText(), TS8_ComboBox4->currentText());
    if (request.mode == DisplayMode::kDecryption) shell::LimitTyping(TS8_Memo3, kCipherTextLimit);
    if (!request.refusal.isEmpty()) {
        m_shell.ShowStatus(request.refusal);
        using Field = DisplayRequest::Field;
        QWidget* focus = request.field == Field::kData   ? static_cast<QWidget*>(TS8_Memo3)
                         : request.field == Field::kCode ? TS8_ComboBox4
                                                         : TS8_Combox;
        focus->setFocus();
        return;
    }
    const int result = m_shell.Run(display, m_shell.Entries().PinPad_DispInfoLcd, [&](auto entry) {
        return entry(request.bytes.constData(), static_cast<int>(request.bytes.size()));
    });
    if (result == shell::kEntryUnbound) return;
    if (result == 0) return m_shell.ShowStatus("success");
    TS8_Memo3->clear();
    m_shell.ShowFailure("failure in displaying ,the failure reason is:%s", result);
}

void CleartextPage::TS8_ComboxChange() {
    const std::optional<int> modeByte = ModeBytePrefix(TS8_Combox->currentText());
    const DisplayMode mode = modeByte ? DisplayModeOf(*modeByte) : DisplayMode::kUnknown;
    if (mode == DisplayMode::kUnknown) return m_shell.ShowStatus("Invalid Code");
    const bool code = mode == DisplayMode::kCode;
    TS8_Label10->setText(code                               ? "Code display"
                         : mode == DisplayMode::kDecryption ? "Decryption display"
                                                            : "Original code display");
    if (!code) {
        const QString caption = mode == DisplayMode::kDecryption ? "cipher(HEX)" : "Context(HEX)";
        TS8_Label11->setText(caption);
        shell::SetAccessibleCaption(TS8_Memo3, caption);
        TS8_Memo3->clear();
    } else {
        TS8_ComboBox4->setCurrentText("30");
    }
    TS8_Label11->setVisible(!code);
    TS8_Memo3->setVisible(!code);
    TS8_Label12->setVisible(code);
    TS8_ComboBox4->setVisible(code);
}

}  // namespace operations
