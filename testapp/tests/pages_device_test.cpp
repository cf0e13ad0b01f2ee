// The version, keypad parameter and authentication controls against the real driver and a
// simulated pad: what the pad receives, what the fields show and what the key store records.
#include <QApplication>
#include <QRadioButton>
#include <QtTest>

#include "pad_rig.h"

using namespace testsupport;

class PagesDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void readVersion_data();
    void readVersion();
    void customerInfoRoundTrip();
    void emptyCustomerInfoIsRefused();
    void readCustomerInfoWithLowBattery();
    void keyValueLengths_data();
    void keyValueLengths();
    void keyValuesReachThePad();
    void controlCodes_data();
    void controlCodes();
    void serialSpeedChangeReopensThePort();
    void serialSpeedPastTheBaudListLeavesThePortClosed();
    void initAttestationFetchesAChallenge();
    void initAttestationWithTypedData();
    void mutualAuthentication();
    void mutualAuthenticationWithoutKeyOnRecord();
    void setPasswordIsUnbound();
};

void PagesDeviceTest::readVersion_data() {
    QTest::addColumn<bool>("lowBattery");
    QTest::addColumn<QString>("status");
    QTest::newRow("normal") << false << "succeed in implementation";
    QTest::newRow("low battery") << true
                                 << "read the user information:Low battery, Need to replace "
                                    "the battery ";
}

void PagesDeviceTest::readVersion() {
    QFETCH(bool, lowBattery);
    QFETCH(QString, status);
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.pad->With([&](padsim::PadSimulator& sim) { sim.faults().lowBattery = lowBattery; });
    rig.click("btGetVersion");
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.text("edRemark"), QString("PADSIM01"));
    QCOMPARE(rig.text("edProductType"), QString("SIM731"));
    QCOMPARE(rig.text("edHardwareVersion"), QString("R4K"));
    QCOMPARE(rig.text("edSoftwareVersion"), QString("110"));
    QCOMPARE(rig.text("edDate"), QString("2612"));
    QCOMPARE(rig.text("edProductNO"), QString("0001"));
    QVERIFY(rig.control<QPushButton>("btGetVersion")->isEnabled());

    // A failed read leaves the fields empty.
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().forcedStatus['3'] = 0xE9; });
    rig.click("btGetVersion");
    QCOMPARE(rig.status(),
             QString("failure in user information reading,the failure reason is:Illegal data"));
    QCOMPARE(rig.text("edProductType"), QString());
}

void PagesDeviceTest::customerInfoRoundTrip() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.control<QPlainTextEdit>("memoCustInof")->setFocus();
    QTest::keyClicks(rig.control("memoCustInof"), "bank branch 7");
    rig.click("btSetCustomerInfo");
    QCOMPARE(rig.status(), QString("succeed in setting the user information"));
    QCOMPARE(rig.countPayload("3bank branch 7"), std::size_t{1});

    rig.setText("memoCustInof", "");
    rig.click("btGetCustomerInfor");
    QCOMPARE(rig.status(), QString("implementation ok"));
    QCOMPARE(rig.text("memoGetCustInfo"), QString("bank branch 7"));
    QCOMPARE(rig.text("memoCustInof"), QString("bank branch 7"));
}

void PagesDeviceTest::emptyCustomerInfoIsRefused() {
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(ShowActive(rig));
    rig.click("btSetCustomerInfo");
    QCOMPARE(rig.status(), QString("no user information is forbidden"));
    QCOMPARE(QApplication::focusWidget(), rig.control("memoCustInof"));
    QCOMPARE(rig.requests(), std::uint64_t{0});
    QVERIFY(rig.control<QPushButton>("btSetCustomerInfo")->isEnabled());
}

void PagesDeviceTest::readCustomerInfoWithLowBattery() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.pad->With([](padsim::PadSimulator& sim) {
        sim.Receive("");  // nothing; the area is set through requests below
        sim.faults().lowBattery = true;
    });
    rig.setText("memoCustInof", "info");
    rig.click("btSetCustomerInfo");
    rig.setText("edKeyboardMainValue", "000102030405060708090A0B0C0D0E0F");
    rig.setText("edLeftKey", "10111213");
    rig.setText("edRightKey", "14151617");
    rig.click("btSetKeyboard");
    QCOMPARE(rig.status(), QString("succeed in setting the keyboard value"));
    for (const char* name : {"memoCustInof", "edKeyboardMainValue", "edLeftKey", "edRightKey"}) {
        rig.setText(name, "");
    }
    rig.click("btGetCustomerInfor");
    QCOMPARE(rig.status(),
             QString("read user information:Low battery, Need to replace the battery "));
    QCOMPARE(rig.text("memoGetCustInfo"), QString("info"));
    QCOMPARE(rig.text("memoCustInof"), QString("info"));
    QCOMPARE(rig.text("edKeyboardMainValue"), QString("000102030405060708090A0B0C0D0E0F"));
    QCOMPARE(rig.text("edLeftKey"), QString("10111213"));
    QCOMPARE(rig.text("edRightKey"), QString("14151617"));
}

void PagesDeviceTest::keyValueLengths_data() {
    QTest::addColumn<int>("mainLength");
    QTest::addColumn<int>("leftLength");
    QTest::addColumn<int>("rightLength");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("focus");
    QTest::newRow("main 31, others bad too")
        << 31 << 3 << 3 << "master keyboard value  must be 32-HEX character"
        << QByteArray("edKeyboardMainValue");
    QTest::newRow("main empty") << 0 << 8 << 8 << "master keyboard value  must be 32-HEX character"
                                << QByteArray("edKeyboardMainValue");
    QTest::newRow("left 7") << 32 << 7 << 3
                            << "left function  keyboard value must be 8-HEX character"
                            << QByteArray("edLeftKey");
    QTest::newRow("right 0") << 32 << 8 << 0
                             << "wrong right  function  keyboard value must be 8-HEX character"
                             << QByteArray("edRightKey");
}

void PagesDeviceTest::keyValueLengths() {
    QFETCH(int, mainLength);
    QFETCH(int, leftLength);
    QFETCH(int, rightLength);
    QFETCH(QString, status);
    QFETCH(QByteArray, focus);
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(ShowActive(rig));
    rig.setText("edKeyboardMainValue", QString(mainLength, '1'));
    rig.setText("edLeftKey", QString(leftLength, '2'));
    rig.setText("edRightKey", QString(rightLength, '3'));
    rig.click("btSetKeyboard");
    QCOMPARE(rig.status(), status);
    QCOMPARE(QApplication::focusWidget(), rig.control(focus.constData()));
    QCOMPARE(rig.requests(), std::uint64_t{0});
    QVERIFY(rig.control<QPushButton>("btSetKeyboard")->isEnabled());
}

void PagesDeviceTest::keyValuesReachThePad() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.setText("edKeyboardMainValue", "303132333435363738392E2A0D1B0841");
    rig.setText("edLeftKey", "42434445");
    rig.setText("edRightKey", "46474849");
    rig.click("btSetKeyboard");
    QCOMPARE(rig.status(), QString("succeed in setting the keyboard value"));
    QCOMPARE(rig.payloads(),
             std::vector<std::string>{"4303132333435363738392E2A0D1B08414243444546474849"});
}

void PagesDeviceTest::controlCodes_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("invalidate");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("status");
    const QString ok = "set the control code ok";
    QTest::newRow("0/32") << 0 << "32" << false << "032" << ok;
    QTest::newRow("1/2A invalidation") << 1 << "2A" << true << "1AA" << ok;
    QTest::newRow("1/2A resume") << 1 << "2A" << false << "12A" << ok;
    QTest::newRow("2/3C") << 2 << "3C" << false << "23C" << ok;
    QTest::newRow("4/16 decimal") << 4 << "16" << false << "416" << ok;
    QTest::newRow("6/33 no reopen") << 6 << "33" << false << "633" << ok;
    QTest::newRow("A/15") << 10 << "15" << false << "A15" << ok;
    QTest::newRow("B/21") << 11 << "21" << false << "B21" << ok;
    QTest::newRow("pad refuses 7/39")
        << 7 << "39" << false << "739"
        << "failure in setting the control code,failure reason is:Wrong Parameter type";
}

void PagesDeviceTest::controlCodes() {
    QFETCH(int, position);
    QFETCH(QString, value);
    QFETCH(bool, invalidate);
    QFETCH(QString, sent);
    QFETCH(QString, status);
    PadRig rig;
    QVERIFY(rig.openPort("115200"));
    auto* code = rig.control<QComboBox>("comboControlCode");
    code->setCurrentIndex(position);
    QCOMPARE(!rig.control("RadioGroup1")->isHidden(), position == 1);
    QCOMPARE(!rig.control("Label52")->isHidden(), position == 1);
    if (position == 1) {
        const char* radio =
            invalidate ? "keypad invalidation temporarily" : "keypad resume temporarily";
        for (auto* button : rig.control("RadioGroup1")->findChildren<QRadioButton*>()) {
            if (button->text() == radio) button->setChecked(true);
        }
    }
    rig.setText("edControlCode", value);
    rig.click("btSetControlCode");
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.payloads(), std::vector<std::string>{"5" + sent.toStdString()});
    QCOMPARE(int(rig.lineSpeed()), int(B115200));
    QCOMPARE(rig.text("comboBoundRate"), QString("115200"));
    const QString timeout = ReadKeyStore("PINRENEW", "TIMEOUT");
    QCOMPARE(timeout, position == 2 ? QString("60") : QString());
    QVERIFY(rig.control<QPushButton>("btSetControlCode")->isEnabled());
}

void PagesDeviceTest::serialSpeedChangeReopensThePort() {
    PadRig rig;
    QVERIFY(rig.openPort("115200"));
    QCOMPARE(int(rig.lineSpeed()), int(B115200));
    rig.control<QComboBox>("comboControlCode")->setCurrentIndex(6);
    QCOMPARE(rig.control<QLabel>("labelControlCode")->text(),
             QString("set communication parameter"));
    rig.setText("edControlCode", "44");
    rig.click("btSetControlCode");
    QCOMPARE(rig.status(), QString("set the control code ok and succeed in opening the serial"));
    QCOMPARE(rig.text("comboBoundRate"), QString("9600"));
    QCOMPARE(int(rig.lineSpeed()), int(B9600));
    QVERIFY(rig.control<QPushButton>("btCloseCom")->isEnabled());
    // The reopened port works.
    rig.click("btGetVersion");
    QCOMPARE(rig.status(), QString("succeed in implementation"));
    QCOMPARE(rig.payloads(), (std::vector<std::string>{"5644", "3"}));
}

void PagesDeviceTest::serialSpeedPastTheBaudListLeavesThePortClosed() {
    PadRig rig;
    QVERIFY(rig.openPort("115200"));
    // A speed the operator typed and confirmed does not become an eighth entry.
    auto* baud = rig.control<QComboBox>("comboBoundRate");
    baud->lineEdit()->clear();
    QTest::keyClicks(baud, "57600");
    QTest::keyClick(baud, Qt::Key_Return);
    QCOMPARE(baud->count(), 7);
    rig.control<QComboBox>("comboControlCode")->setCurrentIndex(6);
    rig.setText("edControlCode", "48");
    rig.click("btSetControlCode");
    // 0x48 names no entry of the seven baud rates: the empty baud text cannot be converted.
    QCOMPARE(rig.countPayload("5648"), std::size_t{1});
    QCOMPARE(rig.text("comboBoundRate"), QString());
    QCOMPARE(rig.dialogs.requests.size(), std::size_t{1});
    QCOMPARE(rig.dialogs.requests[0].text, QString("'' is not a valid integer value"));
    QVERIFY(rig.control<QPushButton>("btOpenCom")->isEnabled());
    QVERIFY(!rig.control<QPushButton>("btCloseCom")->isEnabled());
    char reply[256] = {};
    QCOMPARE(rig.shared().Entries().PinPad_GetCustInfo(reply), -1);
}

void PagesDeviceTest::initAttestationFetchesAChallenge() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.click("btInitAuthorization");
    QCOMPARE(rig.status(), QString("initial authorization succeed"));
    const std::string challenge =
        rig.pad->With([](padsim::PadSimulator& sim) { return sim.lastChallenge(); });
    QCOMPARE(challenge.size(), std::size_t{32});
    QCOMPARE(rig.text("edAuthorizationData"), QString::fromStdString(challenge));
    QCOMPARE(rig.payloads(),
             (std::vector<std::string>{":A030303030303030303030303030303030", ":80" + challenge}));
    QCOMPARE(ReadKeyStore("INIT_AUTH", "AUTH"), QString::fromStdString(challenge));
    QVERIFY(KeyStoreText(rig.folder).contains("[INIT_AUTH]"));

    // The next start shows the recorded data in the field.
    rig.window.reset();
    rig.window = std::make_unique<shell::TfmTestQm731>();
    QCOMPARE(rig.text("edAuthorizationData"), QString::fromStdString(challenge));
}

void PagesDeviceTest::initAttestationWithTypedData() {
    PadRig rig;
    QVERIFY(rig.openPort());
    const QString data = "00112233445566778899AABBCCDDEEFF";
    rig.setText("edAuthorizationData", data);
    rig.click("btInitAuthorization");
    QCOMPARE(rig.status(), QString("initial authorization succeed"));
    QCOMPARE(rig.payloads(), std::vector<std::string>{":80" + data.toStdString()});
    QCOMPARE(ReadKeyStore("INIT_AUTH", "AUTH"), data);
}

void PagesDeviceTest::mutualAuthentication() {
    PadRig rig;
    QVERIFY(rig.openPort());
    const std::string key = "0123456789ABCDEFFEDCBA9876543210";
    rig.pad->With([&](padsim::PadSimulator& sim) { sim.SetKey(5, {key, "IMK"}); });
    WriteKeyStore("KEY_MINWEN", "05_1", key.c_str());
    const QString authData = "00112233445566778899AABBCCDDEEFF";
    rig.setText("edAuthorizationData", authData);
    rig.click("btInitAuthorization");
    QCOMPARE(rig.status(), QString("initial authorization succeed"));

    rig.setText("ComboInitKey", "05");
    rig.click("btBidirectionAuthorization");
    QCOMPARE(rig.status(), QString("bi-directonal authorization ok"));
    const std::string challenge =
        rig.pad->With([](padsim::PadSimulator& sim) { return sim.lastChallenge(); });
    QCOMPARE(rig.text("AuthRandom").size(), 32);
    // The pad proves it holds the key: its answer is the key enciphering the host's answer,
    // which is the authorization data enciphering the key's encipherment of the random.
    auto des = rig.shared().Entries().PinPad_TriUntriDes;
    const QByteArray random = rig.text("AuthRandom").toLatin1();
    char stepOne[64] = {}, hostAnswer[64] = {}, padAnswer[64] = {};
    des(random.constData(), key.c_str(), stepOne, 0);
    des(stepOne, authData.toLatin1().constData(), hostAnswer, 0);
    des(hostAnswer, key.c_str(), padAnswer, 0);
    QCOMPARE(rig.text("edReturnAuthorization"), QString::fromLatin1(padAnswer));
    const auto log = rig.payloads();
    QCOMPARE(log.at(log.size() - 2), ":05" + random.toStdString());
    QCOMPARE(log.back(), ":90" + std::string(hostAnswer));
}

void PagesDeviceTest::mutualAuthenticationWithoutKeyOnRecord() {
    PadRig rig;
    QVERIFY(rig.openPort());
    // The pad holds the key, but the key store has no record of it.
    rig.pad->With([](padsim::PadSimulator& sim) {
        sim.SetKey(5, {"0123456789ABCDEFFEDCBA9876543210", "IMK"});
    });
    WriteKeyStore("KEY_MINWEN", "05_1", "");
    WriteKeyStore("KEY_ENCRYPT", "06", "0123456789ABCDEF");
    rig.setText("ComboInitKey", "05");
    rig.click("btBidirectionAuthorization");
    QCOMPARE(rig.status(),
             QString("matched key which hasn't been downloaded,please download the matched key"));
    const std::string challenge =
        rig.pad->With([](padsim::PadSimulator& sim) { return sim.lastChallenge(); });
    QCOMPARE(rig.text("AuthRandom"), QString::fromStdString(challenge));
    QCOMPARE(rig.requests(), std::uint64_t{1});
    QVERIFY(rig.control<QPushButton>("btBidirectionAuthorization")->isEnabled());

    // A cipher-text record counts as well: the driver is asked, and refuses the empty
    // authorization data before it sends anything.
    WriteKeyStore("KEY_ENCRYPT", "05", "0123456789ABCDEFFEDCBA9876543210");
    rig.click("btBidirectionAuthorization");
    QCOMPARE(rig.status(), QString("bi-directonal authorization failure,failure reason is:wrong "
                                   "parameter fed into"));
    QCOMPARE(rig.requests(), std::uint64_t{2});
}

void PagesDeviceTest::setPasswordIsUnbound() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.setText("ComboBox4", "2");
    rig.setText("auth_password", QString(32, 'B'));
    rig.click("SetPassword");
    QCOMPARE(rig.status(), QString("failure in selecting function"));
    QCOMPARE(rig.requests(), std::uint64_t{0});
    QVERIFY(rig.control<QPushButton>("btGetVersion")->isEnabled());
}

QTEST_MAIN(PagesDeviceTest)
#include "pages_device_test.moc"
