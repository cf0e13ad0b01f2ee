// The cipher-text half of the key management page, the verify-code read, the load-key
// authentication and the password entry, against the real driver and a simulated pad.
#include <QApplication>
#include <QCheckBox>
#include <QtTest>

#include "key_page_support.h"
#include "pin_page.h"

using namespace testsupport;
using padsim::test::RefEncrypt;

namespace {

const QString kClear00 = "0123456789ABCDEFFEDCBA9876543210";  // the decryption key at 00
// A key whose bytes need the odd parity adjustment, and the key after it (worked out by hand).
const QString kEvenKey = "000102030405060708090A0B0C0D0E0F";
const QString kAdjusted = "010102020404070708080B0B0D0D0E0E";
// Keys with odd parity in every byte, as the pad requires of deciphered keys.
const QString kOdd1 = "0E0E0D0D0B0B08080707040402020101";
const QString kOdd2 = "01010101010101010202020202020202";
const QString kOdd3 = "1010101010101010";

QString Encrypt(const QString& key, const QString& data) {
    return Q(RefEncrypt(Latin1(key), Latin1(data)));
}

// Loads `key` in clear at `keyNo` with code 30 through the page.
void LoadClearKey(const PadRig& rig, const QString& keyNo, const QString& key) {
    Choose(rig, "comboKeyNo", keyNo);
    Choose(rig, "comboMixCode", "30");
    rig.control<QComboBox>("comboPinLength")->setCurrentIndex(int(key.size()) / 16 - 1);
    rig.setText("edPin1", key);
    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), QString("succeed in downloading the clear text key"));
}

struct CipherForm {
    QString tag, dd, ss;
    int lengthEntry;
    QString clear, cipher, verify;
    bool parity = true, withVerify = true;
};

void Fill(const PadRig& rig, const CipherForm& form) {
    Choose(rig, "comboEncryptMark", form.tag);
    rig.setText("comboDecipherNo", form.dd);
    rig.setText("comboEncryptNo", form.ss);
    rig.control<QComboBox>("comboEnryptLength")->setCurrentIndex(form.lengthEntry);
    rig.setText("edInputKeyToEncrypt", form.clear);
    rig.setText("edEncrypKey", form.cipher);
    rig.setText("Edit15", form.verify);
    rig.control<QCheckBox>("CheckBox1")->setChecked(form.parity);
    rig.control<QCheckBox>("IsVerify")->setChecked(form.withVerify);
}

const QString kLoaded = "succeed in downloading the encryption text key";

struct RefusalRow {
    const char* name;
    CipherForm form;
    QString storedDecryptionKey;  // KEY_MINWEN 00_V
    const char* button;
    QString message;
    const char* focus;  // "sent": no refusal, the pad got the request
};

}  // namespace

Q_DECLARE_METATYPE(RefusalRow)

class KeysCipherTest : public QObject {
    Q_OBJECT
private slots:
    void keyChain();
    void refusals_data();
    void refusals();
    void tagChoosesTheSaveIndexes_data();
    void tagChoosesTheSaveIndexes();
    void loadKeyAuthentication_data();
    void loadKeyAuthentication();
    void passwordEntry_data();
    void passwordEntry();
    void secondPasswordEntrySupersedesTheFirst();
};

void KeysCipherTest::keyChain() {
    PadRig rig;
    QVERIFY(rig.openPort());
    LoadClearKey(rig, "00", kClear00);

    // A master key at 10 under the clear key at 00: parity adjusted, enciphered and checked here;
    // at 00-1F it also serves as a clear decryption key.
    Fill(rig, {"TMK", "00", "10", 1, kEvenKey, "", ""});
    rig.click("btDownloadEncrypt");
    QCOMPARE(rig.status(), kLoaded);
    const QString cipher = Encrypt(kClear00, kAdjusted);
    QCOMPARE(rig.countPayload(Latin1("2001022" + cipher + Kcv(kAdjusted))), std::size_t{1});
    QCOMPARE(rig.text("edInputKeyToEncrypt"), kAdjusted);
    QCOMPARE(rig.text("edEncrypKey"), cipher);
    QCOMPARE(rig.text("Edit15"), Kcv(kAdjusted));
    QCOMPARE(Stored("KEY_ENCRYPT", "10"), kAdjusted);
    QCOMPARE(Stored("KEY_MINWEN", "10_1"), kAdjusted);
    QCOMPARE(Stored("KEY_MINWEN", "10_V"), kAdjusted);
    QVERIFY(KeyStoreText(rig.folder).contains("10_2=\n"));

    // A PIN key at 30 under that master key, without verify code and adjustment.
    Fill(rig, {"TPK", "10", "30", 1, kOdd1, "", "", false, false});
    rig.click("btDownloadEncrypt");
    QCOMPARE(rig.countPayload(Latin1("2103032" + Encrypt(kAdjusted, kOdd1))), std::size_t{1});
    QCOMPARE(PadKey(rig, 0x30), kOdd1 + "/TPK");
    QCOMPARE(Stored("KEY_ENCRYPT", "30"), kOdd1);

    // A master key at 20-3F is no clear decryption key; its verify code read, then erased.
    Fill(rig, {"TMK", "00", "20", 1, kOdd2, "", ""});
    rig.click("btDownloadEncrypt");
    QCOMPARE(Stored("KEY_ENCRYPT", "20"), kOdd2);
    QVERIFY(!KeyStoreText(rig.folder).contains("20_"));
    rig.setText("Edit15", "stale");
    rig.click("Button4");
    QCOMPARE(rig.status(), QString("succeed in Read Key Verify Code"));
    QCOMPARE(rig.countPayload("2002000"), std::size_t{1});
    QCOMPARE(rig.text("Edit15"), Kcv(kOdd2));
    Choose(rig, "comboEncryptMark", "NOK");
    rig.click("btDownloadEncrypt");
    QCOMPARE(rig.status(), QString("succeed in clear the encryption text key"));
    QCOMPARE(rig.countPayload("20020010000000000000000"), std::size_t{1});
    QCOMPARE(PadKey(rig, 0x20), QString());
    QVERIFY(KeyStoreText(rig.folder).contains("\n20=\n"));

    // Only the cipher text and its verify code typed: the key store records the key mask. The
    // recalled mask is no clear key, so the same cipher text can go again.
    Fill(rig, {"TAK", "00", "31", 1, "", Encrypt(kClear00, kOdd1), Kcv(kOdd1)});
    const std::string request = Latin1("2003152" + Encrypt(kClear00, kOdd1) + Kcv(kOdd1));
    rig.click("btDownloadEncrypt");
    QCOMPARE(rig.status(), kLoaded);
    QCOMPARE(rig.countPayload(request), std::size_t{1});
    QCOMPARE(Stored("KEY_ENCRYPT", "31"), kMask);
    Choose(rig, "comboEncryptNo", "32");
    Choose(rig, "comboEncryptNo", "31");
    QCOMPARE(rig.text("edInputKeyToEncrypt"), kMask);
    QCOMPARE(rig.text("comboEnryptLength"), QString("8"));  // the mask's own length
    rig.control<QComboBox>("comboEnryptLength")->setCurrentIndex(1);
    rig.click("btDownloadEncrypt");
    QCOMPARE(rig.countPayload(request), std::size_t{2});

    // A master key loaded at its own decryption index replaces the clear parts there.
    Choose(rig, "comboKeyNo", "11");
    Choose(rig, "comboMixCode", "31");
    for (const char* name : {"edPin1", "edPin2", "edPin3"}) rig.setText(name, kOdd3);
    rig.click("btDownloadKey");
    QCOMPARE(Stored("KEY_MINWEN", "11_2"), kOdd3);
    Fill(rig, {"TMK", "11", "11", 0, kOdd2.left(16), "", ""});
    rig.click("btDownloadEncrypt");
    QCOMPARE(rig.status(), kLoaded);
    QCOMPARE(Stored("KEY_MINWEN", "11_1"), kOdd2.left(16));
    QCOMPARE(Stored("KEY_MINWEN", "11_2"), QString());
    QCOMPARE(Stored("KEY_MINWEN", "11_3"), QString());
    QCOMPARE(Stored("KEY_MINWEN", "11_V"), kOdd2.left(16));
}

void KeysCipherTest::refusals_data() {
    QTest::addColumn<RefusalRow>("row");
    const char* download = "btDownloadEncrypt";
    const QString c16(16, 'A');
    const QString ddRange = "invalid decryption key no. value range:00-3F";
    const QString ssRange = "invalid decryption key no value range:00-7F";
    const QString ddVacant = "decryption key no.won't be vacantvalue range:00-3F";
    const QString ssVacant = "save key no.won't be vacant value range:00-7F";
    const QString noClear = "No input cleartext Key,must be input ciphertext key";
    const RefusalRow rows[] = {
        {"DD empty",
         {"TMK", "", "10", 0, "", c16, "12345678"},
         "",
         download,
         ddVacant,
         "comboDecipherNo"},
        {"DD 40",
         {"TMK", "40", "10", 0, "", c16, "12345678"},
         "",
         download,
         ddRange,
         "comboDecipherNo"},
        {"DD one digit",
         {"TMK", "5", "10", 0, "", c16, "12345678"},
         "",
         download,
         ddRange,
         "comboDecipherNo"},
        {"SS empty",
         {"TMK", "00", "", 0, "", c16, "12345678"},
         "",
         download,
         ssVacant,
         "comboEncryptNo"},
        {"SS 80",
         {"TPK", "00", "80", 0, "", c16, "12345678"},
         "",
         download,
         ssRange,
         "comboEncryptNo"},
        {"3F and 7F go to the pad",
         {"TDSK", "3F", "7F", 0, "", c16, "12345678"},
         "",
         download,
         "failure in downloading encryption text key,thefailure reason is:Key index don't exist",
         "sent"},
        {"clear key, no decryption key",
         {"TMK", "00", "10", 0, kOdd3, "", ""},
         "",
         download,
         noClear,
         "edEncrypKey"},
        {"clear key, decryption key typed on the pad",
         {"TMK", "00", "10", 0, kOdd3, "", ""},
         kMask,
         download,
         noClear,
         "edEncrypKey"},
        {"clear key not hex",
         {"TMK", "00", "10", 0, "12G4567890ABCDEF", "", ""},
         kOdd3,
         download,
         "the clear text key must be hexadecimal(0-9,A-F)",
         "edInputKeyToEncrypt"},
        {"verify code of 7",
         {"TMK", "00", "10", 0, "", c16, "1234567"},
         "",
         download,
         "Verify code is must input(8 bytes)",
         "edEncrypKey"},
        {"no key",
         {"TMK", "00", "10", 0, "", "", "", true, false},
         "",
         download,
         "key won't be vacant",
         "edEncrypKey"},
        {"cipher too short",
         {"TMK", "00", "10", 1, "", c16, "", true, false},
         "",
         download,
         "key length is not enough",
         "edEncrypKey"},
        {"read, SS 80",
         {"TPK", "00", "80", 0, "", "", ""},
         "",
         "Button4",
         ssRange,
         "comboEncryptNo"},
        {"read, both empty",
         {"TMK", "", "", 0, "", "", ""},
         "",
         "Button4",
         ddVacant,
         "comboDecipherNo"},
        {"read, SS empty",
         {"TMK", "40", "", 0, "", "", ""},
         "",
         "Button4",
         ssVacant,
         "comboEncryptNo"},
    };
    for (const RefusalRow& row : rows) QTest::newRow(row.name) << row;
}

void KeysCipherTest::refusals() {
    QFETCH(RefusalRow, row);
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(ShowActive(rig));
    if (!row.storedDecryptionKey.isEmpty()) {
        WriteKeyStore("KEY_MINWEN", "00_V", Latin1(row.storedDecryptionKey).c_str());
    }
    Fill(rig, row.form);
    rig.control("comboEncryptMark")->setFocus();
    rig.control<QPushButton>(row.button)->click();
    QCOMPARE(rig.status(), row.message);
    QVERIFY(rig.control(row.button)->isEnabled());
    const bool sent = QByteArray(row.focus) == "sent";
    QCOMPARE(rig.requests(), std::uint64_t{sent ? 1u : 0u});
    if (sent) return;
    QCOMPARE(QApplication::focusWidget(), rig.control(row.focus));
    QCOMPARE(rig.text("Edit15"), QString());
}

void KeysCipherTest::tagChoosesTheSaveIndexes_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    const char* const rows[][5] = {
        {"15", "TDSK", "40", "40", "7F"}, {"5A", "TDSK", "5A", "40", "7F"},
        {"2F", "TDDK", "30", "30", "7F"}, {"45", "TMK", "10", "10", "3F"},
        {"05", "TMK", "05", "10", "3F"},  {"1F", "NOK", "20", "20", "7F"},
        {"25", "NOK", "25", "20", "7F"},
    };
    for (const auto& row : rows) {
        QTest::addRow("%s, %s", row[1], row[0]) << row[0] << row[1] << row[2] << row[3] << row[4];
    }
}

void KeysCipherTest::tagChoosesTheSaveIndexes() {
    QFETCH(QString, before);
    QFETCH(QString, tag);
    QFETCH(QString, shown);
    QFETCH(QString, first);
    QFETCH(QString, last);
    PadRig rig;
    Choose(rig, "comboEncryptMark", "TPK");
    rig.setText("comboEncryptNo", before);
    rig.setText("edInputKeyToEncrypt", "AB");
    rig.setText("edEncrypKey", "CD");
    Choose(rig, "comboEncryptMark", tag);
    auto* saveIndexes = rig.control<QComboBox>("comboEncryptNo");
    QCOMPARE(saveIndexes->currentText(), shown);
    QCOMPARE(saveIndexes->itemText(0), first);
    QCOMPARE(saveIndexes->itemText(saveIndexes->count() - 1), last);
    const bool erase = tag == "NOK";
    for (const char* name :
         {"comboDecipherNo", "comboEnryptLength", "edInputKeyToEncrypt", "edEncrypKey"}) {
        QCOMPARE(rig.control(name)->isEnabled(), !erase);
    }
    QCOMPARE(rig.text("edInputKeyToEncrypt"), QString(erase ? "" : "AB"));
    QCOMPARE(rig.text("edEncrypKey"), QString(erase ? "" : "CD"));
}

namespace {
struct AuthenticateCall {
    QString statusAtCall, response;
    unsigned int length = 0;
    QLabel* status = nullptr;
};
AuthenticateCall g_authenticate;

int PINPAD_CALL RecordLoadKeyAuthenticate(const char* response, unsigned int length, char*) {
    g_authenticate.statusAtCall = g_authenticate.status->text();
    g_authenticate.response = QString::fromLatin1(response);
    g_authenticate.length = length;
    return 0;
}
}  // namespace

void KeysCipherTest::loadKeyAuthentication_data() {
    QTest::addColumn<bool>("bound");
    QTest::addColumn<QString>("status");
    QTest::newRow("this driver: not provided") << false << "failure in selecting function";
    QTest::newRow("a driver that provides it") << true << "LoadKey authorization succeed";
}

void KeysCipherTest::loadKeyAuthentication() {
    QFETCH(bool, bound);
    QFETCH(QString, status);
    PadRig rig;
    QVERIFY(rig.openPort());
    const QString authKey = "00112233445566778899AABBCCDDEEFF";
    WriteKeyStore("INIT_AUTH", "AUTH", Latin1(authKey).c_str());
    g_authenticate = {};
    g_authenticate.status = rig.control<QLabel>("StatusPanel1");
    if (bound) rig.shared().Entries().PinPad_LoadKeyAuthenticate = &RecordLoadKeyAuthenticate;
    rig.click("Authenticate");
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.countPayload(":A030303030303030303030303030303030"), std::size_t{1});
    if (!bound) return;
    const QString challenge =
        Q(rig.pad->With([](padsim::PadSimulator& sim) { return sim.lastChallenge(); }));
    QCOMPARE(g_authenticate.statusAtCall, QString("get challenge succeed"));
    QCOMPARE(g_authenticate.response, Encrypt(authKey, challenge));
    QCOMPARE(g_authenticate.length, 32u);
}

void KeysCipherTest::passwordEntry_data() {
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<bool>("padTimeOut");
    QTest::addColumn<QString>("stars");
    QTest::addColumn<QString>("status");
    QTest::newRow("ends by itself after 16")
        << QByteArray("1234567890123456") << false << QString(16, '*')
        << "user finish inputting the password ";
    QTest::newRow("backspace, Enter") << QByteArray("\b12345\b\r") << false << "****"
                                      << "user finish inputting the password ,and then password "
                                         "encryption text can be selected";
    QTest::newRow("cancelled keeps the stars") << QByteArray("\b12\x1b") << false << "**"
                                               << "user has cancelled  the password input";
    QTest::newRow("pad time-out") << QByteArray("12") << true << ""
                                  << "user inputting the password time out";
    // The clear-text reader was open: the entry's keys must reach the entry, not the reader.
    QTest::newRow("keypad reader open") << QByteArray("1234\r") << false << "****"
                                        << "user finish inputting the password ,and then password "
                                           "encryption text can be selected";
}

void KeysCipherTest::passwordEntry() {
    QFETCH(QByteArray, keys);
    QFETCH(bool, padTimeOut);
    QFETCH(QString, stars);
    QFETCH(QString, status);
    PadRig rig;
    QVERIFY(rig.openPort());
    if (padTimeOut) QVERIFY(rig.enablePadEntryTimeOut());
    const bool readerOpen = QByteArray(QTest::currentDataTag()) == "keypad reader open";
    if (readerOpen) rig.click("OpenKeyBord");
    auto* pinPage = rig.control<operations::PinPage>("TabSheet5");
    rig.setText("edPinRevEncrypt", "0123456789ABCDEF");
    rig.setText("PWD", "old");
    bool closeDisabledDuringEntry = false;
    WhenEntryRuns pressKeys(rig, padsim::Mode::PinEntry, kEntryStarted, [&] {
        closeDisabledDuringEntry = !rig.control("btCloseCom")->isEnabled();
        rig.pad->PressKeys(keys.toStdString());
    });
    rig.click("EnterPassword");
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.text("PWD"), stars);
    QCOMPARE(rig.countPayload("601600"), std::size_t{1});
    QVERIFY(closeDisabledDuringEntry);
    QVERIFY(rig.control("btCloseCom")->isEnabled());
    QVERIFY(!rig.control("btGetPin")->isEnabled());
    QCOMPARE(rig.text("edPinRevEncrypt"), QString());  // the PIN page's results are emptied
    QVERIFY(pinPage->Pin2Mode());
    QCOMPARE(rig.text("Memo1"), QString());
    QVERIFY(!rig.shared().ReaderThreadExists());
}

void KeysCipherTest::secondPasswordEntrySupersedesTheFirst() {
    PadRig rig;
    QVERIFY(rig.openPort());
    // While the first entry runs, the operator starts another; its 16 digits end it, and the
    // first loop must not go on reading once it resumes.
    WhenEntryRuns startSecond(rig, padsim::Mode::PinEntry, kEntryStarted,
                              [&] { rig.click("EnterPassword"); });
    QTimer typeDigits;
    connect(&typeDigits, &QTimer::timeout, [&] {
        if (rig.countPayload("601600") < 2 || rig.status() != kEntryStarted ||
            rig.mode() != padsim::Mode::PinEntry)
            return;
        typeDigits.stop();
        rig.pad->PressKeys("1234567890123456");
    });
    typeDigits.start(5);
    rig.click("EnterPassword", std::chrono::seconds(20));
    QCOMPARE(rig.status(), QString("user finish inputting the password "));
    QCOMPARE(rig.text("PWD"), QString(16, '*'));
    QCOMPARE(rig.countPayload("601600"), std::size_t{2});
}

QTEST_MAIN(KeysCipherTest)
#include "keys_cipher_test.moc"
