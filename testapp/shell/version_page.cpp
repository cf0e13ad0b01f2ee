#include "version_page.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cstring>

#include "key_recording.h"
#include "page_layout.h"
#include "reply_fields.h"

namespace shell {
namespace {

constexpr int kAuthTextLength = 32;

QLineEdit* MakeDisplayEdit(const char* name, QWidget* parent) {
    QLineEdit* edit = MakeEdit(name, parent);
    edit->setEnabled(false);
    return edit;
}

QLabel* RedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setStyleSheet("color: red;");
    return label;
}

}  // namespace

VersionPage::VersionPage(Shell& shell, QWidget* parent) : QWidget(parent), m_shell(shell) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildVersionGroup());
    layout->addWidget(BuildAuthenticationGroup());
    layout->addStretch();
}

QWidget* VersionPage::BuildVersionGroup() {
    auto* group = new QGroupBox("version information", this);
    edRemark = MakeDisplayEdit("edRemark", group);
    edProductType = MakeDisplayEdit("edProductType", group);
    edHardwareVersion = MakeDisplayEdit("edHardwareVersion", group);
    edSoftwareVersion = MakeDisplayEdit("edSoftwareVersion", group);
    edDate = MakeDisplayEdit("edDate", group);
    edProductNO = MakeDisplayEdit("edProductNO", group);
    btGetVersion = m_shell.MakeOperationButton("btGetVersion", "read ver information", group);
    Button1 = Named<QPushButton>("Button1", group, "clear information");
    m_shell.OnClick(btGetVersion, this, &VersionPage::btGetVersionClick);
    m_shell.OnClick(Button1, this, &VersionPage::Button1Click);

    auto* grid = new QGridLayout(group);
    const std::pair<const char*, QLineEdit*> fields[] = {
        {"product model:", edProductType},        {"hardware ver:", edHardwareVersion},
        {"firmware version:", edSoftwareVersion}, {"Date Code:", edDate},
        {"series number:", edProductNO},          {"description code:", edRemark}};
    int index = 0;
    for (const auto& [caption, edit] : fields) {
        const int row = index / 3;
        const int column = (index % 3) * 2;
        grid->addWidget(MakeCaption(caption, edit, group), row, column);
        grid->addWidget(edit, row, column + 1);
        ++index;
    }
    grid->addWidget(btGetVersion, 0, 6);
    grid->addWidget(Button1, 1, 6);
    return group;
}

QWidget* VersionPage::BuildAuthenticationGroup() {
    auto* group = new QGroupBox("authentication", this);
    edAuthorizationData = MakeEdit("edAuthorizationData", group, kAuthTextLength);
    edReturnAuthorization = MakeDisplayEdit("edReturnAuthorization", group);
    ComboInitKey = MakeCombo("ComboInitKey", group, HexItems(0x00, 0x7F), "00");
    AuthRandom = MakeEdit("AuthRandom", group, kAuthTextLength);
    AuthRandom->setReadOnly(true);
    ComboBox4 = MakeCombo("ComboBox4", group, {"1", "2", "3"}, "1");
    auth_password = MakeEdit("auth_password", group, kAuthTextLength);
    btInitAuthorization =
        m_shell.MakeOperationButton("btInitAuthorization", "initialize attestation", group);
    btBidirectionAuthorization = m_shell.MakeOperationButton("btBidirectionAuthorization",
                                                             "Both sides Authentication ", group);
    SetPassword = Named<QPushButton>("SetPassword", group, "Set Password");
    m_shell.OnClick(btInitAuthorization, this, &VersionPage::btInitAuthorizationClick);
    m_shell.OnClick(btBidirectionAuthorization, this,
                    &VersionPage::btBidirectionAuthorizationClick);
    m_shell.OnClick(SetPassword, this, &VersionPage::Button7Click);

    auto* grid = new QGridLayout(group);
    grid->addWidget(MakeCaption("input UID:", edAuthorizationData, group), 0, 0);
    grid->addWidget(edAuthorizationData, 0, 1);
    grid->addWidget(MakeCaption("Key index:", ComboInitKey, group), 0, 2);
    grid->addWidget(ComboInitKey, 0, 3);
    grid->addWidget(btInitAuthorization, 0, 4);
    grid->addWidget(MakeCaption("Random:", AuthRandom, group), 1, 0);
    grid->addWidget(AuthRandom, 1, 1);
    grid->addWidget(btBidirectionAuthorization, 1, 4);
    grid->addWidget(MakeCaption("return information:", edReturnAuthorization, group), 2, 0);
    grid->addWidget(edReturnAuthorization, 2, 1);
    // The row's one caption, "password", stands before the index and the password typed beside
    // it; both are named by it, told apart by their kind and description.
    grid->addWidget(MakeCaption("password", ComboBox4, group), 3, 0);
    auth_password->setAccessibleName("password");
    auth_password->setAccessibleDescription("the password, 32 hexadecimal characters");
    ComboBox4->setAccessibleDescription("the password's index");
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(ComboBox4);
    passwordRow->addWidget(auth_password, 1);
    grid->addLayout(passwordRow, 3, 1, 1, 3);
    grid->addWidget(SetPassword, 3, 4);
    auto* attention = new QVBoxLayout;
    attention->addWidget(RedLabel("Attention:", group));
    attention->addWidget(RedLabel("once initialized, the attestation must be done when ", group));
    attention->addWidget(RedLabel("every Power on, otherwise it cannot work.", group));
    grid->addLayout(attention, 4, 0, 1, 5);
    grid->setColumnStretch(1, 1);
    return group;
}

void VersionPage::LoadAuthorizationData() {
    edAuthorizationData->setText(QString::fromLatin1(padlogic::KeyStore().AuthData()));
}

void VersionPage::btGetVersionClick() {
    const Operation read = Operation::Standard(btGetVersion).Unbound("invalied function");
    m_shell.Begin(read);
    QLineEdit* const fields[] = {edRemark,          edProductType, edHardwareVersion,
                                 edSoftwareVersion, edDate,        edProductNO};
    for (QLineEdit* field : fields) field->clear();
    char reply[kCustInfoReplySize] = {};
    const int result = m_shell.Run(read, m_shell.Entries().PinPad_GetCustInfo,
                                   [&](auto getCustInfo) { return getCustInfo(reply); });
    if (result == kEntryUnbound) return;
    if (result != 0 && result != PINPAD_LOW_BATTERY) {
        m_shell.ShowFailure("failure in user information reading,the failure reason is:%s", result);
        return;
    }
    if (result == PINPAD_LOW_BATTERY) m_shell.ShowFailure("read the user information:%s", result);
    const ReplyRange ranges[] = {kRemarkRange,          kProductTypeRange, kHardwareVersionRange,
                                 kSoftwareVersionRange, kDateRange,        kProductNoRange};
    for (int i = 0; i < 6; ++i) fields[i]->setText(ReplyField(reply, ranges[i]));
    if (result == 0) m_shell.ShowStatus("succeed in implementation");
}

void VersionPage::Button1Click() {
    for (QLineEdit* field : {edProductType, edHardwareVersion, edSoftwareVersion, edDate,
                             edProductNO, edRemark, edAuthorizationData, edReturnAuthorization}) {
        field->clear();
    }
}

void VersionPage::btInitAuthorizationClick() {
    m_shell.MarkPadInputClosed();
    char data[kAuthTextSize] = {};
    std::strncpy(data, edAuthorizationData->text().toLatin1().constData(), sizeof data - 1);
    if (std::strlen(data) != kAuthTextLength) {
        // The pad's challenge serves as authorization data when none was typed.
        std::memset(data, 0, sizeof data);
        if (!m_shell.FetchChallenge(data, sizeof data)) return;
    }
    edAuthorizationData->setText(QString::fromLatin1(data));
    // The pad input flag stays as whatever ran while the challenge was awaited left it.
    const Operation init = Operation::WithoutReaderWait(btInitAuthorization)
                               .Starting({false, true, true, true})
                               .Texts(" initial authorization failure,failure reason is:%s",
                                      "initial authorization succeed");
    m_shell.Begin(init);
    if (std::strlen(data) != kAuthTextLength) {
        return m_shell.Refuse("authorization  data must be 16-bytes", edAuthorizationData);
    }
    char output[kAuthReplySize] = {};
    const int result = m_shell.Run(
        init, m_shell.Entries().PinPad_InitAuthorization,
        [&](auto initAuthorization) { return initAuthorization(data, kAuthTextLength, output); });
    if (result != 0) return;
    output[sizeof output - 1] = '\0';
    // The next start fills the field from this record; the data of an earlier initialisation
    // must not stay in it, whatever the pad sent.
    RecordPadKeys("The authorization data was initialized on the pad",
                  padlogic::KeyRecords().AuthData(output));
}

void VersionPage::btBidirectionAuthorizationClick() {
    const Operation authenticate =
        Operation::WithoutReaderWait(btBidirectionAuthorization)
            .Texts("bi-directonal authorization failure,failure reason is:%s",
                   "bi-directonal authorization ok");
    m_shell.Begin(authenticate);
    char data[kAuthTextSize] = {};
    std::strncpy(data, edAuthorizationData->text().toLatin1().constData(), sizeof data - 1);
    char random[kAuthTextSize] = {};
    if (!m_shell.FetchChallenge(random, sizeof random)) return;
    AuthRandom->setText(QString::fromLatin1(random));
    const unsigned int randomLength = static_cast<unsigned int>(std::strlen(random));
    if (randomLength != kAuthTextLength) {
        return m_shell.Refuse("authorization  data must be 16-bytes", edAuthorizationData);
    }
    char keyIndex[3] = {};
    std::strncpy(keyIndex, ComboInitKey->currentText().toLatin1().constData(), 2);
    if (!padlogic::KeyStore().HoldsKey(keyIndex)) {
        m_shell.ShowStatus(
            "matched key which hasn't been downloaded,please download the matched key");
        m_shell.EnableOperationButtons();
        return;
    }
    char output[kAuthReplySize] = {};
    const int result = m_shell.Run(
        authenticate, m_shell.Entries().PinPad_BidirectionalAuthorization,
        [&](auto authorize) { return authorize(data, randomLength, keyIndex, random, output); });
    if (result != 0) return;
    output[sizeof output - 1] = '\0';
    edReturnAuthorization->setText(QString::fromLatin1(output));
}

void VersionPage::Button7Click() {
    const int index = StrToInt(ComboBox4->currentText());
    if (index < 0 || index > 3) {
        m_shell.ShowStatus("Invalid password index");
        return;
    }
    const Operation setPassword = Operation::WithoutReaderWait(SetPassword)
                                      .Texts(" initial authorization failure,failure reason is:%s",
                                             "initial authorization succeed");
    m_shell.Begin(setPassword);
    char password[kAuthTextSize] = {};
    std::strncpy(password, auth_password->text().toLatin1().constData(), sizeof password - 1);
    if (std::strlen(password) != kAuthTextLength) {
        return m_shell.Refuse("authorization  data must be 16-bytes", auth_password);
    }
    char output[kAuthReplySize] = {};
    m_shell.Run(setPassword, m_shell.Entries().PinPad_SetPassword,
                [&](auto entry) { return entry(index, password, kAuthTextLength, output); });
}

}  // namespace shell
