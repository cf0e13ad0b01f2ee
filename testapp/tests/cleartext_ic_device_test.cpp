// The "cleartext" and "Ic Card Control" pages against the real driver and a simulated pad: the
// keypad reader thread, the display requests and the card commands as the pad receives them.
#include <QDirIterator>
#include <QRegularExpression>
#include <QtTest>
#include <atomic>
#include <mutex>

#include "pad_rig.h"
#include "reference_crypto.h"
#include "star_echo_entry.h"

Q_DECLARE_METATYPE(padsim::Mode)

using namespace testsupport;

namespace {

constexpr int kKeyWaitMs = 5000;

// True while a thread named like the keypad reader exists in this process. The reader names
// itself as it starts, so a check right after starting it waits for the name.
bool ReaderThreadAlive() {
    QDirIterator tasks("/proc/self/task", QDir::Dirs | QDir::NoDotAndDotDot);
    while (tasks.hasNext()) {
        QFile comm(tasks.next() + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "keypad reader") {
            return true;
        }
    }
    return false;
}

std::string DisplayPayload(const QByteArray& bytes) { return ";" + bytes.toStdString(); }

// `text` padded with NULs to whole blocks, enciphered with two-key triple DES in ECB mode.
QByteArray EncipherForDisplay(const QByteArray& key, QByteArray text) {
    while (text.size() % 8 != 0) text.append('\0');
    const std::string keyHex = key.toHex().toUpper().toStdString();
    return QByteArray::fromStdString(
        padsim::test::RefEncrypt(keyHex, text.toHex().toUpper().toStdString()));
}

bool OpenPinpad(PadRig& rig) {
    rig.click("OpenKeyBord");
    return rig.status() == "Open Pinpad Success,Please Key-press";
}

}  // namespace

class CleartextIcDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void pageDefaults_data();
    void pageDefaults();
    void keysShowAsCharactersAndHex();
    void the301stByteEmptiesTheMemosFirst();
    void otherOperations_data();
    void otherOperations();
    void openPinpadEndsAnEntryLoop_data();
    void openPinpadEndsAnEntryLoop();
    void refusedOpenPinpadKeepsTheEntry();
    void closePinpadStopsTheReaderBeforeTheClosingCode();
    void closingTheWindowLeavesNoReaderThread();
    void displayRequests_data();
    void displayRequests();
    void encryptedDisplay();
    void modeChange_data();
    void modeChange();
    void cardControl_data();
    void cardControl();
    void cardAccess_data();
    void cardAccess();
};

void CleartextIcDeviceTest::pageDefaults_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    const std::tuple<const char*, const char*, const char*, bool> rows[] = {
        {"Memo1", "Key value:", "", true},
        {"Memo2", "Key value:(HEX):", "", true},
        {"TS8_Combox", "Mode(HEX):", "30", true},
        {"TS8_Memo3", "Context(HEX)", "", true},
        {"TS8_ComboBox4", "Data-displaying as code", "30", true},
        {"CardSockt1", "Card Socket No:", "1", false},
        {"CardType", "Card Type:", "CPU", false},
        {"ControlCode", "Control Code:", "PowerOn", true},
        {"CardSockt2", "Card Socket No:", "1", false},
        {"ComboBox5", "Protocol:", "T=0", false},
        {"CLA", "CLA:", "00", true},
        {"INS", "INS:", "A4", true},
        {"P1", "P1:", "00", true},
        {"P2", "P2:", "00", true},
        {"LC", "LC:", "02", true},
        {"DataSend", "DATA:", "", true},
        {"LE", "LE:", "00", true},
        {"DataRcv", "Return Data:", "", true},
        {"RcvSW", "Return SW:", "RcvSW", true},
    };
    for (const auto& [name, caption, text, enabled] : rows) {
        QTest::newRow(name) << QByteArray(name) << caption << text << enabled;
    }
}

void CleartextIcDeviceTest::pageDefaults() {
    QFETCH(QByteArray, name);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    PadRig rig;
    QWidget* control = rig.control(name.constData());
    QVERIFY(control != nullptr);
    QCOMPARE(control->accessibleName(), caption);
    QVERIFY(CaptionOf(control) != nullptr);
    QCOMPARE(CaptionOf(control)->text(), caption);
    QCOMPARE(rig.text(name.constData()), text);
    QCOMPARE(control->isEnabled(), enabled);
    QCOMPARE(rig.control<QComboBox>("TS8_Combox")->count(), 67);
    QCOMPARE(rig.control<QComboBox>("TS8_Combox")->itemText(3), QString("40"));
    QCOMPARE(rig.control<QComboBox>("TS8_Combox")->itemText(66), QString("7F"));
    QCOMPARE(rig.control<QComboBox>("TS8_ComboBox4")->count(), 12);
    QCOMPARE(rig.control<QComboBox>("TS8_ComboBox4")->itemText(11), QString("42"));
    QCOMPARE(rig.text("CardAtr"), QString());
}

void CleartextIcDeviceTest::keysShowAsCharactersAndHex() {
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(OpenPinpad(rig));
    QCOMPARE(rig.payloads(), (std::vector<std::string>{"5035", "5033"}));
    QVERIFY(!rig.control<QPushButton>("OpenKeyBord")->isEnabled());
    QVERIFY(rig.control<QPushButton>("CloseKeyBord")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(ReaderThreadAlive(), kKeyWaitMs);
    rig.pad->PressKeys("123");
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1"), QString("123"), kKeyWaitMs);
    QCOMPARE(rig.text("Memo2"), QString("31 32 33 "));
}

void CleartextIcDeviceTest::the301stByteEmptiesTheMemosFirst() {
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(OpenPinpad(rig));
    rig.pad->PressKeys(std::string(200, '5'));
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1").size(), 200, kKeyWaitMs);
    // "Clear" empties the memos but not the reader's count.
    rig.click("Button2");
    QCOMPARE(rig.text("Memo1"), QString());
    QCOMPARE(rig.text("Memo2"), QString());
    rig.pad->PressKeys(std::string(100, '6'));
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1").size(), 100, kKeyWaitMs);
    QCOMPARE(rig.text("Memo2").size(), 300);
    rig.pad->PressKeys("78");
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1"), QString("78"), kKeyWaitMs);
    QCOMPARE(rig.text("Memo2"), QString("37 38 "));
}

void CleartextIcDeviceTest::otherOperations_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<bool>("endsReader");
    QTest::newRow("read ver information") << QByteArray("btGetVersion") << true;
    QTest::newRow("IC control") << QByteArray("IC_Control") << true;
    QTest::newRow("IC access refused") << QByteArray("IC_Access") << true;
    QTest::newRow("display") << QByteArray("TabSheet8_Display") << false;
}

void CleartextIcDeviceTest::otherOperations() {
    QFETCH(QByteArray, button);
    QFETCH(bool, endsReader);
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(OpenPinpad(rig));
    rig.pad->PressKeys("1");
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1"), QString("1"), kKeyWaitMs);
    rig.click(button.constData());
    if (!endsReader) {
        QCOMPARE(rig.status(), QString("success"));
        rig.pad->PressKeys("2");
        QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1"), QString("12"), kKeyWaitMs);
        QVERIFY(ReaderThreadAlive());
        QVERIFY(!rig.control<QPushButton>("OpenKeyBord")->isEnabled());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(!ReaderThreadAlive(), kKeyWaitMs);
    // "Open Pinpad" comes back and starts a new reader.
    QTRY_VERIFY_WITH_TIMEOUT(rig.control<QPushButton>("OpenKeyBord")->isEnabled(), kKeyWaitMs);
    QVERIFY(rig.control<QPushButton>("btCloseCom")->isEnabled());
    QVERIFY(OpenPinpad(rig));
    QTRY_VERIFY_WITH_TIMEOUT(ReaderThreadAlive(), kKeyWaitMs);
    rig.pad->PressKeys("3");
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1"), QString("13"), kKeyWaitMs);
}

void CleartextIcDeviceTest::openPinpadEndsAnEntryLoop_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("combinationCode");
    QTest::addColumn<padsim::Mode>("mode");
    QTest::addColumn<QString>("entryStatus");
    QTest::newRow("password entry")
        << QByteArray("EnterPassword") << QString() << padsim::Mode::PinEntry << kEntryStarted;
    QTest::newRow("key part typed on the pad")
        << QByteArray("Button3") << "41" << padsim::Mode::KeyEntry
        << "Please input the clear text key from EPP";
}

// "Open Pinpad" pressed while an entry waits for keys on the pad ends that entry, so every key
// pressed afterwards reaches the reader and the memos.
void CleartextIcDeviceTest::openPinpadEndsAnEntryLoop() {
    QFETCH(QByteArray, button);
    QFETCH(QString, combinationCode);
    QFETCH(padsim::Mode, mode);
    QFETCH(QString, entryStatus);
    PadRig rig;
    QVERIFY(rig.openPort());
    if (!combinationCode.isEmpty()) {
        auto* codes = rig.control<QComboBox>("comboMixCode");
        codes->setCurrentIndex(codes->findText(combinationCode, Qt::MatchStartsWith));
        QVERIFY(rig.control("Button3")->isEnabled());
    }
    // The click may come while the loop waits in the driver; it is handled right after.
    WhenEntryRuns openPinpad(rig, mode, entryStatus, [&] { rig.click("OpenKeyBord"); });
    rig.click(button.constData());
    QCOMPARE(rig.status(), QString("Open Pinpad Success,Please Key-press"));
    QTRY_VERIFY_WITH_TIMEOUT(ReaderThreadAlive(), kKeyWaitMs);
    QVERIFY(rig.control<QPushButton>("btCloseCom")->isEnabled());
    rig.pad->PressKeys("123456");
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1"), QString("123456"), kKeyWaitMs);
    QCOMPARE(rig.text("Memo2"), QString("31 32 33 34 35 36 "));
}

// "Open Pinpad" refused by the pad while a password entry waits: the entry goes on, its stars
// still show, and it ends as the customer ends it.
void CleartextIcDeviceTest::refusedOpenPinpadKeepsTheEntry() {
    PadRig rig;
    QVERIFY(rig.openPort());
    // The click may come while the loop waits in the driver and be handled right after: the
    // customer types once the refusal shows.
    QString refusal;
    QTimer typing;
    typing.setInterval(5);
    QObject::connect(&typing, &QTimer::timeout, [&] {
        if (!rig.status().startsWith("failure in Open Pinpad")) return;
        typing.stop();
        refusal = rig.status();
        rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().forcedStatus.clear(); });
        rig.pad->PressKeys("1234");
        rig.pad->PressKeys(std::string(1, padsim::kEnter));
    });
    WhenEntryRuns openPinpad(rig, padsim::Mode::PinEntry, kEntryStarted, [&] {
        rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().forcedStatus['5'] = 0xE9; });
        rig.click("OpenKeyBord");
        typing.start();
    });
    rig.click("EnterPassword");
    QCOMPARE(refusal, QString("failure in Open Pinpad,failure reason is:Illegal data"));
    QCOMPARE(rig.text("PWD"), QString("****"));
    QCOMPARE(rig.status(), QString(operations::kPinEntryFinished));
    QVERIFY(!ReaderThreadAlive());
}

void CleartextIcDeviceTest::closePinpadStopsTheReaderBeforeTheClosingCode() {
    std::mutex mutex;
    std::vector<bool> readerAliveAtPad;  // one entry per pad event while recording
    std::atomic<int> padEvents{0};
    std::atomic<bool> recording{false};
    padsim::PadOptions options;
    options.onChange = [&] {
        ++padEvents;
        if (!recording) return;
        const bool alive = ReaderThreadAlive();
        std::lock_guard lock(mutex);
        readerAliveAtPad.push_back(alive);
    };
    PadRig rig(options);
    QVERIFY(rig.openPort());
    // Without an open mode the closing code still goes out.
    rig.click("CloseKeyBord");
    QCOMPARE(rig.status(), QString("Close Pinpad Success"));
    QVERIFY(OpenPinpad(rig));
    QTRY_VERIFY_WITH_TIMEOUT(ReaderThreadAlive(), kKeyWaitMs);
    // The pad reports each answered request after writing its reply: wait for the reports of
    // "032", "035" and "033", so that only the next one, the closing code's, is recorded.
    QTRY_VERIFY_WITH_TIMEOUT(padEvents >= 3, kKeyWaitMs);

    recording = true;
    rig.click("CloseKeyBord");
    QCOMPARE(rig.status(), QString("Close Pinpad Success"));
    QCOMPARE(rig.payloads(), (std::vector<std::string>{"5032", "5035", "5033", "5032"}));
    QVERIFY(!ReaderThreadAlive());
    QVERIFY(rig.control<QPushButton>("OpenKeyBord")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            std::lock_guard lock(mutex);
            return !readerAliveAtPad.empty();
        }(),
        kKeyWaitMs);
    recording = false;
    std::lock_guard lock(mutex);
    QVERIFY(std::none_of(readerAliveAtPad.begin(), readerAliveAtPad.end(),
                         [](bool alive) { return alive; }));
}

void CleartextIcDeviceTest::closingTheWindowLeavesNoReaderThread() {
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(OpenPinpad(rig));
    rig.pad->PressKeys("9");
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Memo1"), QString("9"), kKeyWaitMs);
    rig.window->close();
    rig.window.reset();
    QVERIFY(!ReaderThreadAlive());
    QCOMPARE(rig.payloads().back(), std::string("5032"));
    QCOMPARE(rig.countPayload("5032"), std::size_t{1});
}

void CleartextIcDeviceTest::displayRequests_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("data");  // the memo, or the code box for modes 31 and 32
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("memoAfter");
    const QString digits32 = "0123456789ABCDEF0123456789ABCDEF";
    const QString chars65 = digits32 + " " + digits32;
    struct Row {
        const char* name;
        QString mode, data;
        QByteArray sent;
        QString status, shown, memoAfter;
    };
    const Row rows[] = {
        {"30, blanks skipped", "30", "31 32 33", "0123", "success", "123", "31 32 33"},
        {"31 with code 35", "31", "35", "15", "success", "THANK YOU", ""},
        {"40 with 32 digits, no key at 40", "40", digits32, "@" + digits32.toLatin1(),
         "failure in displaying ,the failure reason is:Unmatchable label or no such key", "", ""},
        {"40 with 24 digits", "40", digits32.left(24), "", "Invalid data", "", digits32.left(24)},
        {"40 with 65 characters", "40", chars65, "", "ciphertext's length exceed", "", chars65},
        {"one-digit mode", "3", "", "", "Invalid Prefill value", "", ""},
    };
    for (const Row& row : rows) {
        QTest::newRow(row.name) << row.mode << row.data << row.sent << row.status << row.shown
                                << row.memoAfter;
    }
}

void CleartextIcDeviceTest::displayRequests() {
    QFETCH(QString, mode);
    QFETCH(QString, data);
    QFETCH(QByteArray, sent);
    QFETCH(QString, status);
    QFETCH(QString, shown);
    QFETCH(QString, memoAfter);
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.setText("TS8_Combox", mode);
    const bool code = mode == "31" || mode == "32";
    rig.setText(code ? "TS8_ComboBox4" : "TS8_Memo3", data);
    rig.click("TabSheet8_Display");
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.payloads(), sent.isEmpty() ? std::vector<std::string>{}
                                            : std::vector<std::string>{DisplayPayload(sent)});
    const std::string line =
        rig.pad->With([](padsim::PadSimulator& sim) { return sim.displayText(); });
    QCOMPARE(QString::fromStdString(line), shown);
    if (!code) QCOMPARE(rig.text("TS8_Memo3"), memoAfter);
    // The display neither ends a key loop nor touches the buttons.
    QVERIFY(rig.control<QPushButton>("TabSheet8_Display")->isEnabled());
}

void CleartextIcDeviceTest::encryptedDisplay() {
    const QByteArray key = QByteArray::fromHex("0123456789ABCDEFFEDCBA9876543210");
    PadRig rig;
    rig.pad->With([&](padsim::PadSimulator& sim) {
        sim.SetKey(0x41, {key.toHex().toUpper().toStdString(), "TDK"});
    });
    QVERIFY(rig.openPort());
    rig.control<QComboBox>("TS8_Combox")->setCurrentIndex(4);
    QCOMPARE(rig.text("TS8_Combox"), QString("41"));
    const QByteArray cipher = EncipherForDisplay(key, "PAY 12.50");
    QTest::keyClicks(rig.control("TS8_Memo3"), QString::fromLatin1(cipher));
    rig.click("TabSheet8_Display");
    QCOMPARE(rig.status(), QString("success"));
    QCOMPARE(rig.payloads(), std::vector<std::string>{DisplayPayload("A" + cipher)});
    const std::string line =
        rig.pad->With([](padsim::PadSimulator& sim) { return sim.displayText(); });
    QCOMPARE(line, std::string("PAY 12.50"));

    // The decryption mode lets the memo take 64 characters from now on.
    rig.setText("TS8_Memo3", "");
    QTest::keyClicks(rig.control("TS8_Memo3"), QString(70, 'A'));
    QCOMPARE(rig.text("TS8_Memo3").size(), 64);
}

void CleartextIcDeviceTest::modeChange_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("memoCaption");  // empty: the code box is shown instead
    QTest::addColumn<QString>("status");
    const char* const ready = "please first open com port, then test.";
    const char* const decryption = "Decryption display";
    const std::tuple<const char*, const char*, const char*, const char*> rows[] = {
        {"40", decryption, "cipher(HEX)", ready},
        {"41", decryption, "cipher(HEX)", ready},
        {"31", "Code display", "", ready},
        {"30", "Original code display", "Context(HEX)", ready},
        {"3A", decryption, "cipher(HEX)", "Invalid Code"},
        {"80", decryption, "cipher(HEX)", "Invalid Code"},
    };
    for (const auto& [mode, title, caption, status] : rows) {
        QTest::newRow(mode) << mode << title << caption << status;
    }
}

void CleartextIcDeviceTest::modeChange() {
    QFETCH(QString, mode);
    QFETCH(QString, title);
    QFETCH(QString, memoCaption);
    QFETCH(QString, status);
    PadRig rig;
    rig.setText("TS8_Combox", "7F");
    rig.setText("TS8_Memo3", "0011");
    rig.setText("TS8_ComboBox4", "35");
    rig.setText("TS8_Combox", mode);
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.control<QLabel>("TS8_Label10")->text(), title);
    const bool code = memoCaption.isEmpty();
    QCOMPARE(rig.control("TS8_Memo3")->isHidden(), code);
    QCOMPARE(rig.control("TS8_Label11")->isHidden(), code);
    QCOMPARE(rig.control("TS8_ComboBox4")->isHidden(), !code);
    QCOMPARE(rig.control("TS8_Label12")->isHidden(), !code);
    if (code) {
        QCOMPARE(rig.text("TS8_ComboBox4"), QString("30"));
    } else {
        QCOMPARE(rig.control<QLabel>("TS8_Label11")->text(), memoCaption);
        QCOMPARE(rig.control("TS8_Memo3")->accessibleName(), memoCaption);
        // A valid mode empties the memo; an unknown one leaves everything as it was.
        QCOMPARE(rig.text("TS8_Memo3"), status == "Invalid Code" ? QString("0011") : QString());
    }
}

void CleartextIcDeviceTest::cardControl_data() {
    QTest::addColumn<bool>("cardInserted");
    QTest::addColumn<bool>("powerFirst");
    QTest::addColumn<QString>("cardType");
    QTest::addColumn<QString>("controlCode");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("answer");
    const QString atr = QString::fromLatin1(padsim::PadSimulator::kAtr.data());
    const QString ok = "IC Card Control Success";
    const QString failure = "failure in IC Card Control,failure reason is:";
    struct Row {
        const char* name;
        bool cardInserted, powerFirst;
        QString cardType, controlCode, sent, status, answer;
    };
    const Row rows[] = {
        {"PowerOn", true, false, "CPU", "PowerOn", "@1881", ok, atr},
        {"GetStatus", true, true, "CPU", "GetStatus", "@1882", ok, atr},
        {"PowerDown", true, true, "CPU", "PowerDown", "@1883", ok, ""},
        {"GetStatus unpowered", true, false, "CPU", "GetStatus", "@1882",
         failure + "Card Not Power Up", ""},
        {"PowerOn without card", false, false, "CPU", "PowerOn", "@1881", failure + "No Card", ""},
        {"unknown control code", true, false, "CPU", "Reset", "", "Select Control Code Error", ""},
        {"control code in lower case", true, false, "CPU", "poweron", "",
         "Select Control Code Error", ""},
        {"other card type", true, false, "SIM", "PowerOn", "", "Select Card Type Error", ""},
    };
    for (const Row& row : rows) {
        QTest::newRow(row.name) << row.cardInserted << row.powerFirst << row.cardType
                                << row.controlCode << row.sent << row.status << row.answer;
    }
}

void CleartextIcDeviceTest::cardControl() {
    QFETCH(bool, cardInserted);
    QFETCH(bool, powerFirst);
    QFETCH(QString, cardType);
    QFETCH(QString, controlCode);
    QFETCH(QString, sent);
    QFETCH(QString, status);
    QFETCH(QString, answer);
    PadRig rig;
    rig.pad->With([&](padsim::PadSimulator& sim) { sim.SetCardInserted(cardInserted); });
    QVERIFY(rig.openPort());
    if (powerFirst) {
        rig.click("IC_Control");
        QCOMPARE(rig.status(), QString("IC Card Control Success"));
    }
    const std::size_t before = rig.payloads().size();
    rig.setText("CardType", cardType);
    rig.setText("ControlCode", controlCode);
    rig.click("IC_Control");
    QCOMPARE(rig.status(), status);
    const auto log = rig.payloads();
    QCOMPARE(log.size(), before + (sent.isEmpty() ? 0 : 1));
    if (!sent.isEmpty()) QCOMPARE(QString::fromStdString(log.back()), sent);
    QCOMPARE(rig.text("CardAtr"), answer);
    QVERIFY(rig.control<QPushButton>("IC_Control")->isEnabled());
    rig.click("ClearIc");
    QCOMPARE(rig.text("CardAtr"), QString());
}

void CleartextIcDeviceTest::cardAccess_data() {
    QTest::addColumn<QStringList>("apdu");  // CLA, INS, P1, P2, LC, DATA, LE
    QTest::addColumn<bool>("powered");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("data");  // a regular expression
    QTest::addColumn<QString>("sw");
    const QString ok = "IC Card Accessing Success";
    const QString failure = "failure in IC Card Accessing,failure reason is: ";
    const QString mfFci = "6F0A84023F00A50488010100";
    const QString record1 = "700E610C4F07F0000000031010500141";
    struct Row {
        const char* name;
        QStringList apdu;
        bool powered;
        QString sent, status, data, sw;
    };
    const Row rows[] = {
        {"SELECT MF, LC 02 LE 00",
         {"00", "A4", "00", "00", "02", "3F00", "00"},
         true,
         "A100A40000023F00",
         ok,
         mfFci,
         "9000"},
        {"SELECT MF, LC 02 LE 08",
         {"00", "A4", "00", "00", "02", "3F00", "08"},
         true,
         "A100A40000023F0008",
         ok,
         mfFci,
         "9000"},
        {"GET CHALLENGE, LC 00 LE 08",
         {"00", "84", "00", "00", "00", "", "08"},
         true,
         "A10084000008",
         ok,
         "[0-9A-F]{16}",
         "9000"},
        {"READ RECORD, LC 00 LE 1C",
         {"00", "B2", "01", "0C", "00", "", "1C"},
         true,
         "A100B2010C1C",
         ok,
         record1,
         "9000"},
        {"LC 00 LE 10: status word only",
         {"00", "A4", "00", "00", "00", "", "10"},
         true,
         "A100A4000010",
         ok,
         "",
         "6A82"},
        {"one-character CLA sent as typed",
         {"0", "A4", "00", "00", "02", "3F00", "00"},
         true,
         "A10A40000023F00",
         failure + "Illegal data",
         "",
         ""},
        {"card not powered",
         {"00", "A4", "00", "00", "02", "3F00", "00"},
         false,
         "A100A40000023F00",
         failure + "Card Not Power Up",
         "",
         ""},
        {"DATA of 3 characters for LC 02",
         {"00", "A4", "00", "00", "02", "3F0", "00"},
         true,
         "",
         "APDU Data Length Error",
         "",
         ""},
        {"LC 00 and LE 00",
         {"00", "A4", "00", "00", "00", "", "00"},
         true,
         "",
         "LC Or LE Data Error",
         "",
         ""},
    };
    for (const Row& row : rows) {
        QTest::newRow(row.name) << row.apdu << row.powered << row.sent << row.status << row.data
                                << row.sw;
    }
}

void CleartextIcDeviceTest::cardAccess() {
    QFETCH(QStringList, apdu);
    QFETCH(bool, powered);
    QFETCH(QString, sent);
    QFETCH(QString, status);
    QFETCH(QString, data);
    QFETCH(QString, sw);
    PadRig rig;
    QVERIFY(rig.openPort());
    if (powered) {
        rig.click("IC_Control");
        QCOMPARE(rig.status(), QString("IC Card Control Success"));
    }
    const std::size_t before = rig.payloads().size();
    const char* const boxes[] = {"CLA", "INS", "P1", "P2", "LC", "DataSend", "LE"};
    for (int i = 0; i < 7; ++i) rig.setText(boxes[i], apdu[i]);
    rig.click("IC_Access");
    QCOMPARE(rig.status(), status);
    const auto log = rig.payloads();
    QCOMPARE(log.size(), before + (sent.isEmpty() ? 0 : 1));
    if (!sent.isEmpty()) QCOMPARE(QString::fromStdString(log.back()), sent);
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(data));
    QVERIFY2(pattern.match(rig.text("DataRcv")).hasMatch(), qPrintable(rig.text("DataRcv")));
    QCOMPARE(rig.text("RcvSW"), sw);
    QVERIFY(rig.control<QPushButton>("IC_Access")->isEnabled());
    rig.click("ClearIc");
    QCOMPARE(rig.text("DataRcv") + rig.text("RcvSW") + rig.text("CardAtr"), QString());
}

QTEST_MAIN(CleartextIcDeviceTest)
#include "cleartext_ic_device_test.moc"
