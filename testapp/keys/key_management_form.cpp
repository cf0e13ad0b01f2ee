// The key management page's controls: made, named and limited, laid out, and connected to the
// handlers (which are in key_management_page.cpp).
#include <QCompleter>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "key_controls.h"
#include "key_management_page.h"
#include "key_tables.h"
#include "page_layout.h"

namespace keys {
namespace {

using shell::Shell;

constexpr const char* kTestKey = "7E4D19C0A2F6385D0C9E7F2A64F3D8350A6E2C97F4D3836E";

// Typed text stays as typed: leaving the list does not turn "1f" into its entry "1F".
QComboBox* MakeTextCombo(const char* name, QWidget* parent, const QStringList& items,
                         const QString& text) {
    QComboBox* combo = shell::MakeCombo(name, parent, items, text);
    combo->completer()->setCaseSensitivity(Qt::CaseSensitive);
    return combo;
}

// A list whose entries carry the codes they stand for as item data.
QComboBox* MakeCodeCombo(const char* name, QWidget* parent,
                         const std::vector<std::pair<QString, QVariant>>& entries,
                         const QString& text) {
    QStringList items;
    for (const auto& entry : entries) items << entry.first;
    QComboBox* combo = MakeTextCombo(name, parent, items, text);
    for (int i = 0; i < combo->count(); ++i) combo->setItemData(i, entries[i].second);
    return combo;
}

std::vector<std::pair<QString, QVariant>> CombinationCodeEntries() {
    std::vector<std::pair<QString, QVariant>> entries;
    entries.reserve(padlogic::kCombinationCodes.size());
    for (const padlogic::CombinationCode& entry : padlogic::kCombinationCodes)
        entries.emplace_back(QString::asprintf("%02X", entry.code), entry.code);
    return entries;
}

// The tags with their digits, and the erase choice, which has none.
std::vector<std::pair<QString, QVariant>> KeyTagEntries() {
    std::vector<std::pair<QString, QVariant>> entries;
    entries.reserve(padlogic::kKeyTags.size() + 1);
    for (const padlogic::KeyTag& tag : padlogic::kKeyTags)
        entries.emplace_back(QString::fromLatin1(tag.name), tag.digit);
    entries.emplace_back(QString::fromLatin1(padlogic::kEraseTag), QVariant());
    return entries;
}

// Hex keys are read and compared column by column: a fixed-width font, wide enough for the
// longest text the control holds.
void ShowAsKeyText(QWidget* widget, int characters) {
    widget->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    widget->setMinimumWidth(widget->fontMetrics().horizontalAdvance(QString(characters, '0')) + 12);
}

QLineEdit* MakeKeyEdit(const char* name, QWidget* parent, int characters = 48) {
    QLineEdit* edit = shell::MakeEdit(name, parent);
    ShowAsKeyText(edit, characters);
    return edit;
}

// How the program computes the check values it shows.
constexpr const char* kCheckValueExplained =
    "Computed on this computer: the first 8 hex characters of the key enciphering sixteen '0' "
    "characters. A pad that derives its verify code in another way shows a different one.";

QLabel* MakeCheckValueLabel(const char* name, const QString& accessibleName, QWidget* parent) {
    auto* label = shell::Named<QLabel>(name, parent);
    // An empty label would be announced by its group's title.
    label->setAccessibleName(accessibleName);
    label->setToolTip(kCheckValueExplained);
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
    comboKeyNo = MakeTextCombo("comboKeyNo", group, shell::HexItems(0x00, 0x1F), "00");
    shell::LimitTyping(comboKeyNo->lineEdit(), 2);
    comboMixCode = MakeCodeCombo("comboMixCode", group, CombinationCodeEntries(), "30");
    comboPinLength =
        MakeTextCombo("comboPinLength", group, KeyLengthItems(padlogic::kKeyLengths), "8");
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
    for (int i = 0; i < 3; ++i) {
        m_partCheckValues[i] = MakeCheckValueLabel(
            checkNames[i], QStringLiteral("check value of key part %1").arg(i + 1), group);
    }
    m_keyCheckValue =
        MakeCheckValueLabel("CheckValueKey", "check value of the combined key", group);
    m_verifyCodeDiffers = shell::Named<QLabel>(
        "VerifyCodeDiffers", group, QString::fromUtf8("\u2260 differs from the verify code"));
    m_verifyCodeDiffers->setStyleSheet("QLabel { color: #c00000; font-weight: bold; }");
    m_verifyCodeDiffers->setToolTip(kCheckValueExplained);
    m_verifyCodeDiffers->setAccessibleDescription(kCheckValueExplained);
    m_verifyCodeDiffers->hide();

    connect(comboMixCode, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboMixCodeChange, comboMixCode));
    connect(comboPinLength, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboPinLengthChange, comboPinLength));
    connect(comboKeyNo, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboKeyNoChange, comboKeyNo));
    m_shell.OnClick(btDownloadKey, this, &KeyManagementPage::btDownloadKeyClick);
    m_shell.OnClick(Button3, this, &KeyManagementPage::Button3Click);
    for (QLineEdit* part : {edPin1, edPin2, edPin3}) {
        connect(part, &QLineEdit::textChanged, this,
                m_shell.Handler(this, &KeyManagementPage::UpdateCheckValues, part));
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
    grid->addWidget(m_verifyCodeDiffers, 4, 3);
    grid->setColumnStretch(3, 1);

    auto* layout = new QVBoxLayout(group);
    layout->addLayout(top);
    layout->addLayout(grid);
    return group;
}

QWidget* KeyManagementPage::BuildCipherKeyGroup() {
    auto* group = new QGroupBox("ciphertext key", this);
    comboDecipherNo = MakeTextCombo("comboDecipherNo", group, shell::HexItems(0x00, 0x3F), "00");
    comboEncryptNo = MakeTextCombo("comboEncryptNo", group, shell::HexItems(0x10, 0x3F), "10");
    shell::LimitTyping(comboDecipherNo->lineEdit(), 2);
    shell::LimitTyping(comboEncryptNo->lineEdit(), 2);
    comboEncryptMark = MakeCodeCombo("comboEncryptMark", group, KeyTagEntries(),
                                     QString::fromLatin1(padlogic::kMasterKeyTag));
    comboEnryptLength =
        MakeTextCombo("comboEnryptLength", group, KeyLengthItems(padlogic::kKeyLengths), "8");
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
            m_shell.Handler(this, &KeyManagementPage::comboEncryptMarkChange, comboEncryptMark));
    connect(comboEncryptNo, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboEncryptNoChange, comboEncryptNo));
    connect(comboEnryptLength, &QComboBox::currentTextChanged, this,
            m_shell.Handler(this, &KeyManagementPage::comboEnryptLengthChange, comboEnryptLength));
    m_shell.OnClick(btDownloadEncrypt, this, &KeyManagementPage::btDownloadEncryptClick);
    m_shell.OnClick(Button4, this, &KeyManagementPage::Button4Click);

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
    m_shell.OnClick(EnterPassword, this, &KeyManagementPage::EnterPasswordClick);
    m_shell.OnClick(Authenticate, this, &KeyManagementPage::AuthenticateClick);

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

}  // namespace keys
