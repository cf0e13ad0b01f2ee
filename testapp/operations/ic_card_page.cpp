#include "ic_card_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QValidator>

#include "hex_digits.h"
#include "ic_card_requests.h"
#include "page_layout.h"

namespace operations {
namespace {

// The driver cuts every card reply to this size, terminator included.
constexpr int kCardReplySize = PINPAD_CARD_REPLY_SIZE;
constexpr int kHexBoxWidth = 44;

// Header and length boxes: two hex digits at most, typed in upper case.
class HexBoxValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        if (input.size() > 2) return Invalid;
        for (const QChar c : input) {
            if (!IsHexDigit(c)) return Invalid;
        }
        return Acceptable;
    }
};

QLineEdit* MakeHexBox(const char* name, const char* text, QWidget* parent) {
    QLineEdit* edit = shell::MakeEdit(name, parent, 2);
    edit->setValidator(new HexBoxValidator(edit));
    edit->setText(QLatin1String(text));
    edit->setMaximumWidth(kHexBoxWidth);
    return edit;
}

QComboBox* MakeSocketBox(const char* name, QWidget* parent) {
    QComboBox* combo =
        shell::MakeCombo(name, parent, {"1", "2", "3", "4", "5", "6", "7", "8"}, "1");
    shell::LimitTyping(combo->lineEdit(), 1);
    combo->setEnabled(false);
    return combo;
}

QString ReplyText(const char (&reply)[kCardReplySize]) {
    return QString::fromLatin1(reply, static_cast<qsizetype>(qstrnlen(reply, sizeof reply)));
}

}  // namespace

IcCardPage::IcCardPage(shell::Shell& shell, QWidget* parent) : QWidget(parent), m_shell(shell) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildControlGroup());
    layout->addWidget(BuildAccessGroup());
    layout->addStretch();
}

QWidget* IcCardPage::BuildControlGroup() {
    auto* group = new QGroupBox("control", this);
    CardSockt1 = MakeSocketBox("CardSockt1", group);
    CardType = shell::MakeCombo("CardType", group, {kCpuCardType}, kCpuCardType);
    CardType->setEnabled(false);
    ControlCode =
        shell::MakeCombo("ControlCode", group, {"PowerOn", "GetStatus", "PowerDown"}, "PowerOn");
    CardAtr = shell::MakeEdit("CardAtr", group);
    CardAtr->setReadOnly(true);
    // The box has no caption; without a name it would be announced by its group's title.
    CardAtr->setAccessibleName("answer to reset (ATR)");
    IC_Control = m_shell.MakeOperationButton("IC_Control", "Control Command", group);
    m_shell.OnClick(IC_Control, this, &IcCardPage::IC_ControlClick);

    auto* grid = new QGridLayout(group);
    const std::pair<const char*, QWidget*> fields[] = {
        {"Card Socket No:", CardSockt1}, {"Card Type:", CardType}, {"Control Code:", ControlCode}};
    int column = 0;
    for (const auto& [caption, control] : fields) {
        grid->addWidget(shell::MakeCaption(caption, control, group), 0, column++);
        grid->addWidget(control, 0, column++);
    }
    grid->addWidget(IC_Control, 0, column + 1);
    grid->addWidget(CardAtr, 1, 0, 1, column + 2);
    grid->setColumnStretch(column, 1);
    return group;
}

QWidget* IcCardPage::BuildAccessGroup() {
    auto* group = new QGroupBox("access", this);
    CardSockt2 = MakeSocketBox("CardSockt2", group);
    ComboBox5 = shell::MakeCombo("ComboBox5", group, {"T=0", "T=1"}, "T=0");
    ComboBox5->setEnabled(false);
    CLA = MakeHexBox("CLA", "00", group);
    INS = MakeHexBox("INS", "A4", group);
    P1 = MakeHexBox("P1", "00", group);
    P2 = MakeHexBox("P2", "00", group);
    LC = MakeHexBox("LC", "02", group);
    LE = MakeHexBox("LE", "00", group);
    DataSend = shell::MakeEdit("DataSend", group);
    DataRcv = shell::MakeEdit("DataRcv", group);
    RcvSW = shell::MakeEdit("RcvSW", group);
    RcvSW->setText("RcvSW");
    RcvSW->setMaximumWidth(3 * kHexBoxWidth);
    IC_Access = m_shell.MakeOperationButton("IC_Access", "Accessing Command", group);
    ClearIc = shell::Named<QPushButton>("ClearIc", group, "Clear");
    m_shell.OnClick(IC_Access, this, &IcCardPage::IC_AccessClick);
    m_shell.OnClick(ClearIc, this, &IcCardPage::ClearIcClick);

    auto* grid = new QGridLayout(group);
    auto* settings = new QHBoxLayout;
    settings->addWidget(shell::MakeCaption("Card Socket No:", CardSockt2, group));
    settings->addWidget(CardSockt2);
    settings->addSpacing(24);
    settings->addWidget(shell::MakeCaption("Protocol:", ComboBox5, group));
    settings->addWidget(ComboBox5);
    settings->addStretch();
    grid->addLayout(settings, 0, 0, 1, 2);

    auto* header = new QHBoxLayout;
    const std::pair<const char*, QLineEdit*> boxes[] = {{"CLA:", CLA}, {"INS:", INS}, {"P1:", P1},
                                                        {"P2:", P2},   {"LC:", LC},   {"LE:", LE}};
    for (const auto& [caption, box] : boxes) {
        header->addWidget(shell::MakeCaption(caption, box, group));
        header->addWidget(box);
        header->addSpacing(12);
    }
    header->addStretch();
    grid->addLayout(header, 1, 0, 1, 2);

    const std::pair<const char*, QLineEdit*> lines[] = {
        {"DATA:", DataSend}, {"Return Data:", DataRcv}, {"Return SW:", RcvSW}};
    int row = 2;
    for (const auto& [caption, edit] : lines) {
        grid->addWidget(shell::MakeCaption(caption, edit, group), row, 0);
        grid->addWidget(edit, row++, 1, Qt::AlignLeft);
    }
    DataSend->setMinimumWidth(600);
    DataRcv->setMinimumWidth(600);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(IC_Access);
    buttons->addWidget(ClearIc);
    buttons->addStretch();
    grid->addLayout(buttons, 1, 2, 4, 1);
    grid->setColumnStretch(1, 1);
    return group;
}

void IcCardPage::ClearCardFields() {
    DataSend->setText("");
    DataRcv->setText("");
    CardAtr->setText("");
}

void IcCardPage::IC_ControlClick() {
    // The card handlers start their own way: the buttons go busy only once the request is sound.
    const shell::Operation cardControl =
        shell::Operation::Standard(IC_Control)
            .Starting({true, false, false, true})
            .Texts("failure in IC Card Control,failure reason is:%s", "IC Card Control Success");
    m_shell.Begin(cardControl);
    CardAtr->clear();
    auto control = m_shell.Entries().PinPad_IC_Control;
    if (m_shell.RefuseUnbound(cardControl, control)) return;
    const int socket = shell::StrToInt(CardSockt1->currentText());
    if (CardType->currentText() != QLatin1String(kCpuCardType)) {
        return m_shell.ShowStatus("Select Card Type Error");
    }
    const std::optional<int> action = ControlActionCode(ControlCode->currentText());
    if (!action) return m_shell.ShowStatus("Select Control Code Error");
    m_shell.DisableOperationButtons();
    const QByteArray request = ControlText(socket, *action).toLatin1();
    char reply[kCardReplySize] = {};
    const int result = m_shell.Run(cardControl, control,
                                   [&](auto call) { return call(request.constData(), reply); });
    if (result == 0) CardAtr->setText(ReplyText(reply));
}

void IcCardPage::IC_AccessClick() {
    // The buttons stay as they are; a refused request leaves them so.
    const shell::Operation cardAccess =
        shell::Operation::Standard(IC_Access)
            .Starting({true, true, false, false})
            .Texts("failure in IC Card Accessing,failure reason is: %s",
                   "IC Card Accessing Success");
    m_shell.Begin(cardAccess);
    DataRcv->clear();
    RcvSW->clear();
    auto access = m_shell.Entries().PinPad_IC_Access;
    if (m_shell.RefuseUnbound(cardAccess, access)) return;
    const int socket = shell::StrToInt(CardSockt2->currentText());
    const AccessText text =
        BuildAccessText(socket, {CLA->text(), INS->text(), P1->text(), P2->text(), LC->text(),
                                 DataSend->text(), LE->text()});
    if (!text.refusal.isEmpty()) {
        m_shell.ShowStatus(text.refusal);
        using Field = AccessText::Field;
        QLineEdit* focus = text.field == Field::kData ? DataSend
                           : text.field == Field::kLe ? LE
                                                      : LC;
        focus->setFocus();
        return;
    }
    const QByteArray request = text.text.toLatin1();
    char reply[kCardReplySize] = {};
    const int result = m_shell.Run(cardAccess, access,
                                   [&](auto call) { return call(request.constData(), reply); });
    if (result != 0) return;
    const CardResponse response = SplitAccessReply(ReplyText(reply));
    DataRcv->setText(response.data);
    RcvSW->setText(response.statusWord);
}

void IcCardPage::ClearIcClick() {
    DataRcv->clear();
    CardAtr->clear();
    RcvSW->clear();
}

}  // namespace operations
