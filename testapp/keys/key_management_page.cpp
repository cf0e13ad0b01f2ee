#include "key_management_page.h"

#include <QCompleter>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "check_value.h"
#include "key_recording.h"
#include "key_tables.h"
#include "pad_bytes.h"
#include "pad_entry.h"
#include "page_layout.h"
#include "pin_page.h"
#include "star_echo_entry.h"

namespace keys {
namespace {

using shell::Shell;

constexpr const char* kTestKey = "7E4D19C0A2F6385D0C9E7F2A64F3D8350A6E2C97F4D3836E";
constexpr int kLongestKey = 48;
// What a key store record that failed was to keep.
const QString kKeyLoaded = "The key was loaded into the pad";

// The entry the combo shows, or -1 when its text was typed rather than chosen from the list.
int SelectedEntry(const QComboBox* combo) {
    const int index = combo->currentIndex();
    return index >= 0 && combo->itemText(index) == combo->currentText() ? index : -1;
}

// The code the chosen entry stands for (its item data); nullopt when the text was typed or the
// entry stands for no code.
std::optional<int> ChosenCode(const QComboBox* combo) {
    const int entry = SelectedEntry(combo);
    const QVariant data = entry >= 0 ? combo->itemData(entry) : QVariant();
    return data.isValid() ? std::optional<int>(data.toInt()) : std::nullopt;
}

// A list whose entries carry the codes they stand for as item data.
QComboBox* MakeCodeCombo(const char* name, QWidget* parent,
                         const std::vector<std::pair<QString, QVariant>>& entries,
                         const QString& text) {
    QStringList items;
    for (const auto& entry : entries) items << entry.first;
    QComboBox* combo = shell::MakeCombo(name, parent, items, text);
    for (int i = 0; i < combo->count(); ++i) combo->setItemData(i, entries[i].second);
    return combo;
}

std::vector<std::pair<QString, QVariant>> CombinationCodeEntries() {
    std::vector<std::pair<QString, QVariant>> entries;
    for (const padlogic::CombinationCode& entry : padlogic::kCombinationCodes)
        entries.emplace_back(QString::asprintf("%02X", entry.code), entry.code);
    return entries;
}

// The tags with their digits, and the erase choice, which has none.
std::vector<std::pair<QString, QVariant>> KeyTagEntries() {
    std::vector<std::pair<QString, QVariant>> entries;
    for (const padlogic::KeyTag& tag : padlogic::kKeyTags)
        entries.emplace_back(QString::fromLatin1(tag.name), tag.digit);
    entries.emplace_back(QString::fromLatin1(padlogic::kEraseTag), QVariant());
    return entries;
}

template <typename Lengths>
QStringList LengthItems(const Lengths& lengths) {
    QStringList items;
    for (int bytes : lengths) items << QString::number(bytes);
    return items;
}

// Replaces the key length list, first entry chosen, without running the change handler.
template <typename Lengths>
void ShowKeyLengths(QComboBox* combo, const Lengths& lengths) {
    const QSignalBlocker blocker(combo);
    combo->clear();
    combo->addItems(LengthItems(lengths));
    combo->setCurrentIndex(0);
}

// Shows `text`: its entry when the list has one, else as typed text.
void ShowComboText(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    combo->setCurrentIndex(index);
    if (index < 0) combo->setEditText(text);
}

std::string Text(const QLineEdit* edit) { return edit->text().toLatin1().toStdString(); }
std::string Text(const QComboBox* combo) { return combo->currentText().toLatin1().toStdString(); }
QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Hex keys are read and compared column by column: a fixed-width font, wide enough for a
// triple-length key.
void ShowAsKeyText(QWidget* widget, int characters) {
    widget->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    widget->setMinimumWidth(widget->fontMetrics().horizontalAdvance(QString(characters, '0')) + 12);
}

// Typed text stays as typed: leaving the list does not turn "1f" into its entry "1F".
void KeepTypedCase(QComboBox* combo) { combo->completer()->setCaseSensitivity(Qt::CaseSensitive); }

QLineEdit* MakeKeyEdit(const char* name, QWidget* parent, int characters = kLongestKey) {
    QLineEdit* edit = shell::MakeEdit(name, parent);
    ShowAsKeyText(edit, characters);
    return edit;
}

QLabel* MakeCheckValueLabel(const char* name, QWidget* parent) {
    auto* label = shell::Named<QLabel>(name, parent);
    ShowAsKeyText(label, 8);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

KeyManagementPage::KeyManagementPage(Shell& shell, operations::PinPage& pinPage, QWidget* parent)
    : QWidget(parent), m_shell(shell), m_pinPage(pinPage) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(BuildClearKeyGroup());
    auto* lower = new QHBoxLayout;
    lower->addWidget(BuildCipherKeyGroup(), 1);
    lower->addWidget(BuildPasswordGroup());
    layout->addLayout(lower);
    layout->addStretch();
}

QWidget* KeyManagementPage::BuildClearKeyGroup() {
    auto* group = new QGroupBox("clear text key", this);
    comboKeyNo = shell::MakeCombo("comboKeyNo", group, shell::HexItems(0x00, 0x1F), "00");
    shell::LimitTyping(comboKeyNo->lineEdit(), 2);
    comboMixCode = MakeCodeCombo("comboMixCode", group, CombinationCodeEntries(), "30");
    comboPinLength =
        shell::MakeCombo("comboPinLength", group, LengthItems(padlogic::kKeyLengths), "8");
    for (QComboBox* combo : {comboKeyNo, comboMixCode, comboPinLength}) KeepTypedCase(combo);
    edPin1 = MakeKeyEdit("edPin1", group);
    edPin2 = MakeKeyEdit("edPin2", group);
    edPin3 = MakeKeyEdit("edPin3", group);
    edPin1->setText(kTestKey);
    for (QLineEdit* part : {edPin1, edPin2, edPin3}) shell::LimitTyping(part, 16);
    edDownLoadKeyRetValue = MakeKeyEdit("edDownLoadKeyRetValue", group, 8);
    edDownLoadKeyRetValue->setReadOnly(true);
    btDownloadKey = m_shell.MakeOperationButton("btDownloadKey", "Download cleartext Key", group);
    Button3 = shell::Named<QPushButton>("Button3", group, "Manually input Key");
    Button3->setEnabled(false);
    const char* const checkNames[3] = {"CheckValue1", "CheckValue2", "CheckValue3"};
    for (int i = 0; i < 3; ++i) m_partCheckValues[i] = MakeCheckValueLabel(checkNames[i], group);
    m_keyCheckValue = MakeCheckValueLabel("CheckValueKey", group);

    connect(comboMixCode, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboMixCodeChange));
    connect(comboPinLength, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboPinLengthChange));
    connect(comboKeyNo, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboKeyNoChange));
    connect(btDownloadKey, &QPushButton::clicked, this,
            m_shell.Handler(this, &KeyManagementPage::btDownloadKeyClick));
    connect(Button3, &QPushButton::clicked, this,
            m_shell.Handler(this, &KeyManagementPage::Button3Click));
    for (QLineEdit* part : {edPin1, edPin2, edPin3}) {
        connect(part, &QLineEdit::textChanged, this,
                m_shell.Handler(this, &KeyManagementPage::UpdateCheckValues));
    }

    auto* top = new QHBoxLayout;
    top->addWidget(shell::MakeCaption("key no.:", comboKeyNo, group));
    top->addWidget(comboKeyNo);
    top->addSpacing(12);
    Label23 = shell::MakeCaption("combined code:", comboMixCode, group);
    Label23->setObjectName("Label23");
    top->addWidget(Label23);
    top->addWidget(comboMixCode);
    top->addSpacing(12);
    top->addWidget(shell::MakeCaption("key length:", comboPinLength, group));
    top->addWidget(comboPinLength);
    top->addStretch();
    top->addWidget(btDownloadKey);
    top->addWidget(Button3);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("check value", group), 0, 2);
    const char* const captions[3] = {"key part 1:", "key part 2:", "key part 3:"};
    QLineEdit* const parts[3] = {edPin1, edPin2, edPin3};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(shell::MakeCaption(captions[i], parts[i], group), i + 1, 0);
        grid->addWidget(parts[i], i + 1, 1);
        grid->addWidget(m_partCheckValues[i], i + 1, 2);
    }
    // The pad's verify code sits in the row of the combined key's check value it must equal.
    grid->addWidget(shell::MakeCaption("verify code from EPP:", edDownLoadKeyRetValue, group), 4,
                    0);
    auto* result = new QHBoxLayout;
    result->addWidget(edDownLoadKeyRetValue);
    result->addStretch();
    result->addWidget(new QLabel("check value of the combined key:", group));
    grid->addLayout(result, 4, 1);
    grid->addWidget(m_keyCheckValue, 4, 2);
    grid->setColumnStretch(3, 1);

    auto* layout = new QVBoxLayout(group);
    layout->addLayout(top);
    layout->addLayout(grid);
    return group;
}

QWidget* KeyManagementPage::BuildCipherKeyGroup() {
    auto* group = new QGroupBox("ciphertext key", this);
    comboDecipherNo = shell::MakeCombo("comboDecipherNo", group, shell::HexItems(0x00, 0x3F), "00");
    comboEncryptNo = shell::MakeCombo("comboEncryptNo", group, shell::HexItems(0x10, 0x3F), "10");
    shell::LimitTyping(comboDecipherNo->lineEdit(), 2);
    shell::LimitTyping(comboEncryptNo->lineEdit(), 2);
    comboEncryptMark = MakeCodeCombo("comboEncryptMark", group, KeyTagEntries(), "TMK");
    comboEnryptLength =
        shell::MakeCombo("comboEnryptLength", group, LengthItems(padlogic::kKeyLengths), "8");
    for (QComboBox* combo :
         {comboDecipherNo, comboEncryptNo, comboEncryptMark, comboEnryptLength}) {
        KeepTypedCase(combo);
    }
    edInputKeyToEncrypt = MakeKeyEdit("edInputKeyToEncrypt", group);
    edEncrypKey = MakeKeyEdit("edEncrypKey", group);
    shell::LimitTyping(edInputKeyToEncrypt, 16);
    shell::LimitTyping(edEncrypKey, 16);
    Edit15 = MakeKeyEdit("Edit15", group, 8);
    CheckBox1 = shell::Named<QCheckBox>("CheckBox1", group, "Parity bit");
    IsVerify = shell::Named<QCheckBox>("IsVerify", group, "With verify code");
    CheckBox1->setChecked(true);
    IsVerify->setChecked(true);
    btDownloadEncrypt =
        m_shell.MakeOperationButton("btDownloadEncrypt", "Download ciphertext key", group);
    Button4 = m_shell.MakeOperationButton("Button4", "Read Key Verify Code", group);

    connect(comboEncryptMark, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboEncryptMarkChange));
    connect(comboEncryptNo, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboEncryptNoChange));
    connect(comboEnryptLength, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboEnryptLengthChange));
    connect(btDownloadEncrypt, &QPushButton::clicked, this,
            m_shell.Handler(this, &KeyManagementPage::btDownloadEncryptClick));
    connect(Button4, &QPushButton::clicked, this,
            m_shell.Handler(this, &KeyManagementPage::Button4Click));

    auto* grid = new QGridLayout(group);
    const std::pair<const char*, QComboBox*> indexes[] = {
        {"decryption key no.:", comboDecipherNo},
        {"save key no.:", comboEncryptNo},
        {"key tag:", comboEncryptMark},
        {"cipher key length:", comboEnryptLength}};
    auto* choices = new QHBoxLayout;
    for (const auto& [caption, combo] : indexes) {
        choices->addWidget(shell::MakeCaption(caption, combo, group));
        choices->addWidget(combo);
    }
    choices->addStretch();
    grid->addLayout(choices, 0, 0, 1, 3);
    grid->addWidget(shell::MakeCaption("clear text key:", edInputKeyToEncrypt, group), 1, 0);
    grid->addWidget(edInputKeyToEncrypt, 1, 1);
    grid->addWidget(CheckBox1, 1, 2);
    grid->addWidget(shell::MakeCaption("ciphertext key:", edEncrypKey, group), 2, 0);
    grid->addWidget(edEncrypKey, 2, 1);
    grid->addWidget(IsVerify, 2, 2);
    grid->addWidget(shell::MakeCaption("verify code:", Edit15, group), 3, 0);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Edit15);
    buttons->addStretch();
    buttons->addWidget(btDownloadEncrypt);
    buttons->addWidget(Button4);
    grid->addLayout(buttons, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    return group;
}

QWidget* KeyManagementPage::BuildPasswordGroup() {
    auto* group = new QGroupBox("password on EPP", this);
    Hint = shell::MakeCombo("Hint", group, {}, "0", false);
    KeyLength = shell::MakeCombo("KeyLength", group, {}, "16", false);
    CR = shell::MakeCombo("CR", group, {}, "0", false);
    Clear = shell::MakeCombo("Clear", group, {}, "0", false);
    for (QComboBox* combo : {Hint, KeyLength, CR, Clear}) combo->setEnabled(false);
    PWD = shell::MakeEdit("PWD", group);
    PWD->setReadOnly(true);
    EnterPassword = shell::Named<QPushButton>("EnterPassword", group, "Enter Password");
    Authenticate =
        shell::Named<QPushButton>("Authenticate", group, "Authenticate(For LoadKey only)");
    connect(EnterPassword, &QPushButton::clicked, this,
            m_shell.Handler(this, &KeyManagementPage::EnterPasswordClick));
    connect(Authenticate, &QPushButton::clicked, this,
            m_shell.Handler(this, &KeyManagementPage::AuthenticateClick));

    auto* grid = new QGridLayout(group);
    const std::pair<const char*, QComboBox*> settings[] = {
        {"Hint", Hint}, {"Key Length", KeyLength}, {"CR Code", CR}, {"Clear Code", Clear}};
    int index = 0;
    for (const auto& [caption, combo] : settings) {
        grid->addWidget(shell::MakeCaption(caption, combo, group), index / 2, (index % 2) * 2);
        grid->addWidget(combo, index / 2, (index % 2) * 2 + 1);
        ++index;
    }
    grid->addWidget(shell::MakeCaption("PWD", PWD, group), 2, 0);
    grid->addWidget(PWD, 2, 1, 1, 3);
    grid->addWidget(EnterPassword, 3, 0, 1, 4);
    grid->addWidget(Authenticate, 4, 0, 1, 4);
    return group;
}

void KeyManagementPage::InitPageDefaults() {
    const std::pair<QComboBox*, int> selections[] = {{comboMixCode, 0},     {comboPinLength, 0},
                                                     {comboEncryptMark, 0}, {comboEnryptLength, 0},
                                                     {comboDecipherNo, 0},  {comboEncryptNo, 0}};
    for (const auto& [combo, entry] : selections) {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(entry);
    }
    UpdateCheckValues();
}

void KeyManagementPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The DES entry is bound after the page was built: the test key's check value shows now.
    UpdateCheckValues();
}

QWidget* KeyManagementPage::FocusOf(Field field) const {
    switch (field) {
        case Field::kKeyNo:
            return comboKeyNo;
        case Field::kPart1:
            return edPin1;
        case Field::kPart2:
            return edPin2;
        case Field::kPart3:
            return edPin3;
        case Field::kDecipherNo:
            return comboDecipherNo;
        case Field::kEncryptNo:
            return comboEncryptNo;
        case Field::kClearKey:
            return edInputKeyToEncrypt;
        case Field::kCipherKey:
            return edEncrypKey;
        case Field::kNone:
            break;
    }
    return nullptr;
}

void KeyManagementPage::Refuse(const Refusal& refusal) {
    m_shell.Refuse(QString::fromStdString(refusal.message), FocusOf(refusal.focus));
}

// ---- Clear-text keys ----

void KeyManagementPage::comboMixCodeChange() {
    const std::optional<int> code = ChosenCode(comboMixCode);
    const ClearKeyLayout layout = LayoutOfCode(code.value_or(0));
    ShowKeyLengths(comboPinLength, code ? layout.keyLengths
                                        : std::vector<int>(padlogic::kKeyLengths.begin(),
                                                           padlogic::kKeyLengths.end()));
    QLineEdit* const parts[3] = {edPin1, edPin2, edPin3};
    if (!code) {
        for (QLineEdit* part : parts) part->setEnabled(false);
        m_shell.ShowStatus("this combination code has been cancelled in  use");
        comboPinLengthChange();
        return;
    }
    btDownloadKey->setEnabled(!layout.onPad);
    Button3->setEnabled(layout.onPad);
    const QString caption = layout.onPad ? "Manually Input:" : "combined code:";
    Label23->setText(caption);
    comboMixCode->setAccessibleName(caption);
    for (int i = 0; i < 3; ++i) {
        parts[i]->setEnabled(layout.enabled[i]);
        if (layout.cleared[i]) parts[i]->clear();
    }
    if (layout.partLimit > 0) {
        for (QLineEdit* part : parts) shell::LimitTyping(part, layout.partLimit);
        UpdateCheckValues();
        return;
    }
    comboPinLengthChange();
}

void KeyManagementPage::comboPinLengthChange() {
    const int limit = PartTypingLimit(ChosenCode(comboMixCode), SelectedEntry(comboPinLength));
    for (QLineEdit* part : {edPin1, edPin2, edPin3}) shell::LimitTyping(part, limit);
    UpdateCheckValues();
}

void KeyManagementPage::comboKeyNoChange() {
    const std::array<std::string, 3> parts =
        padlogic::KeyStore().ClearParts(Text(comboKeyNo).substr(0, 2));
    QLineEdit* const fields[3] = {edPin1, edPin2, edPin3};
    for (int i = 0; i < 3; ++i) fields[i]->setText(FromLatin1(parts[i]));
    const RecalledKey key = RecallClearKey(parts);
    for (int i = 0; i < key.enabledParts; ++i) fields[i]->setEnabled(true);
    {
        const QSignalBlocker codeBlocker(comboMixCode);
        const QSignalBlocker lengthBlocker(comboPinLength);
        comboMixCode->setCurrentIndex(comboMixCode->findData(key.code));
        comboPinLength->setCurrentIndex(key.lengthEntry < comboPinLength->count() ? key.lengthEntry
                                                                                  : -1);
    }
    // The typing limits follow the length shown (they never cut the recalled parts).
    comboPinLengthChange();
}

std::optional<int> KeyManagementPage::MixCode() const {
    // A chosen entry carries its code; a typed one is read as a hexadecimal byte.
    const std::optional<int> chosen = ChosenCode(comboMixCode);
    return chosen ? chosen : ParseCombinationCode(Text(comboMixCode));
}

ClearKeyInput KeyManagementPage::ReadClearKeyInput(bool onPad) const {
    ClearKeyInput input;
    input.keyNo = Text(comboKeyNo);
    input.code = MixCode();
    input.lengthPosition = SelectedEntry(comboPinLength);
    input.parts = {Text(edPin1), Text(edPin2), Text(edPin3)};
    input.onPad = onPad;
    return input;
}

void KeyManagementPage::btDownloadKeyClick() { DownloadClearKey(false); }

void KeyManagementPage::Button3Click() { DownloadClearKey(true); }

void KeyManagementPage::DownloadClearKey(bool onPad) {
    const ClearKeyInput input = ReadClearKeyInput(onPad);
    m_shell.BeginOperation();
    // The announcement of a key typed on the pad opens an input mode on the pad.
    if (onPad) m_shell.padInputClosed = 0;
    edDownLoadKeyRetValue->clear();
    const auto plan = PlanClearKeyDownload(input);
    if (const auto* refusal = std::get_if<Refusal>(&plan)) return Refuse(*refusal);
    const ClearKeyDownload& download = std::get<ClearKeyDownload>(plan);

    auto downloadKey = m_shell.Entries().PinPad_DownloadKey;
    if (m_shell.RefuseUnbound(downloadKey, "failure in selecting function PinPad_DownloadKey()"))
        return;
    m_shell.WaitForReader();
    m_shell.EnableOperationButtons();
    char reply[128] = {};
    const int result = m_shell.GuardedCall([&] {
        return downloadKey(download.request.c_str(),
                           static_cast<unsigned int>(download.request.size()), reply, 0);
    });
    m_shell.portRequest = 0;
    reply[sizeof reply - 1] = '\0';
    QLineEdit* const fields[3] = {edPin1, edPin2, edPin3};
    for (int i = 0; i < 3; ++i) fields[i]->setText(FromLatin1(download.parts[i]));
    if (result != 0) {
        edDownLoadKeyRetValue->clear();
        m_shell.ShowFailure("failure in downloading clear text key,the failure reason is:%s",
                            result);
        return;
    }
    if (download.recorded) {
        m_shell.ShowStatus("succeed in downloading the clear text key");
        edDownLoadKeyRetValue->setText(QString::fromLatin1(reply));
        m_shell.EnableOperationButtons();
        const std::string mismatch =
            VerifyCodeMismatch(m_shell.Entries().PinPad_TriUntriDes, download, reply);
        if (!mismatch.empty()) m_shell.ShowStatus(FromLatin1(mismatch));
        shell::RecordKeys(kKeyLoaded, ClearKeyRecords(download));
        return;
    }
    if (onPad) return RunPadKeyEntry(download, false);
    if (padlogic::IsPadEntryCode(download.code)) {
        m_shell.padInputClosed = 0;
        RunPadKeyEntry(download, true);
    }
}

void KeyManagementPage::RunPadKeyEntry(const ClearKeyDownload& download, bool timeoutCancels) {
    m_shell.ShowStatus("Please input the clear text key from EPP");
    m_shell.SetClosePortEnabled(false);
    const int part = EntryPart(download.code);
    QLineEdit* const target = part == 1 ? edPin1 : part == 2 ? edPin2 : edPin3;
    auto cancel = [this] {
        m_shell.ShowStatus("Canceled input or timeout in the clear text key");
        m_shell.EnableOperationButtons();
        m_shell.SetClosePortEnabled(true);
        return Shell::KeyStep::kDone;
    };
    KeyPartEntry entry;
    const bool ended = m_shell.PollKeys(
        [this] { return m_shell.padInputClosed == 1; },
        [&](unsigned char byte) {
            switch (entry.Take(byte)) {
                case EntryStep::kChanged:
                    target->setText(FromLatin1(entry.text()));
                    return Shell::KeyStep::kMore;
                case EntryStep::kCancelled:
                    return cancel();
                case EntryStep::kTimedOut:
                    if (timeoutCancels) return cancel();
                    for (QLineEdit* field : {edPin1, edPin2, edPin3}) field->clear();
                    m_shell.ShowStatus("user inputting key time out");
                    m_shell.SetClosePortEnabled(true);
                    return Shell::KeyStep::kDone;
                case EntryStep::kConfirmed:
                    m_shell.SetClosePortEnabled(true);
                    m_shell.ShowStatus("succeed in the clear text key");
                    m_shell.EnableOperationButtons();
                    // The characters came from the pad: only a key value is kept.
                    shell::RecordPadKeys("The key part typed on the pad was loaded",
                                         PadEntryRecords(download.keyIndex, part, entry.text()),
                                         PadEntryLength(download.lengthCode));
                    return Shell::KeyStep::kDone;
                default:
                    return Shell::KeyStep::kMore;
            }
        });
    // Without a read entry there was no loop to keep the port open for.
    if (!ended && m_shell.Entries().PinPad_ReadOneByte == nullptr) {
        m_shell.SetClosePortEnabled(true);
    }
}

void KeyManagementPage::UpdateCheckValues() {
    const PartCheckValues values =
        CheckValuesOf(m_shell.Entries().PinPad_TriUntriDes, MixCode(),
                      SelectedEntry(comboPinLength), {Text(edPin1), Text(edPin2), Text(edPin3)});
    for (int i = 0; i < 3; ++i) m_partCheckValues[i]->setText(FromLatin1(values.parts[i]));
    m_keyCheckValue->setText(FromLatin1(values.combined));
}

// ---- Cipher-text keys ----

void KeyManagementPage::comboEncryptMarkChange() {
    QWidget* const keyControls[] = {comboDecipherNo, comboEnryptLength, edInputKeyToEncrypt,
                                    edEncrypKey};
    for (QWidget* control : keyControls) control->setEnabled(true);
    const SaveIndexes indexes = SaveIndexesOf(Text(comboEncryptMark), Text(comboEncryptNo));
    if (indexes.erase) {
        for (QWidget* control : keyControls) control->setEnabled(false);
        edInputKeyToEncrypt->clear();
        edEncrypKey->clear();
    }
    const QSignalBlocker blocker(comboEncryptNo);
    comboEncryptNo->clear();
    comboEncryptNo->addItems(shell::HexItems(indexes.first, indexes.last));
    ShowComboText(comboEncryptNo, FromLatin1(indexes.shown));
}

void KeyManagementPage::comboEncryptNoChange() {
    const QString value =
        FromLatin1(padlogic::KeyStore().CipherKey(Text(comboEncryptNo).substr(0, 2)));
    edInputKeyToEncrypt->setText(value);
    {
        const QSignalBlocker blocker(comboEnryptLength);
        comboEnryptLength->setCurrentIndex(CipherLengthEntry(value.size()));
    }
    comboEnryptLengthChange();
}

void KeyManagementPage::comboEnryptLengthChange() {
    const int limit = CipherTypingLimit(SelectedEntry(comboEnryptLength));
    shell::LimitTyping(edInputKeyToEncrypt, limit);
    shell::LimitTyping(edEncrypKey, limit);
}

void KeyManagementPage::btDownloadEncryptClick() {
    CipherKeyInput input;
    input.lengthPosition = SelectedEntry(comboEnryptLength);
    input.tagDigit = ChosenCode(comboEncryptMark);
    input.tagText = Text(comboEncryptMark);
    input.operatorVerifyCode = Text(Edit15);
    m_shell.BeginOperation();
    Edit15->clear();
    input.decryptionNo = Text(comboDecipherNo);
    input.saveNo = Text(comboEncryptNo);
    input.clearKey = Text(edInputKeyToEncrypt);
    input.cipherText = Text(edEncrypKey);
    input.parity = CheckBox1->isChecked();
    input.withVerify = IsVerify->isChecked();
    const CipherKeyDownload download =
        PlanCipherKeyDownload(input, m_shell.Entries().PinPad_TriUntriDes, padlogic::KeyStore());
    if (download.clearKeyField) edInputKeyToEncrypt->setText(FromLatin1(*download.clearKeyField));
    if (download.cipherField) edEncrypKey->setText(FromLatin1(*download.cipherField));
    if (download.refusal) return Refuse(*download.refusal);

    if (!SendEncryptKeyRequest(download.request,
                               "failure in downloading encryption text key,thefailure reason is:%s",
                               download.erase ? "succeed in clear the encryption text key"
                                              : "succeed in downloading the encryption text key"))
        return;
    shell::RecordKeys(download.erase ? "The key was cleared in the pad" : kKeyLoaded,
                      CipherKeyRecords(download, input.tagText, padlogic::KeyStore()));
}

// ---- Verify code, load-key authentication, password ----

void KeyManagementPage::Button4Click() {
    m_shell.BeginOperation();
    Edit15->clear();
    const auto plan = PlanVerifyCodeRead(Text(comboDecipherNo), Text(comboEncryptNo));
    if (const auto* refusal = std::get_if<Refusal>(&plan)) return Refuse(*refusal);
    SendEncryptKeyRequest(std::get<std::string>(plan),
                          "failure in Read Key Verify Code,thefailure reason is:%s",
                          "succeed in Read Key Verify Code");
}

bool KeyManagementPage::SendEncryptKeyRequest(const std::string& request, const char* failureFormat,
                                              const char* successText) {
    auto downloadEncryptKey = m_shell.Entries().PinPad_DownloadEncryptKey;
    if (m_shell.RefuseUnbound(downloadEncryptKey,
                              "failure in selecting function PinPad_DownloadEncryptKey()"))
        return false;
    char reply[128] = {};
    const int result = m_shell.CallAfterReader([&] {
        return downloadEncryptKey(request.c_str(), static_cast<unsigned int>(request.size()),
                                  reply);
    });
    m_shell.EnableOperationButtons();
    reply[sizeof reply - 1] = '\0';
    if (result != 0) {
        // The operator may have typed into the field while the pad was being waited for.
        Edit15->clear();
        m_shell.ShowFailure(failureFormat, result);
        return false;
    }
    m_shell.ShowStatus(successText);
    Edit15->setText(QString::fromLatin1(reply));
    return true;
}

void KeyManagementPage::AuthenticateClick() {
    // The key-loop flags stay as they are: an entry running on the pad goes on.
    char challenge[128] = {};
    if (!m_shell.FetchChallenge(challenge, sizeof challenge)) return;
    const std::string authKey = padlogic::KeyStore().AuthData();
    char response[100] = {};
    const std::string enciphered =
        padlogic::Encipher(m_shell.Entries().PinPad_TriUntriDes, challenge, authKey);
    enciphered.copy(response, sizeof response - 1);
    auto loadKeyAuthenticate = m_shell.Entries().PinPad_LoadKeyAuthenticate;
    if (m_shell.RefuseUnbound(loadKeyAuthenticate)) return;
    char reply[256] = {};
    const int result =
        m_shell.GuardedCall([&] { return loadKeyAuthenticate(response, 32, reply); });
    m_shell.EnableOperationButtons();
    if (result != 0) {
        m_shell.ShowFailure(" LoadKey authorization failure,failure reason is:%s", result);
        return;
    }
    m_shell.ShowStatus("LoadKey authorization succeed");
}

void KeyManagementPage::EnterPasswordClick() {
    m_shell.padInputClosed = 0;
    m_shell.ShowStatus("");
    m_shell.DisableOperationButtons();
    PWD->clear();
    m_pinPage.ClearPinResults();
    const QString request = Hint->currentText().left(1) + KeyLength->currentText().left(2) +
                            CR->currentText().left(1) + Clear->currentText().left(1);
    const int clearCode = Clear->currentText().toInt();
    const int digitLimit = KeyLength->currentText().toInt();
    auto enablePin = m_shell.Entries().PinPad_EnablePin;
    if (m_shell.RefuseUnbound(enablePin)) return;
    // The password entry leaves the other loops' flags alone, so an open clear-text reader
    // would go on reading and take the entry's key presses: it ends before the pad is asked.
    m_shell.StopReaderThread();
    const QByteArray text = request.toLatin1();
    const int result = m_shell.CallAfterReader(
        [&] { return enablePin(text.constData(), static_cast<unsigned int>(text.size())); });
    m_pinPage.SetPin2Mode(true);
    m_shell.EnableOperationButtons();
    if (result != 0) {
        m_shell.ShowFailure(operations::kPinEntryStartFailure, result);
        return;
    }
    m_shell.ShowStatus(operations::kPinEntryStarted);
    using operations::StarEcho;
    StarEcho echo(StarEcho::BackspaceForClearCode(clearCode), digitLimit);
    // Enter finishes the entry, and so does the digit limit reached.
    operations::RunStarEchoEntry(m_shell, echo, PWD,
                                 {[](unsigned char byte) {
                                      return QString(byte == shell::kPadEnter
                                                         ? operations::kPinEntryFinished
                                                         : "user finish inputting the password ");
                                  },
                                  {}});
}

}  // namespace keys
