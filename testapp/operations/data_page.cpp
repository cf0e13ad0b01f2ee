#include "data_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "data_requests.h"
#include "page_layout.h"

namespace operations {
namespace {

constexpr int kMemoLimit = 2048;
constexpr int kCipherBlockCharacters = 16;
constexpr std::size_t kReplySize = PINPAD_DATA_REPLY_SIZE;

// The texts of one direction.
struct CipherTexts {
    const char* empty;
    const char* notHex;
    const char* length;
    const char* wait;
    const char* success;
    const char* failure;
};

constexpr CipherTexts kEncryptTexts = {
    "data which need to encrypted won't be vacant",
    "data which need to encrypted must be HEX characters",
    "data length which need to encrypted must be 16 times",
    "Data Encrpytion,please wait...",
    "encryption ok",
    "encryption failure,the failure reason is:%s",
};
constexpr CipherTexts kDecryptTexts = {
    "data which need to decrypted won't be vacant",
    "data which need to decrypted must be HEX characters",
    "data length which need to decrypted must be 16 times",
    "Data Decryptions,please wait...",
    "decryption ok",
    "decryption failure,the failure reason is:%s",
};

}  // namespace

DataPage::DataPage(shell::Shell& shell, QWidget* parent) : QWidget(parent), m_shell(shell) {
    comboKeyIndex = shell::MakeCombo("comboKeyIndex", this, shell::HexItems(0x30, 0x7F), "40");
    shell::LimitTyping(comboKeyIndex->lineEdit(), 2);
    comboEncryptType = shell::MakeCombo("comboEncryptType", this, {"ECB", "CBC"}, "ECB", false);
    memoInputData = shell::MakeMemo("memoInputData", this, kMemoLimit);
    memoOutput = shell::MakeMemo("memoOutput", this, kMemoLimit);
    btEncryptData = m_shell.MakeOperationButton("btEncryptData", "Data Encrpytion", this);
    btDecipherData = m_shell.MakeOperationButton("btDecipherData", "Data Decryptions", this);
    btCleanUp = shell::Named<QPushButton>("btCleanUp", this, "Clear");
    m_shell.OnClick(btEncryptData, this, &DataPage::btEncryptDataClick);
    m_shell.OnClick(btDecipherData, this, &DataPage::btDecipherDataClick);
    m_shell.OnClick(btCleanUp, this, &DataPage::btCleanUpClick);

    auto* settings = new QHBoxLayout;
    settings->addWidget(shell::MakeCaption("Key index:", comboKeyIndex, this));
    settings->addWidget(comboKeyIndex);
    settings->addSpacing(24);
    settings->addWidget(shell::MakeCaption("arithmetic type:", comboEncryptType, this));
    settings->addWidget(comboEncryptType);
    settings->addStretch();
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(btEncryptData);
    buttons->addWidget(btDecipherData);
    buttons->addWidget(btCleanUp);
    buttons->addStretch();

    auto* grid = new QGridLayout(this);
    grid->addLayout(settings, 0, 0, 1, 2);
    grid->addWidget(shell::MakeCaption("ciphertext/cleartext(HEX):", memoInputData, this), 1, 0);
    grid->addWidget(memoInputData, 2, 0);
    grid->addWidget(shell::MakeCaption("Return Clphertext/Cleartext(HEX):", memoOutput, this), 3,
                    0);
    grid->addWidget(memoOutput, 4, 0);
    grid->addLayout(buttons, 2, 1, 3, 1);
    grid->setColumnStretch(0, 1);
}

void DataPage::InitPageDefaults() {
    memoOutput->setPlainText("");
    memoInputData->setPlainText("");
    comboEncryptType->setCurrentIndex(0);
}

void DataPage::btEncryptDataClick() { RunCipher(false); }

void DataPage::btDecipherDataClick() { RunCipher(true); }

void DataPage::RunCipher(bool decrypt) {
    const CipherTexts& texts = decrypt ? kDecryptTexts : kEncryptTexts;
    const shell::Operation cipher =
        shell::Operation::Standard(decrypt ? btDecipherData : btEncryptData)
            .Texts(texts.failure, texts.success);
    m_shell.Begin(cipher);
    memoOutput->clear();
    const QString keyText = comboKeyIndex->currentText();
    if (!IsWorkingKeyIndex(ParseKeyIndex(keyText))) {
        return m_shell.Refuse("invalid key no. value range:30-7F", comboKeyIndex);
    }
    const int mode = comboEncryptType->currentIndex();
    const QString data = WithoutBlanks(memoInputData->toPlainText());
    if (data.isEmpty()) return m_shell.Refuse(texts.empty, memoInputData);
    if (!IsHexText(data)) return m_shell.Refuse(texts.notHex, memoInputData);
    if (data.size() % kCipherBlockCharacters != 0) {
        return m_shell.Refuse(texts.length, memoInputData);
    }
    m_shell.ShowStatus(texts.wait);
    const QByteArray request =
        CipherRequest(keyText.toLatin1(), CipherModeCharacter(mode, decrypt), data.toLatin1());
    std::vector<char> reply(kReplySize, '\0');
    const int result = m_shell.Run(cipher, m_shell.Entries().PinPad_EncryptData, [&](auto entry) {
        return entry(request.constData(), static_cast<unsigned int>(request.size()), reply.data());
    });
    if (result != 0) return;
    reply.back() = '\0';
    memoOutput->setPlainText(QString::fromLatin1(reply.data()));
}

void DataPage::btCleanUpClick() {
    memoOutput->clear();
    m_shell.ShowStatus("");
    memoInputData->clear();
}

}  // namespace operations
