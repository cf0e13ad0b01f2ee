// The "PIN arithmetic" page against the real driver and a simulated pad: PIN entry with its star
// echo in both modes, the PIN block read and deciphered, PIN renew and verify, and the MAC.
// Expected blocks, offsets and MACs are computed here with OpenSSL (reference_crypto.h).
#include "pin_page.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include "key_page_support.h"
#include "reference_crypto.h"

using namespace testsupport;
using namespace std::chrono_literals;
namespace ref = padsim::test;

namespace {

constexpr char kPinKey[] = "0123456789ABCDEFFEDCBA9876543210";
constexpr char kMacKey7F[] = "89ABCDEF0123456776543210FEDCBA98";
const QString kFinished =
    "user finish inputting the password ,and then password encryption text can be selected";

// Scripted keys follow each other quickly, each still on its own.
padsim::PadOptions FastKeys() {
    padsim::PadOptions options;
    options.scriptedKeyDelay = 30ms;
    return options;
}

// A rig whose pad holds the PIN key at 30 (and a MAC key at 7F), both on record in the key store
// as the key management page records cipher-text keys, with the port open.
class PinRig : public PadRig {
public:
    PinRig() : PadRig(FastKeys()) {
        pad->With([](padsim::PadSimulator& sim) {
            sim.SetKey(0x30, {kPinKey, "TPK"});
            sim.SetKey(0x7F, {kMacKey7F, "TAK"});
        });
        WriteKeyStore("KEY_ENCRYPT", "30", kPinKey);
        portOpen = openPort();
    }

    operations::PinPage* page() const { return window->findChild<operations::PinPage*>(); }

    void selectPinType(int index) const {
        control<QComboBox>("comboPinType")->setCurrentIndex(index);
    }

    // Clicks `button` and has the pad's customer press `keys` once the entry opens. Returns each
    // text the key value box showed; the click returns when the entry has ended.
    QStringList enterPin(const char* button, const std::string& keys,
                         std::chrono::milliseconds deadline = kClickDeadline) {
        QStringList shown;
        auto* echo = control<QLineEdit>("PinPadKey");
        auto* closeCom = control<QPushButton>("btCloseCom");
        const auto watch = QObject::connect(echo, &QLineEdit::textChanged, [&](const QString& t) {
            shown << t;
            if (closeCom->isEnabled()) closeEnabledDuringEntry = true;
        });
        pad->SetScriptedKeys(keys);
        click(button, deadline);
        pad->SetScriptedKeys("");
        QObject::disconnect(watch);
        return shown;
    }

    std::string lastPayload() const {
        const auto log = payloads();
        return log.empty() ? std::string() : log.back();
    }

    bool portOpen = false;
    bool closeEnabledDuringEntry = false;
};

// The test's own MACs over hexadecimal data under a double-length key.
std::string ExpectedMac(int type, const std::string& key, const std::string& data) {
    switch (type) {
        case 0:  // PBOC: 80 00.. always added, retail
            return ref::RefRetailMac(key, data + "80");
        case 1:  // ANSI X9.9: single DES under the left half
            return ref::RefCbcMac(key.substr(0, 16), data);
        case 2:  // ANSI X9.19
            return ref::RefRetailMac(key, data);
        default:  // ISO 16609: triple DES on every block
            return ref::RefCbcMac(key, data);
    }
}

}  // namespace

class PinPageTest : public QObject {
    Q_OBJECT
private slots:
    void pinEntry_data();
    void pinEntry();
    void readCiphertext_data();
    void readCiphertext();
    void refusals_data();
    void refusals();
    void renewAndVerify_data();
    void renewAndVerify();
    void verifyKeepsItsOffset_data();
    void verifyKeepsItsOffset();
    void mac_data();
    void mac();
    void macClearEmptiesThePinBoxes();
    void anotherOperationEndsTheEntry_data();
    void anotherOperationEndsTheEntry();
};

void PinPageTest::pinEntry_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("clearCode");
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("padTimeOut");
    const QByteArray pin1 = "btEnablePin", pin2 = "Button5";
    QTest::newRow("PIN1 defaults, backspace, ends at six")
        << pin1 << "06"
        << "0" << QByteArray("12\b34567") << QByteArray("630 006123456789012")
        << QStringList{"*", "**", "*", "**", "***", "****", "*****", "******"} << kFinished << true
        << false;
    QTest::newRow("PIN2 clear code 2: backspace empties")
        << pin2 << "04"
        << "2" << QByteArray("12\b1234") << QByteArray("600402")
        << QStringList{"*", "**", "", "*", "**", "***", "****"} << kFinished << true << false;
    QTest::newRow("PIN2 clear code 0: backspace one")
        << pin2 << "04"
        << "0" << QByteArray("12\b345") << QByteArray("600400")
        << QStringList{"*", "**", "*", "**", "***", "****"} << kFinished << true << false;
    QTest::newRow("PIN1 without limit ends at Enter")
        << pin1 << "00"
        << "0" << QByteArray("12345\r") << QByteArray("630 000123456789012")
        << QStringList{"*", "**", "***", "****", "*****"} << kFinished << true << false;
    QTest::newRow("Escape") << pin1 << "06"
                            << "0" << QByteArray("12\x1B") << QByteArray("630 006123456789012")
                            << QStringList{"*", "**"} << "user has cancelled  the password input"
                            << false << false;
    QTest::newRow("pad's entry time-out")
        << pin2 << "06"
        << "6" << QByteArray("12") << QByteArray("600606") << QStringList{"*", "**", ""}
        << "user inputting the password time out" << true << true;
}

void PinPageTest::pinEntry() {
    QFETCH(QByteArray, button);
    QFETCH(QString, length);
    QFETCH(QString, clearCode);
    QFETCH(QByteArray, keys);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, shown);
    QFETCH(QString, status);
    QFETCH(bool, readable);
    QFETCH(bool, padTimeOut);
    PinRig rig;
    QVERIFY(rig.portOpen);
    if (padTimeOut) QVERIFY(rig.enablePadEntryTimeOut());
    rig.setText("edPinLength", length);
    rig.setText("ComboBox2", clearCode);
    const std::size_t before = rig.payloads().size();
    QCOMPARE(rig.enterPin(button.constData(), keys.toStdString()), shown);
    QCOMPARE(rig.payloads().at(before), sent.toStdString());
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.control<QPushButton>("btGetPin")->isEnabled(), readable);
    QVERIFY(!rig.closeEnabledDuringEntry);
    QVERIFY(rig.control<QPushButton>("btCloseCom")->isEnabled());
    QCOMPARE(rig.page()->Pin2Mode(), button == "Button5");
    // Escape leaves the stars where they are; the time-out empties the box.
    QCOMPARE(rig.text("PinPadKey"), shown.last());
}

void PinPageTest::readCiphertext_data() {
    QTest::addColumn<bool>("pin2");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("pin");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QString>("clearBlock");  // a pattern where the fill is random
    // The default account 123456789012 gives the ISO 9564 account field 0000012345678901;
    // selecting ISO9564_1 cuts it to the transcode 1234567890.
    QTest::newRow("PIN1 ISO9564_0")
        << false << 1 << QByteArray("1234") << QByteArray("7") << "041235DCBA9876FE";
    QTest::newRow("PIN1 ISO9564_1")
        << false << 2 << QByteArray("1234") << QByteArray("7") << "1412341234567890";
    QTest::newRow("PIN1 ISO9564_3")
        << false << 3 << QByteArray("1234") << QByteArray("7") << "341235[0-9A-F]{10}";
    QTest::newRow("PIN1 IBM3624") << false << 4 << QByteArray("12345") << QByteArray("7")
                                  << "12345FFFFFFFFFFF";
    QTest::newRow("PIN1 ASCII") << false << 0 << QByteArray("2468") << QByteArray("7")
                                << "3234363820202020";
    QTest::newRow("PIN2 ISO9564_0")
        << true << 1 << QByteArray("9876") << QByteArray("730 123456789012") << "049877DCBA9876FE";
    QTest::newRow("PIN2 ISO9564_1")
        << true << 2 << QByteArray("9876") << QByteArray("730!1234567890") << "1498761234567890";
    QTest::newRow("PIN2 ISO9564_3") << true << 3 << QByteArray("98765")
                                    << QByteArray("730#123456789012") << "359877[0-9A-F]{10}";
}

void PinPageTest::readCiphertext() {
    QFETCH(bool, pin2);
    QFETCH(int, type);
    QFETCH(QByteArray, pin);
    QFETCH(QByteArray, read);
    QFETCH(QString, clearBlock);
    PinRig rig;
    QVERIFY(rig.portOpen);
    rig.selectPinType(type);
    const QString length = QStringLiteral("%1").arg(pin.size(), 2, 10, QLatin1Char('0'));
    rig.setText("edPinLength", length);
    rig.enterPin(pin2 ? "Button5" : "btEnablePin", pin.toStdString());
    QCOMPARE(rig.status(), kFinished);
    rig.click("btGetPin");
    QCOMPARE(rig.status(), QString("succeed in implementation"));
    QCOMPARE(rig.lastPayload(), read.toStdString());
    QCOMPARE(rig.text("edPinSerialNo"), QString("01"));
    QCOMPARE(rig.text("edPinRevLength"), length);
    const QString cipher = rig.text("edPinRevEncrypt");
    QCOMPARE(cipher.size(), 16);
    const QString clear = rig.text("PinMingWen");
    QCOMPARE(clear.toStdString(), ref::RefDecrypt(kPinKey, cipher.toStdString()));
    if (type == 3) {  // format 3 fills with A-F: XOR the account field back out to see it
        const std::string field = ref::XorHex(clear.toStdString(), "0000012345678901");
        QVERIFY2(QRegularExpression("^3" + length.right(1) + pin + "[A-F]+$")
                     .match(QString::fromStdString(field))
                     .hasMatch(),
                 field.c_str());
    }
    QVERIFY2(QRegularExpression("^" + clearBlock + "$").match(clear).hasMatch(), qPrintable(clear));
    QCOMPARE(rig.text("edPinDigits"), QString::fromLatin1(pin));
    QVERIFY(!rig.control<QPushButton>("btGetPin")->isEnabled());
    QCOMPARE(rig.text("PinPadKey"), QString(pin.size(), '*'));
}

void PinPageTest::refusals_data() {
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("focus");
    const QString keyIndex = "invalid PIN key no. value range:30-7F";
    const QString range = "account length range(04-20)";
    const QByteArray start = "btEnablePin", read2 = "read after PIN2", renew = "Button6",
                     mac = "btMakeMAC";
    QTest::newRow("PIN1 key 2F") << start << QStringList{"comboPinKeyNo=2F"} << keyIndex
                                 << QByteArray("comboPinKeyNo");
    QTest::newRow("PIN1 key 80") << start << QStringList{"comboPinKeyNo=80"} << keyIndex
                                 << QByteArray("comboPinKeyNo");
    QTest::newRow("PIN1 key not hex, bad account too")
        << start << QStringList{"comboPinKeyNo=zz", "edAccount=123"} << keyIndex
        << QByteArray("comboPinKeyNo");
    QTest::newRow("PIN1 ISO9564_0 account 3")
        << start << QStringList{"edAccount=123"} << range << QByteArray("edAccount");
    QTest::newRow("PIN1 ISO9564_3 account 21")
        << start << QStringList{"comboPinType=ISO9564_3", "edAccount=" + QString(21, '1')} << range
        << QByteArray("edAccount");
    QTest::newRow("PIN1 ISO9564_1 transcode 9")
        << start << QStringList{"comboPinType=ISO9564_1", "edAccount=123456789"}
        << "transcode no.length must be 10" << QByteArray("edAccount");
    QTest::newRow("read after PIN2, key 80")
        << read2 << QStringList{"comboPinKeyNo=80"} << keyIndex << QByteArray("comboPinKeyNo");
    QTest::newRow("read after PIN2, account 21")
        << read2 << QStringList{"edAccount=" + QString(21, '1')} << range
        << QByteArray("edAccount");
    QTest::newRow("renew key 80") << renew << QStringList{"comboPinKeyNo=80"} << keyIndex
                                  << QByteArray("comboPinKeyNo");
    QTest::newRow("renew data 15") << renew << QStringList{"Edit1=000650210527810"}
                                   << "account length range(16)" << QByteArray("Edit1");
    QTest::newRow("renew mode typed 63")
        << renew << QStringList{"ComboBox3=63"} << "invalid mode code value range:61-62"
        << QByteArray("ComboBox3");
    QTest::newRow("verify without an offset")
        << renew << QStringList{"ComboBox3=62"} << "PIN offset in Return Data won't be vacant"
        << QByteArray("Edit3");
    QTest::newRow("MAC key 2F") << mac << QStringList{"comboMakeMacKeyIndex=2F"}
                                << "invalid MAC key no. value range:30-7F"
                                << QByteArray("comboMakeMacKeyIndex");
    QTest::newRow("MAC data 15") << mac << QStringList{"memoMakeMacData=" + QString(15, '1')}
                                 << "the HEX  length in calculating MAC data must be even number"
                                 << QByteArray("memoMakeMacData");
    QTest::newRow("MAC data empty")
        << mac << QStringList{"memoMakeMacData=  \n"} << "please input the data calculating the MAC"
        << QByteArray("memoMakeMacData");
    QTest::newRow("MAC data not hex")
        << mac << QStringList{"memoMakeMacData=01GG"}
        << "the data calculating the MAC must be HEX characters" << QByteArray("memoMakeMacData");
}

void PinPageTest::refusals() {
    QFETCH(QByteArray, action);
    QFETCH(QStringList, settings);
    QFETCH(QString, status);
    QFETCH(QByteArray, focus);
    PinRig rig;
    QVERIFY(rig.portOpen);
    QVERIFY(ShowActive(rig));
    for (const QString& setting : settings) {
        const QString name = setting.section('=', 0, 0);
        const QString value = setting.section('=', 1);
        if (name == "comboPinType") {
            Choose(rig, "comboPinType", value);
        } else {
            rig.setText(name.toLatin1().constData(), value);
        }
    }
    if (action == "read after PIN2") {
        rig.page()->SetPin2Mode(true);
        rig.page()->btGetPinClick();
    } else {
        rig.click(action.constData());
    }
    QCOMPARE(rig.status(), status);
    QCOMPARE(QApplication::focusWidget(), rig.control(focus.constData()));
    QCOMPARE(rig.requests(), std::uint64_t{0});
    QVERIFY(rig.control<QPushButton>("btEnablePin")->isEnabled());
    QVERIFY(rig.control<QPushButton>("btCloseCom")->isEnabled());
}

void PinPageTest::renewAndVerify_data() {
    QTest::addColumn<QString>("storedTimeout");
    QTest::addColumn<bool>("answered");
    // The pad answers after 1.5 s: within the 30 s used when the key store has no TIMEOUT,
    // past a stored TIMEOUT of 1.
    QTest::newRow("no TIMEOUT on record") << QString() << true;
    QTest::newRow("TIMEOUT 1") << "1" << false;
}

void PinPageTest::renewAndVerify() {
    QFETCH(QString, storedTimeout);
    QFETCH(bool, answered);
    PinRig rig;
    QVERIFY(rig.portOpen);
    rig.setText("edPinLength", "04");
    rig.enterPin("btEnablePin", "4321");
    if (!storedTimeout.isEmpty()) {
        WriteKeyStore("PINRENEW", "TIMEOUT", storedTimeout.toLatin1().constData());
    }
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().delay = 1500ms; });
    rig.click("Button6");
    QCOMPARE(rig.lastPayload(), std::string("730a00065021052781000123456789012345"));
    if (!answered) {
        QCOMPARE(rig.status(), QString("failure in reading the PIN ,the failure reason "
                                       "is:excessive time in data reading"));
        QCOMPARE(rig.text("Edit3"), QString());
        return;
    }
    QCOMPARE(rig.status(), QString("succeed in PIN Renew/verify"));
    const std::string offset =
        ref::RefIbm3624Offset(kPinKey, "0006502105278100", "0123456789012345", "4321");
    QCOMPARE(rig.text("Edit3").toStdString(), offset);
    QCOMPARE(rig.text("edPinSerialNo"), QString("01"));
    QCOMPARE(rig.text("edPinRevLength"), QString("04"));

    // Verify sends the offset shown back; the pad answers 1 for a match.
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().delay = 0ms; });
    rig.setText("ComboBox3", "62");
    rig.click("Button6");
    QCOMPARE(rig.lastPayload(), "730b00065021052781000123456789012345" + offset);
    QCOMPARE(rig.status(), QString("succeed in PIN Renew/verify"));
    QCOMPARE(rig.text("Edit3"), QString("1"));

    // A new request that fails leaves no old answer beside its failure.
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().forcedStatus['7'] = 0xE9; });
    rig.setText("ComboBox3", "61");
    rig.click("Button6");
    QVERIFY(rig.status().startsWith("failure in reading the PIN ,the failure reason is:"));
    QCOMPARE(rig.text("Edit3"), QString());
}

void PinPageTest::verifyKeepsItsOffset_data() {
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<int>("forcedStatus");  // 0: none
    QTest::addColumn<QString>("status");
    QTest::newRow("validation data one short")
        << QStringList{"Edit1=012345678901234"} << 0 << "account length range(16)";
    QTest::newRow("key index out of range")
        << QStringList{"comboPinKeyNo=2F"} << 0 << "invalid PIN key no. value range:30-7F";
    QTest::newRow("the pad refuses")
        << QStringList{} << 0xE9
        << "failure in reading the PIN ,the failure reason is:Illegal data";
}

// A verify that is refused or fails gives Return Data its offset back, and the retry sends it.
void PinPageTest::verifyKeepsItsOffset() {
    QFETCH(QStringList, settings);
    QFETCH(int, forcedStatus);
    QFETCH(QString, status);
    PinRig rig;
    QVERIFY(rig.portOpen);
    // The verify checks the PIN entered last.
    rig.setText("edPinLength", "04");
    rig.enterPin("btEnablePin", "4321");
    rig.setText("ComboBox3", "62");
    rig.setText("Edit1", "0123456789012345");
    rig.setText("Edit3", "4711");
    const QString keyIndex = rig.text("comboPinKeyNo");
    for (const QString& setting : settings)
        rig.setText(setting.section('=', 0, 0).toLatin1().constData(), setting.section('=', 1));
    if (forcedStatus != 0) {
        rig.pad->With([forcedStatus](padsim::PadSimulator& sim) {
            sim.faults().forcedStatus['7'] = static_cast<std::uint8_t>(forcedStatus);
        });
    }
    rig.click("Button6");
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.text("Edit3"), QString("4711"));

    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().forcedStatus.clear(); });
    rig.setText("Edit1", "0123456789012345");
    rig.setText("comboPinKeyNo", keyIndex);
    rig.click("Button6");
    QCOMPARE(rig.status(), QString("succeed in PIN Renew/verify"));
    QVERIFY(QString::fromStdString(rig.lastPayload())
                .endsWith("0123456789012345"
                          "4711"));
}

void PinPageTest::mac_data() {
    QTest::addColumn<QString>("keyIndex");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("sent");
    const QByteArray header30 = "830";
    QTest::newRow("PBOC") << "30" << 0 << "0002030405060708090A"
                          << header30 + "1" + QByteArray::fromHex("0002030405060708090A");
    QTest::newRow("ANSI X9.9, bytes 01 to 08")
        << "30" << 1 << "0102030405060708" << QByteArray("8302\x01\x02\x03\x04\x05\x06\x07\x08");
    QTest::newRow("ANSI X9.19, 00 02 03")
        << "30" << 2 << "03020100FF" << header30 + "3" + QByteArray::fromHex("03020100FF");
    QTest::newRow("ISO 16609 at 7F") << "7F" << 3 << "00000000000000000000"
                                     << "87FA" + QByteArray(10, '\0');
    QTest::newRow("data on two lines")
        << "30" << 1 << "0102 0304\n0506" << header30 + "2" + QByteArray::fromHex("010203040506");
}

void PinPageTest::mac() {
    QFETCH(QString, keyIndex);
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(QByteArray, sent);
    PinRig rig;
    QVERIFY(rig.portOpen);
    rig.setText("comboMakeMacKeyIndex", keyIndex);
    rig.control<QComboBox>("comboMacType")->setCurrentIndex(type);
    rig.setText("memoMakeMacData", typed);
    rig.click("btMakeMAC");
    QCOMPARE(rig.status(), QString("MAC calculation ok"));
    QCOMPARE(rig.lastPayload(), sent.toStdString());
    const std::string key = keyIndex == "30" ? kPinKey : kMacKey7F;
    const std::string data = sent.mid(4).toHex().toUpper().toStdString();
    QCOMPARE(rig.text("edMakeMacResult").toStdString(), ExpectedMac(type, key, data));
}

void PinPageTest::macClearEmptiesThePinBoxes() {
    PinRig rig;
    QVERIFY(rig.portOpen);
    rig.setText("edPinLength", "04");
    rig.enterPin("btEnablePin", "1234");
    rig.click("btGetPin");
    rig.setText("memoMakeMacData", "0102030405060708");
    rig.click("btMakeMAC");
    const char* const boxes[] = {"memoMakeMacData", "edPinSerialNo",   "edPinRevLength",
                                 "PinMingWen",      "edPinRevEncrypt", "edMakeMacResult",
                                 "PinPadKey",       "edPinDigits"};
    for (const char* box : boxes) QVERIFY2(!rig.text(box).isEmpty(), box);
    rig.click("btCleanUpMac");
    for (const char* box : boxes) QVERIFY2(rig.text(box).isEmpty(), box);
    QCOMPARE(rig.status(), QString("MAC calculation ok"));
}

void PinPageTest::anotherOperationEndsTheEntry_data() {
    QTest::addColumn<bool>("newEntry");
    QTest::addColumn<QString>("status");
    QTest::newRow("MAC") << false << "MAC calculation ok";
    QTest::newRow("another PIN entry") << true << kFinished;
}

void PinPageTest::anotherOperationEndsTheEntry() {
    QFETCH(bool, newEntry);
    QFETCH(QString, status);
    PinRig rig;
    QVERIFY(rig.portOpen);
    rig.setText("edPinLength", "00");  // this entry would wait for Enter
    rig.setText("memoMakeMacData", "0102030405060708");
    WhenEntryRuns second(rig, padsim::Mode::PinEntry, kEntryStarted, [&] {
        if (!newEntry) return rig.click("btMakeMAC");
        rig.setText("edPinLength", "04");
        // The pad is in PIN entry already, so no scripted keys start: press them once the pad
        // has the second start.
        auto* keys = new QTimer(rig.w());
        QObject::connect(keys, &QTimer::timeout, [&rig, keys] {
            if (rig.requests() < 2) return;
            keys->stop();
            rig.pad->PressKeys("5678");
        });
        keys->start(20ms);
        rig.click("btEnablePin");
    });
    rig.enterPin("btEnablePin", "", 10s);
    QCOMPARE(rig.status(), status);
    QVERIFY(rig.control<QPushButton>("btCloseCom")->isEnabled());
    QCOMPARE(rig.control<QPushButton>("btGetPin")->isEnabled(), newEntry);
}

QTEST_MAIN(PinPageTest)
#include "pin_page_test.moc"
