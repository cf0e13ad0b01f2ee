// The PIN arithmetic and data operation pages: start-up contents, captions and typing limits of
// every input control, the PIN type change, and data encryption and decryption against the real
// driver and a simulated pad, checked with OpenSSL (reference_crypto.h).
#include <QApplication>
#include <QtTest>

#include "pad_rig.h"
#include "reference_crypto.h"

using namespace testsupport;
namespace ref = padsim::test;

class OperationPagesTest : public QObject {
    Q_OBJECT
private slots:
    void startupContents_data();
    void startupContents();
    void everyInputHasItsCaption();
    void pinTypeChange_data();
    void pinTypeChange();
    void dataCipher_data();
    void dataCipher();
    void dataRefusals_data();
    void dataRefusals();
    void dataClear();
};

void OperationPagesTest::startupContents_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("items");  // -1: not a list
    QTest::addColumn<int>("limit");  // characters the operator can type, -1: no limit
    const std::tuple<const char*, const char*, const char*, int, int> rows[] = {
        {"comboPinKeyNo", "Key index:", "30", 80, 2},
        {"comboPinType", "Pin type:", "ISO9564_0", 5, -1},
        {"comboHintAudio", "sound:", "0", 3, 1},
        {"edPinLength", "PIN length(DEC):", "06", 13, 2},
        {"edAccount", "AN or Transcode:", "123456789012", -1, 20},
        {"ComboBox1", "CR Code:", "0", 3, -1},
        {"ComboBox2", "Clear Code:", "0", 6, -1},
        {"PinPadKey", "key value:", "", -1, -1},
        {"edPinSerialNo", "Track number:", "", -1, -1},
        {"edPinRevLength", "Pin length:", "", -1, -1},
        {"edPinRevEncrypt", "Ciphertext PIN:", "", -1, -1},
        {"PinMingWen", "Cleartext PIN:", "", -1, -1},
        {"edPinDigits", "PIN digits:", "", -1, -1},
        {"ComboBox3", "Mode Code:", "61", 2, -1},
        {"Edit1", "Validated data:", "0006502105278100", -1, 16},
        {"Edit2", "BCD transfer Table:", "0123456789012345", -1, 16},
        {"Edit3", "Return Data:", "", -1, -1},
        {"comboMakeMacKeyIndex", "Key index:", "30", 80, 2},
        {"comboMacType", "MAC type:", "ANSI X9.9", 4, -1},
        {"memoMakeMacData", "input character(HEX):", "", -1, 2048},
        {"edMakeMacResult", "return MAC(HEX):", "", -1, -1},
        {"comboKeyIndex", "Key index:", "40", 80, 2},
        {"comboEncryptType", "arithmetic type:", "ECB", 2, -1},
        {"memoInputData", "ciphertext/cleartext(HEX):", "", -1, 2048},
        {"memoOutput", "Return Clphertext/Cleartext(HEX):", "", -1, 2048},
    };
    for (const auto& [name, caption, text, items, limit] : rows) {
        QTest::newRow(name) << QByteArray(name) << caption << text << items << limit;
    }
}

void OperationPagesTest::startupContents() {
    QFETCH(QByteArray, name);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(int, items);
    QFETCH(int, limit);
    PadRig rig;
    QWidget* control = rig.control(name.constData());
    QCOMPARE(control->accessibleName(), caption);
    QCOMPARE(rig.text(name.constData()), text);
    auto* combo = qobject_cast<QComboBox*>(control);
    QCOMPARE(combo ? combo->count() : -1, items);
    if (limit < 0) return;
    // Type one character more than the limit into the emptied control.
    QWidget* typing = combo ? combo->lineEdit() : control;
    rig.setText(name.constData(), "");
    if (auto* memo = qobject_cast<QPlainTextEdit*>(control)) {
        memo->setPlainText(QString(limit - 1, '1'));
        memo->moveCursor(QTextCursor::End);
    }
    QTest::keyClicks(typing, QString(limit < 100 ? limit + 1 : 2, '2'));
    QCOMPARE(rig.text(name.constData()).size(), limit);
}

void OperationPagesTest::everyInputHasItsCaption() {
    PadRig rig;
    for (const char* pageName : {"TabSheet5", "TabSheet6"}) {
        const QList<QWidget*> inputs = InputControls(rig.control(pageName));
        QVERIFY(inputs.size() >= 4);
        for (QWidget* input : inputs) {
            const QLabel* caption = CaptionOf(input);
            QVERIFY2(caption != nullptr, qPrintable(input->objectName()));
            QCOMPARE(input->accessibleName(), caption->text());
        }
    }
}

void OperationPagesTest::pinTypeChange_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("accountEnabled");
    QTest::addColumn<QString>("account");
    QTest::addColumn<int>("accountLimit");
    QTest::addColumn<QString>("longestLength");
    QTest::newRow("ASCII") << 0 << false << "123456789012" << 20 << "08";
    QTest::newRow("ISO9564_0") << 1 << true << "123456789012" << 20 << "12";
    QTest::newRow("ISO9564_1 cuts the account") << 2 << true << "1234567890" << 10 << "12";
    QTest::newRow("ISO9564_3") << 3 << true << "123456789012" << 20 << "12";
    QTest::newRow("IBM3624") << 4 << false << "123456789012" << 20 << "16";
}

void OperationPagesTest::pinTypeChange() {
    QFETCH(int, index);
    QFETCH(bool, accountEnabled);
    QFETCH(QString, account);
    QFETCH(int, accountLimit);
    QFETCH(QString, longestLength);
    PadRig rig;
    auto* type = rig.control<QComboBox>("comboPinType");
    auto* length = rig.control<QComboBox>("edPinLength");
    // Move away first so that every row is a change.
    type->setCurrentIndex(index == 1 ? 3 : 1);
    rig.setText("edPinLength", "10");
    type->setCurrentIndex(index);
    QCOMPARE(rig.control("edAccount")->isEnabled(), accountEnabled);
    QCOMPARE(rig.text("edAccount"), account);
    QCOMPARE(rig.text("edPinLength"), QString("06"));
    QCOMPARE(length->itemText(0), QString("00"));
    QCOMPARE(length->itemText(length->count() - 1), longestLength);
    QCOMPARE(length->count(), longestLength.toInt() + 1);
    if (!accountEnabled) return;
    rig.setText("edAccount", "");
    QTest::keyClicks(rig.control("edAccount"), QString(25, '7'));
    QCOMPARE(rig.text("edAccount").size(), accountLimit);
}

void OperationPagesTest::dataCipher_data() {
    QTest::addColumn<QString>("keyIndex");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("mode");
    const QString single = "1C587F1C13924FEF",
                  triple = "0123456789ABCDEFFEDCBA98765432100F1E2D3C4B5A6978";
    QTest::newRow("ECB, single DES at 40") << "40" << single << 0;
    QTest::newRow("CBC, single DES at 40") << "40" << single << 1;
    QTest::newRow("ECB, triple DES at 7F") << "7F" << triple << 0;
    QTest::newRow("CBC, triple DES at 30") << "30" << triple << 1;
}

void OperationPagesTest::dataCipher() {
    QFETCH(QString, keyIndex);
    QFETCH(QString, key);
    QFETCH(int, mode);
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.pad->With([&](padsim::PadSimulator& sim) {
        sim.SetKey(keyIndex.toInt(nullptr, 16), {key.toStdString(), "TDK"});
    });
    rig.setText("comboKeyIndex", keyIndex);
    rig.control<QComboBox>("comboEncryptType")->setCurrentIndex(mode);
    const QString clear = "0123456789ABCDEF00112233445566770000000000000000";
    const std::string k = key.toStdString(), d = clear.toStdString();
    const std::string cipher = mode == 0 ? ref::RefEncrypt(k, d) : ref::RefCbcEncrypt(k, d);

    rig.setText("memoInputData", clear);
    rig.click("btEncryptData");
    QCOMPARE(rig.status(), QString("encryption ok"));
    QCOMPARE(rig.payloads().back(), "9" + keyIndex.toStdString() + "12"[mode] + d);
    QCOMPARE(rig.text("memoOutput").toStdString(), cipher);

    rig.setText("memoInputData", rig.text("memoOutput"));
    rig.click("btDecipherData");
    QCOMPARE(rig.status(), QString("decryption ok"));
    QCOMPARE(rig.payloads().back(), "9" + keyIndex.toStdString() + "AB"[mode] + cipher);
    QCOMPARE(rig.text("memoOutput"), clear);
}

void OperationPagesTest::dataRefusals_data() {
    QTest::addColumn<bool>("decrypt");
    QTest::addColumn<QString>("keyIndex");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("focus");
    const QByteArray memo = "memoInputData", combo = "comboKeyIndex";
    const QString sixteen = "0123456789ABCDEF";
    QTest::newRow("key 80, no data") << false << "80"
                                     << ""
                                     << "invalid key no. value range:30-7F" << combo;
    QTest::newRow("key 2F") << true << "2F" << sixteen << "invalid key no. value range:30-7F"
                            << combo;
    QTest::newRow("encrypt nothing") << false << "40"
                                     << " \n"
                                     << "data which need to encrypted won't be vacant" << memo;
    QTest::newRow("decrypt nothing") << true << "40"
                                     << ""
                                     << "data which need to decrypted won't be vacant" << memo;
    QTest::newRow("encrypt 15") << false << "40" << sixteen.left(15)
                                << "data length which need to encrypted must be 16 times" << memo;
    QTest::newRow("decrypt 17") << true << "40" << sixteen + "0"
                                << "data length which need to decrypted must be 16 times" << memo;
    QTest::newRow("decrypt not hex")
        << true << "40"
        << "0123456789ABCDEX"
        << "data which need to decrypted must be HEX characters" << memo;
}

void OperationPagesTest::dataRefusals() {
    QFETCH(bool, decrypt);
    QFETCH(QString, keyIndex);
    QFETCH(QString, data);
    QFETCH(QString, status);
    QFETCH(QByteArray, focus);
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(ShowActive(rig));
    rig.setText("comboKeyIndex", keyIndex);
    rig.setText("memoInputData", data);
    rig.setText("memoOutput", "earlier result");
    rig.click(decrypt ? "btDecipherData" : "btEncryptData");
    QCOMPARE(rig.status(), status);
    QCOMPARE(QApplication::focusWidget(), rig.control(focus.constData()));
    QCOMPARE(rig.requests(), std::uint64_t{0});
    QCOMPARE(rig.text("memoOutput"), QString());
    QVERIFY(rig.control<QPushButton>("btEncryptData")->isEnabled());
}

void OperationPagesTest::dataClear() {
    PadRig rig;
    QVERIFY(rig.openPort());
    rig.setText("memoInputData", "0123456789ABCDEF");
    rig.setText("memoOutput", "FEDCBA9876543210");
    rig.click("btCleanUp");
    QCOMPARE(rig.text("memoInputData"), QString());
    QCOMPARE(rig.text("memoOutput"), QString());
    QCOMPARE(rig.status(), QString());
}

QTEST_MAIN(OperationPagesTest)
#include "operation_pages_test.moc"
