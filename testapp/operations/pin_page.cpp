#include "pin_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "data_requests.h"
#include "key_parts.h"
#include "key_store.h"
#include "page_layout.h"
#include "star_echo_entry.h"

namespace operations {
namespace {

using shell::MakeCaption;
using shell::MakeCombo;
using shell::MakeEdit;
using shell::Named;
using shell::Operation;

constexpr int kMemoLimit = 2048;
// The MAC reply, with room over the driver's PINPAD_MAC_SIZE for an entry library that writes more.
constexpr std::size_t kMacReplySize = 128;
static_assert(kMacReplySize >= PINPAD_MAC_SIZE);
constexpr int kPinReadWaitSeconds = 5;
constexpr char kRenewMode = 'a';
constexpr char kVerifyMode = 'b';
constexpr const char* kKeyIndexRefusal = "invalid PIN key no. value range:30-7F";
constexpr const char* kReadFailure = "failure in reading the PIN ,the failure reason is:%s";

QLineEdit* MakeResultEdit(const char* name, QWidget* parent) {
    QLineEdit* edit = MakeEdit(name, parent);
    edit->setReadOnly(true);
    return edit;
}

void LimitComboTyping(QComboBox* combo, int limit) { shell::LimitTyping(combo->lineEdit(), limit); }

// Adds caption and control side by side at (row, column) of `grid`.
void AddField(QGridLayout* grid, int row, int column, const QString& caption, QWidget* control,
              int span = 1) {
    grid->addWidget(MakeCaption(caption, control, control->parentWidget()), row, column);
    grid->addWidget(control, row, column + 1, 1, span);
}

}  // namespace

PinPage::PinPage(shell::Shell& shell, QWidget* parent) : QWidget(parent), m_shell(shell) {
    auto* right = new QVBoxLayout;
    right->addWidget(BuildRenewGroup());
    right->addWidget(BuildMacGroup(), 1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(BuildPinGroup(), 5);
    layout->addLayout(right, 4);
}

QWidget* PinPage::BuildPinGroup() {
    auto* group = new QGroupBox("PIN", this);
    comboPinKeyNo = MakeCombo("comboPinKeyNo", group, shell::HexItems(0x30, 0x7F), "30");
    LimitComboTyping(comboPinKeyNo, 2);
    comboPinType = MakeCombo("comboPinType", group, PinTypeItems(), "ISO9564_0", false);
    comboHintAudio = MakeCombo("comboHintAudio", group, {"0", "1", "2"}, "0");
    LimitComboTyping(comboHintAudio, 1);
    edPinLength = MakeCombo("edPinLength", group, PinLengthItems(1), "06");
    LimitComboTyping(edPinLength, 2);
    edAccount = MakeEdit("edAccount", group);
    shell::LimitTyping(edAccount, AccountLimit(1));
    edAccount->setText("123456789012");
    ComboBox1 = MakeCombo("ComboBox1", group, {"0", "1", "2"}, "0");
    ComboBox2 = MakeCombo("ComboBox2", group, {"0", "1", "2", "4", "5", "6"}, "0");
    btEnablePin = m_shell.MakeOperationButton("btEnablePin", "startup PIN1", group);
    Button5 = m_shell.MakeOperationButton("Button5", "startup PIN2", group);
    btGetPin =
        m_shell.MakeOperationButton("btGetPin", "Read ciphertext", group, shell::kEnabledByItsPage);
    PinPadKey = MakeResultEdit("PinPadKey", group);
    edPinSerialNo = MakeEdit("edPinSerialNo", group);
    edPinSerialNo->setEnabled(false);
    edPinRevLength = MakeEdit("edPinRevLength", group);
    edPinRevLength->setEnabled(false);
    edPinRevEncrypt = MakeResultEdit("edPinRevEncrypt", group);
    PinMingWen = MakeResultEdit("PinMingWen", group);
    edPinDigits = MakeResultEdit("edPinDigits", group);
    edPinDigits->setToolTip("The PIN digits read back from the cleartext PIN block");

    m_shell.OnClick(btEnablePin, this, &PinPage::btEnablePinClick);
    m_shell.OnClick(Button5, this, &PinPage::Button5Click);
    m_shell.OnClick(btGetPin, this, &PinPage::btGetPinClick);
    connect(comboPinType, &QComboBox::currentIndexChanged, this,
            m_shell.Handler(this, &PinPage::comboPinTypeChange, comboPinType));

    auto* grid = new QGridLayout(group);
    AddField(grid, 0, 0, "Key index:", comboPinKeyNo);
    AddField(grid, 0, 2, "Pin type:", comboPinType);
    AddField(grid, 1, 0, "sound:", comboHintAudio);
    AddField(grid, 1, 2, "PIN length(DEC):", edPinLength);
    AddField(grid, 2, 0, "AN or Transcode:", edAccount, 3);
    AddField(grid, 3, 0, "CR Code:", ComboBox1);
    AddField(grid, 3, 2, "Clear Code:", ComboBox2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btEnablePin);
    buttons->addWidget(Button5);
    buttons->addWidget(btGetPin);
    grid->addLayout(buttons, 4, 0, 1, 4);
    AddField(grid, 5, 0, "key value:", PinPadKey, 3);
    AddField(grid, 6, 0, "Track number:", edPinSerialNo);
    AddField(grid, 6, 2, "Pin length:", edPinRevLength);
    AddField(grid, 7, 0, "Ciphertext PIN:", edPinRevEncrypt, 3);
    AddField(grid, 8, 0, "Cleartext PIN:", PinMingWen);
    AddField(grid, 8, 2, "PIN digits:", edPinDigits);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(9, 1);
    return group;
}

QWidget* PinPage::BuildRenewGroup() {
    auto* group = new QGroupBox("PIN Renew/verify", this);
    ComboBox3 = MakeCombo("ComboBox3", group, {"61", "62"}, "61");
    Edit1 = MakeEdit("Edit1", group);
    shell::LimitTyping(Edit1, 16);
    Edit1->setText("0006502105278100");
    Edit2 = MakeEdit("Edit2", group);
    shell::LimitTyping(Edit2, 16);
    Edit2->setText("0123456789012345");
    Edit3 = MakeEdit("Edit3", group);
    Edit3->setToolTip("After a renew: the PIN offset, which a verify (62) sends back");
    Button6 = m_shell.MakeOperationButton("Button6", "PIN Renew/verify", group);
    m_shell.OnClick(Button6, this, &PinPage::Button6Click);

    auto* grid = new QGridLayout(group);
    AddField(grid, 0, 0, "Mode Code:", ComboBox3);
    grid->addWidget(Button6, 0, 2);
    AddField(grid, 1, 0, "Validated data:", Edit1, 2);
    AddField(grid, 2, 0, "BCD transfer Table:", Edit2, 2);
    AddField(grid, 3, 0, "Return Data:", Edit3, 2);
    grid->setColumnStretch(1, 1);
    return group;
}

QWidget* PinPage::BuildMacGroup() {
    auto* group = new QGroupBox("MAC", this);
    comboMakeMacKeyIndex =
        MakeCombo("comboMakeMacKeyIndex", group, shell::HexItems(0x30, 0x7F), "30");
    LimitComboTyping(comboMakeMacKeyIndex, 2);
    comboMacType = MakeCombo("comboMacType", group,
                             {"PBOC", "ANSI X9.9", "ANSI X9.19", "ISO 16609"}, "ANSI X9.9", false);
    memoMakeMacData = shell::MakeMemo("memoMakeMacData", group, kMemoLimit);
    edMakeMacResult = MakeResultEdit("edMakeMacResult", group);
    btMakeMAC = m_shell.MakeOperationButton("btMakeMAC", "MAC calculation", group);
    btCleanUpMac = Named<QPushButton>("btCleanUpMac", group, "Clear");
    m_shell.OnClick(btMakeMAC, this, &PinPage::btMakeMACClick);
    m_shell.OnClick(btCleanUpMac, this, &PinPage::btCleanUpMacClick);

    auto* grid = new QGridLayout(group);
    AddField(grid, 0, 0, "Key index:", comboMakeMacKeyIndex);
    AddField(grid, 0, 2, "MAC type:", comboMacType);
    grid->addWidget(MakeCaption("input character(HEX):", memoMakeMacData, group), 1, 0, 1, 4);
    grid->addWidget(memoMakeMacData, 2, 0, 1, 4);
    AddField(grid, 3, 0, "return MAC(HEX):", edMakeMacResult, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btMakeMAC);
    buttons->addWidget(btCleanUpMac);
    grid->addLayout(buttons, 4, 0, 1, 4);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(3, 1);
    return group;
}

void PinPage::InitPageDefaults() {
    memoMakeMacData->setPlainText("");
    const QSignalBlocker pinType(comboPinType);
    comboMacType->setCurrentIndex(1);
    comboHintAudio->setCurrentIndex(0);
    comboPinType->setCurrentIndex(1);
    edPinLength->setCurrentText("06");
}

void PinPage::ClearPinResults() {
    edPinSerialNo->clear();
    edPinRevEncrypt->clear();
    PinMingWen->clear();
    edPinDigits->clear();
}

void PinPage::ClearEntryResults() {
    ClearPinResults();
    edPinRevLength->clear();
}

std::optional<QByteArray> PinPage::PinKeyIndex() {
    const QByteArray keyIndex = comboPinKeyNo->currentText().toLatin1();
    if (IsWorkingKeyIndex(ParseKeyIndex(comboPinKeyNo->currentText()))) return keyIndex;
    m_shell.Refuse(kKeyIndexRefusal, comboPinKeyNo);
    return std::nullopt;
}

std::optional<PinTarget> PinPage::PinTargetFromPage(int typeIndex) {
    const std::optional<QByteArray> keyIndex = PinKeyIndex();
    if (!keyIndex) return std::nullopt;
    const QByteArray account = edAccount->text().toLatin1();
    if (const char* refusal = AccountRefusal(typeIndex, account)) {
        m_shell.Refuse(refusal, edAccount);
        return std::nullopt;
    }
    return MakePinTarget(*keyIndex, typeIndex, account);
}

void PinPage::btEnablePinClick() {
    const int typeIndex = comboPinType->currentIndex();
    m_shell.Begin(Operation::Standard(btEnablePin));
    m_shell.MarkPadInputOpen();
    PinPadKey->clear();
    ClearEntryResults();
    const std::optional<PinTarget> target = PinTargetFromPage(typeIndex);
    if (!target) return;
    const QString length = edPinLength->currentText();
    const QByteArray text =
        FullPinStartText(*target, comboHintAudio->currentText().toLatin1(), length.toLatin1());
    StartPinEntry(text, target, StarEcho(StarEcho::Backspace::kOneStar, LeadingNumber(length)));
}

void PinPage::Button5Click() {
    m_shell.Begin(Operation::Standard(Button5));
    m_shell.MarkPadInputOpen();
    PinPadKey->clear();
    ClearEntryResults();
    const QString clearCode = ComboBox2->currentText().left(1);
    const QByteArray text =
        ShortPinStartText(comboHintAudio->currentText(), edPinLength->currentText(),
                          ComboBox1->currentText(), clearCode);
    const StarEcho echo(StarEcho::BackspaceForClearCode(LeadingNumber(clearCode)),
                        LeadingNumber(edPinLength->currentText().left(2)));
    StartPinEntry(text, std::nullopt, echo);
}

void PinPage::StartPinEntry(const QByteArray& text, const std::optional<PinTarget>& target,
                            StarEcho echo) {
    const int result =
        m_shell.Run(Operation::Standard().Texts(kPinEntryStartFailure, nullptr),
                    m_shell.Entries().PinPad_EnablePin, [&](auto enablePin) {
                        return enablePin(text.constData(), static_cast<unsigned int>(text.size()));
                    });
    if (result == shell::kEntryUnbound) return;
    // "startup PIN2" has told the pad nothing of key and type, whatever the outcome, so the read
    // must send them.
    if (!target) m_pin2Mode = true;
    if (result != 0) return;
    if (target) {
        m_pin2Mode = false;
        m_entryTarget = *target;
    }
    m_shell.ShowStatus(kPinEntryStarted);
    RunStarEcho(std::move(echo));
}

void PinPage::RunStarEcho(StarEcho echo) {
    btGetPin->setEnabled(false);
    // A finished or timed-out entry leaves a PIN block to read; a cancelled one does not.
    RunStarEchoEntry(m_shell, echo, PinPadKey,
                     {[](unsigned char) { return QString(kPinEntryFinished); },
                      [this](StarEcho::End end) {
                          if (end != StarEcho::End::kCancelled) btGetPin->setEnabled(true);
                      }});
}

void PinPage::btGetPinClick() {
    const Operation read = Operation::Standard(btGetPin).Texts(kReadFailure, nullptr);
    m_shell.Begin(read);
    ClearEntryResults();
    auto getPinValue = m_shell.Entries().PinPad_GetPinValue;
    if (m_shell.RefuseUnbound(read, getPinValue)) return;
    PinTarget target = m_entryTarget;
    QByteArray text;
    if (m_pin2Mode) {
        const std::optional<PinTarget> fromPage = PinTargetFromPage(comboPinType->currentIndex());
        if (!fromPage) return;
        target = *fromPage;
        text = PinReadText(target);
    }
    char reply[kPinReplySize] = {};
    const int result = m_shell.Run(read, getPinValue, [&](auto entry) {
        return entry(text.constData(), static_cast<unsigned int>(text.size()), kPinReadWaitSeconds,
                     reply);
    });
    if (result != 0) return;
    btGetPin->setEnabled(false);
    ShowPinBlock(SplitPinReply(reply), target);
    m_shell.ShowStatus("succeed in implementation");
}

void PinPage::ShowPinBlock(const PinReplyFields& fields, const PinTarget& target) {
    edPinSerialNo->setText(fields.track);
    edPinRevLength->setText(fields.length);
    edPinRevEncrypt->setText(fields.block);
    const QString clear = DecipherLocally(fields.block, target.keyIndex);
    PinMingWen->setText(clear);
    edPinDigits->setText(DecodedPinDigits(target, clear, fields.length));
}

QString PinPage::DecipherLocally(const QString& block, const QByteArray& keyIndex) {
    const QByteArray key =
        QByteArray::fromStdString(padlogic::KeyStore().CipherKey(keyIndex.left(2).toStdString()));
    auto triUntriDes = m_shell.Entries().PinPad_TriUntriDes;
    // A key entered on the pad is on record only as its mask; deciphering with the mask would
    // show a block that means nothing.
    if (triUntriDes == nullptr || padlogic::IsMasked(std::string_view(key.constData(), key.size())))
        return QString();
    const QByteArray data = block.toLatin1();
    char clear[PINPAD_DES_RESULT_SIZE] = {};
    m_shell.Run(Operation::PlainCall(), triUntriDes,
                [&](auto des) { return des(data.constData(), key.constData(), clear, 1); });
    clear[sizeof clear - 1] = '\0';
    return QString::fromLatin1(clear);
}

void PinPage::comboPinTypeChange() {
    const int index = comboPinType->currentIndex();
    if (index < 0) return;
    const int accountLimit = AccountLimit(index);
    edAccount->setEnabled(accountLimit > 0);
    if (accountLimit > 0) {
        shell::LimitTyping(edAccount, accountLimit);
        if (edAccount->text().size() > accountLimit) {
            edAccount->setText(edAccount->text().left(accountLimit));
        }
    }
    edPinLength->clear();
    edPinLength->addItems(PinLengthItems(index));
    edPinLength->setCurrentIndex(edPinLength->findText("06"));
}

void PinPage::Button6Click() {
    const Operation renew = Operation::Standard(Button6).Texts(kReadFailure, nullptr);
    m_shell.Begin(renew);
    ClearEntryResults();
    // A verify sends the offset that Return Data holds. The box shows only this request's
    // answer once there is one; a refusal gives the text back, and so does a failed verify,
    // whose offset the retry needs. A failed renew leaves it empty: what it held was an answer.
    const QString returnText = Edit3->text();
    const bool verify = ComboBox3->currentText() == QLatin1String("62");
    Edit3->clear();
    bool sent = false;
    auto giveBack = qScopeGuard([&] {
        if (!sent || verify) Edit3->setText(returnText);
    });
    const QByteArray returnData = returnText.toLatin1();
    auto getPinValue = m_shell.Entries().PinPad_GetPinValue;
    if (m_shell.RefuseUnbound(renew, getPinValue)) return;
    const std::optional<QByteArray> keyIndex = PinKeyIndex();
    if (!keyIndex) return;
    const int mode = ComboBox3->findText(ComboBox3->currentText());
    if (mode < 0) return m_shell.Refuse("invalid mode code value range:61-62", ComboBox3);
    const QByteArray validation = Edit1->text().toLatin1();
    if (validation.size() != 16) return m_shell.Refuse("account length range(16)", Edit1);
    QByteArray offset;
    if (mode == 1) {
        offset = returnData;
        if (offset.isEmpty())
            return m_shell.Refuse("PIN offset in Return Data won't be vacant", Edit3);
    }
    const QByteArray request = RenewVerifyRequest(*keyIndex, mode == 0 ? kRenewMode : kVerifyMode,
                                                  validation, Edit2->text().toLatin1(), offset);
    // The driver waits 1 to 255 seconds, the range control code 2 can store, and refuses
    // anything else with its bad-argument result.
    const int wait = padlogic::KeyStore().PinTimeout();
    char reply[kPinReplySize] = {};
    sent = true;
    const int result = m_shell.Run(renew, getPinValue, [&](auto read) {
        return read(request.constData(), static_cast<unsigned int>(request.size()), wait, reply);
    });
    if (result != 0) return;
    giveBack.dismiss();
    const PinReplyFields fields = SplitPinReply(reply);
    edPinSerialNo->setText(fields.track);
    edPinRevLength->setText(fields.length);
    Edit3->setText(fields.rest);
    m_shell.ShowStatus("succeed in PIN Renew/verify");
}

void PinPage::btMakeMACClick() {
    const Operation mac = Operation::Standard(btMakeMAC).Texts(
        "failure in calculating MAC,THE failure reason is :%s", "MAC calculation ok");
    m_shell.Begin(mac);
    edMakeMacResult->clear();
    const QString keyText = comboMakeMacKeyIndex->currentText();
    if (!IsWorkingKeyIndex(ParseKeyIndex(keyText))) {
        return m_shell.Refuse("invalid MAC key no. value range:30-7F", comboMakeMacKeyIndex);
    }
    const QString data = WithoutBlanks(memoMakeMacData->toPlainText());
    if (data.size() % 2 != 0) {
        return m_shell.Refuse("the HEX  length in calculating MAC data must be even number",
                              memoMakeMacData);
    }
    const std::optional<QByteArray> message = HexToBytes(data);
    if (!message) {
        return m_shell.Refuse("the data calculating the MAC must be HEX characters",
                              memoMakeMacData);
    }
    if (message->isEmpty()) {
        return m_shell.Refuse("please input the data calculating the MAC", memoMakeMacData);
    }
    m_shell.ShowStatus("MAC calculation,please wait...");
    const QByteArray request =
        MacRequest(keyText.toLatin1(), MacTypeCode(comboMacType->currentIndex()), *message);
    char reply[kMacReplySize] = {};
    const int result = m_shell.Run(mac, m_shell.Entries().PinPad_MakeMac, [&](auto makeMac) {
        return makeMac(request.constData(), static_cast<unsigned int>(request.size()), reply);
    });
    if (result != 0) return;
    reply[sizeof reply - 1] = '\0';
    edMakeMacResult->setText(QString::fromLatin1(reply));
}

void PinPage::btCleanUpMacClick() {
    memoMakeMacData->clear();
    edPinSerialNo->clear();
    edPinRevLength->clear();
    PinMingWen->clear();
    edPinDigits->clear();
    edPinRevEncrypt->clear();
    edMakeMacResult->clear();
    PinPadKey->clear();
}

}  // namespace operations
