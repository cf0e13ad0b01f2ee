#include "key_management_page.h"

#include <QSignalBlocker>

#include "check_value.h"
#include "key_controls.h"
#include "key_recording.h"
#include "key_tables.h"
#include "pad_bytes.h"
#include "pad_entry.h"
#include "page_layout.h"
#include "pin_page.h"
#include "star_echo_entry.h"

namespace keys {
namespace {

// The verify code reply, with room over the driver's PINPAD_VERIFY_CODE_SIZE for an entry library
// that writes more.
constexpr std::size_t kVerifyCodeReplySize = 128;
static_assert(kVerifyCodeReplySize >= PINPAD_VERIFY_CODE_SIZE);
// The enciphered challenge sent back to the pad.
constexpr std::size_t kResponseTextSize = 100;

using shell::Operation;
using shell::Shell;

// What a key store record that failed was to keep.
const QString kKeyLoaded = "The key was loaded into the pad";

}  // namespace

QWidget* KeyManagementPage::FocusOf(Field field) const {
    // In the order Field names them.
    QWidget* const controls[] = {nullptr,    comboKeyNo,      edPin1,         edPin2,
                                 edPin3,     comboDecipherNo, comboEncryptNo, edInputKeyToEncrypt,
                                 edEncrypKey};
    static_assert(sizeof controls / sizeof controls[0] == static_cast<int>(Field::kCipherKey) + 1);
    return controls[static_cast<int>(field)];
}

void KeyManagementPage::Refuse(const Refusal& refusal) {
    m_shell.Refuse(QString::fromStdString(refusal.message), FocusOf(refusal.focus));
}

// ---- Clear-text keys ----

void KeyManagementPage::comboMixCodeChange() {
    const std::optional<int> code = ChosenCode(comboMixCode);
    ShowKeyLengths(comboPinLength, KeyLengthsOfCode(code));
    QLineEdit* const parts[3] = {edPin1, edPin2, edPin3};
    if (!code) {
        for (QLineEdit* part : parts) part->setEnabled(false);
        m_shell.ShowStatus("this combination code has been cancelled in  use");
        comboPinLengthChange();
        return;
    }
    const ClearKeyLayout layout = LayoutOfCode(*code);
    btDownloadKey->setEnabled(!layout.onPad);
    Button3->setEnabled(layout.onPad);
    const QString caption = layout.onPad ? "Manually Input:" : "combined code:";
    Label23->setText(caption);
    shell::SetAccessibleCaption(comboMixCode, caption);
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
    const std::string keyIndex = Text(comboKeyNo).substr(0, 2);
    const padlogic::KeyStore store;
    const std::array<std::string, 3> parts = store.ClearParts(keyIndex);
    QLineEdit* const fields[3] = {edPin1, edPin2, edPin3};
    for (int i = 0; i < 3; ++i) fields[i]->setText(FromLatin1(parts[i]));
    const RecalledKey key = RecallClearKey(parts, store.ClearCode(keyIndex));
    for (int i = 0; i < key.enabledParts; ++i) fields[i]->setEnabled(true);
    {
        const QSignalBlocker codeBlocker(comboMixCode);
        const QSignalBlocker lengthBlocker(comboPinLength);
        comboMixCode->setCurrentIndex(comboMixCode->findData(key.code));
        // The code the key was loaded with brings its own lengths (33: only 24 bytes).
        if (key.recorded) ShowKeyLengths(comboPinLength, KeyLengthsOfCode(key.code));
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
    const Operation download = Operation::ButtonsBeforeCall(onPad ? Button3 : btDownloadKey)
                                   .Unbound("failure in selecting function PinPad_DownloadKey()");
    m_shell.Begin(download);
    // The announcement of a key typed on the pad opens an input mode on the pad.
    if (onPad) m_shell.MarkPadInputOpen();
    edDownLoadKeyRetValue->clear();
    m_verifyCodeDiffers->hide();
    const auto plan = PlanClearKeyDownload(input);
    if (const auto* refusal = std::get_if<Refusal>(&plan)) return Refuse(*refusal);
    const ClearKeyDownload& planned = std::get<ClearKeyDownload>(plan);

    char reply[kVerifyCodeReplySize] = {};
    const int result =
        m_shell.Run(download, m_shell.Entries().PinPad_DownloadKey, [&](auto downloadKey) {
            return downloadKey(planned.request.c_str(),
                               static_cast<unsigned int>(planned.request.size()), reply, 0);
        });
    if (result == shell::kEntryUnbound) return;
    reply[sizeof reply - 1] = '\0';
    QLineEdit* const fields[3] = {edPin1, edPin2, edPin3};
    for (int i = 0; i < 3; ++i) fields[i]->setText(FromLatin1(planned.parts[i]));
    if (result != 0) {
        edDownLoadKeyRetValue->clear();
        m_shell.ShowFailure("failure in downloading clear text key,the failure reason is:%s",
                            result);
        return;
    }
    if (planned.recorded) {
        m_shell.ShowStatus("succeed in downloading the clear text key");
        edDownLoadKeyRetValue->setText(QString::fromLatin1(reply));
        m_shell.EnableOperationButtons();
        m_verifyCodeDiffers->setVisible(
            VerifyCodeDiffers(m_shell.Entries().PinPad_TriUntriDes, planned, reply));
        shell::RecordKeys(kKeyLoaded, ClearKeyRecords(planned));
        return;
    }
    if (onPad) return RunPadKeyEntry(planned, false);
    if (padlogic::IsPadEntryCode(planned.code)) {
        m_shell.MarkPadInputOpen();
        RunPadKeyEntry(planned, true);
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
        [this] { return m_shell.PadInputClosed(); },
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
                    // Whatever the pad sent replaces the part, and the mask the value: the key
                    // loaded before is gone.
                    shell::RecordPadKeys(
                        "The key part typed on the pad was loaded",
                        PadEntryRecords(download.keyIndex, download.code, entry.text()));
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
    const QString combined = FromLatin1(values.combined);
    // A note about another key than the one now in the fields would mislead.
    if (m_keyCheckValue->text() != combined) m_verifyCodeDiffers->hide();
    m_keyCheckValue->setText(combined);
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
    m_shell.Begin(Operation::Standard(btDownloadEncrypt));
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
    shell::RecordKeys(
        download.erase ? "The key was cleared in the pad" : kKeyLoaded,
        padlogic::CipherKeyRecords(download.decryptionIndex, download.saveIndex, input.tagText,
                                   download.storedClear, padlogic::KeyStore()));
}

// ---- Verify code, load-key authentication, password ----

void KeyManagementPage::Button4Click() {
    m_shell.Begin(Operation::Standard(Button4));
    Edit15->clear();
    const auto plan = PlanVerifyCodeRead(Text(comboDecipherNo), Text(comboEncryptNo));
    if (const auto* refusal = std::get_if<Refusal>(&plan)) return Refuse(*refusal);
    SendEncryptKeyRequest(std::get<std::string>(plan),
                          "failure in Read Key Verify Code,thefailure reason is:%s",
                          "succeed in Read Key Verify Code");
}

bool KeyManagementPage::SendEncryptKeyRequest(const std::string& request, const char* failureFormat,
                                              const char* successText) {
    char reply[kVerifyCodeReplySize] = {};
    const Operation send =
        Operation::Standard().Unbound("failure in selecting function PinPad_DownloadEncryptKey()");
    const int result = m_shell.Run(
        send, m_shell.Entries().PinPad_DownloadEncryptKey, [&](auto downloadEncryptKey) {
            return downloadEncryptKey(request.c_str(), static_cast<unsigned int>(request.size()),
                                      reply);
        });
    if (result == shell::kEntryUnbound) return false;
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
    char challenge[shell::kAuthTextSize] = {};
    if (!m_shell.FetchChallenge(challenge, sizeof challenge)) return;
    const std::string authKey = padlogic::KeyStore().AuthData();
    char response[kResponseTextSize] = {};
    const std::string enciphered =
        padlogic::Encipher(m_shell.Entries().PinPad_TriUntriDes, challenge, authKey);
    enciphered.copy(response, sizeof response - 1);
    char reply[shell::kAuthReplySize] = {};
    const Operation authenticate = Operation::WithoutReaderWait(Authenticate)
                                       .Starting({false, false, false, false})
                                       .Texts(" LoadKey authorization failure,failure reason is:%s",
                                              "LoadKey authorization succeed");
    m_shell.Run(authenticate, m_shell.Entries().PinPad_LoadKeyAuthenticate,
                [&](auto loadKeyAuthenticate) { return loadKeyAuthenticate(response, 32, reply); });
}

void KeyManagementPage::EnterPasswordClick() {
    // The other loops' flags stay as they are; the pad's input is open from here on.
    const Operation enter =
        Operation::AfterStoppingReader(EnterPassword).Starting({false, false, true, true});
    m_shell.MarkPadInputOpen();
    m_shell.Begin(enter);
    PWD->clear();
    m_pinPage.ClearPinResults();
    const QString request = Hint->currentText().left(1) + KeyLength->currentText().left(2) +
                            CR->currentText().left(1) + Clear->currentText().left(1);
    const int clearCode = Clear->currentText().toInt();
    const int digitLimit = KeyLength->currentText().toInt();
    // The password entry leaves the other loops' flags alone, so an open clear-text reader
    // would go on reading and take the entry's key presses: it ends before the pad is asked.
    const QByteArray text = request.toLatin1();
    const int result = m_shell.Run(enter, m_shell.Entries().PinPad_EnablePin, [&](auto enablePin) {
        return enablePin(text.constData(), static_cast<unsigned int>(text.size()));
    });
    if (result == shell::kEntryUnbound) return;
    m_pinPage.SetPin2Mode(true);
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
