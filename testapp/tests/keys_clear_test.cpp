// The clear-text half of the key management page against the real driver and a simulated pad:
// what the pad receives, the verify codes and check values shown, the key store records, the
// refusals with their focus moves, and key parts typed on the pad.
#include <QApplication>
#include <QCheckBox>
#include <QtTest>

#include "key_page_support.h"

using namespace testsupport;
using padsim::test::RefVerifyCode;
using padsim::test::XorHex;

namespace {

const QString a16 = "0123456789ABCDEF", b16 = "FEDCBA9876543210", c16 = "89ABCDEF01234567";
const QString a32 = a16 + b16, b32 = c16 + a16, c32 = b16 + c16;
const QString a48 = a32 + c16, b48 = b32 + b16, c48 = c32 + a16;
const QString kMask = "****************";
const QString kKeyEntryStatus = "Please input the clear text key from EPP";
const QString kUnsupported =
    "at present ,don't support this combination code please other combination code";

QString Xor(const QString& a, const QString& b) { return Q(XorHex(Latin1(a), Latin1(b))); }
QString Kcv(const QString& key) { return Q(RefVerifyCode(Latin1(key))); }

void ShowActive(PadRig& rig) {
    rig.window->show();
    rig.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.w()));
}

void SetParts(const PadRig& rig, const QStringList& parts) {
    const char* const names[3] = {"edPin1", "edPin2", "edPin3"};
    for (int i = 0; i < 3; ++i) rig.setText(names[i], i < parts.size() ? parts[i] : QString());
}

int PadKeyLength(const PadRig& rig, int index) {
    return rig.pad->With([index](padsim::PadSimulator& sim) {
        const auto key = sim.Key(index);
        return key ? int(key->value.size()) : 0;
    });
}

QString PadKey(const PadRig& rig, int index) {
    return rig.pad->With([index](padsim::PadSimulator& sim) {
        const auto key = sim.Key(index);
        return key ? Q(key->value) : QString();
    });
}

}  // namespace

class KeysClearTest : public QObject {
    Q_OBJECT
private slots:
    void startUpAndCaptions();
    void combinationCodeChange_data();
    void combinationCodeChange();
    void clearKeyEndToEnd_data();
    void clearKeyEndToEnd();
    void refusals_data();
    void refusals();
    void keyIndexRefillsTheParts_data();
    void keyIndexRefillsTheParts();
    void verifyCodeDifferingFromTheCheckValueIsReported();
    void entryOnThePad_data();
    void entryOnThePad();
    void anotherOperationEndsTheEntry();
    void partsTypedOnThePadCombine();
};

void KeysClearTest::startUpAndCaptions() {
    PadRig rig;
    ShowActive(rig);
    QCOMPARE(rig.text("edPin1"), QString("7E4D19C0A2F6385D0C9E7F2A64F3D8350A6E2C97F4D3836E"));
    QCOMPARE(rig.text("comboPinLength"), QString("8"));
    QCOMPARE(rig.text("comboMixCode"), QString("30"));
    QCOMPARE(rig.control<QLabel>("Label23")->text(), QString("combined code:"));
    QCOMPARE(rig.control<QLabel>("CheckValue1")->text(), Kcv(rig.text("edPin1")));
    for (const char* name : {"edPin1", "edPin2", "edPin3"}) QVERIFY(rig.control(name)->isEnabled());
    QVERIFY(!rig.control("Button3")->isEnabled());
    const std::pair<const char*, const char*> lower[] = {{"comboDecipherNo", "00"},
                                                         {"comboEncryptNo", "10"},
                                                         {"comboEncryptMark", "TMK"},
                                                         {"comboEnryptLength", "8"},
                                                         {"Hint", "0"},
                                                         {"KeyLength", "16"},
                                                         {"CR", "0"},
                                                         {"Clear", "0"}};
    for (const auto& [name, text] : lower) QCOMPARE(rig.text(name), QString(text));
    QVERIFY(rig.control<QCheckBox>("CheckBox1")->isChecked());
    QVERIFY(rig.control<QCheckBox>("IsVerify")->isChecked());

    // The 48-character test key stays whole under the length "8"; typing is held to 16.
    auto* part1 = rig.control<QLineEdit>("edPin1");
    part1->setFocus();
    part1->end(false);
    QTest::keyClick(part1, Qt::Key_A);
    QCOMPARE(part1->text().size(), 48);
    part1->clear();
    QTest::keyClicks(part1, QString(20, 'A'));
    QCOMPARE(part1->text(), QString(16, 'A'));

    // Every input control is found by the caption the operator reads beside it.
    QWidget* page = rig.control("TabSheet4");
    QHash<QWidget*, QString> captions;
    for (QLabel* label : page->findChildren<QLabel*>()) {
        if (label->buddy()) captions[label->buddy()] = label->text();
    }
    int inputs = 0;
    for (QWidget* control : page->findChildren<QWidget*>()) {
        const bool isInput = qobject_cast<QComboBox*>(control) ||
                             (qobject_cast<QLineEdit*>(control) &&
                              !qobject_cast<QComboBox*>(control->parentWidget()));
        if (!isInput) continue;
        ++inputs;
        QVERIFY2(captions.contains(control), qPrintable(control->objectName()));
        QCOMPARE(control->accessibleName(), captions[control]);
    }
    QCOMPARE(inputs, 19);
}

void KeysClearTest::combinationCodeChange_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("download");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("caption");
    // Per part: e enabled and kept, c enabled and cleared, - disabled and cleared, x disabled
    // and kept.
    QTest::addColumn<QString>("parts");
    QTest::addColumn<QStringList>("lengths");
    QTest::addColumn<int>("lengthEntry");
    QTest::addColumn<int>("typingLimit");
    const QStringList plain = {"8", "16", "24"};
    const QStringList onPad = {"8", "16", "24", "32", "40", "48"};
    QTest::newRow("30") << "30"
                        << "" << true << false << "combined code:"
                        << "e--" << plain << 0 << 16;
    QTest::newRow("31, 24 bytes") << "31"
                                  << "" << true << false << "combined code:"
                                  << "eee" << plain << 2 << 48;
    QTest::newRow("32, 24 bytes") << "32"
                                  << "" << true << false << "combined code:"
                                  << "ee-" << plain << 2 << 24;
    QTest::newRow("33") << "33"
                        << "" << true << false << "combined code:"
                        << "eee" << QStringList{"24"} << 0 << 16;
    QTest::newRow("34, 16 bytes") << "34"
                                  << "" << true << false << "combined code:"
                                  << "ee-" << plain << 1 << 32;
    QTest::newRow("40") << "40"
                        << "" << false << true << "Manually Input:"
                        << "c--" << plain << 0 << 16;
    QTest::newRow("41, 48") << "41"
                            << "" << false << true << "Manually Input:"
                            << "c--" << onPad << 5 << 48;
    QTest::newRow("42, 32") << "42"
                            << "" << false << true << "Manually Input:"
                            << "-c-" << onPad << 3 << 48;
    QTest::newRow("43, 16") << "43"
                            << "" << false << true << "Manually Input:"
                            << "--c" << onPad << 1 << 32;
    QTest::newRow("typed code") << "31"
                                << "35" << true << false << "combined code:"
                                << "xxx" << plain << 0 << -1;
}

void KeysClearTest::combinationCodeChange() {
    QFETCH(QString, code);
    QFETCH(QString, typed);
    QFETCH(bool, download);
    QFETCH(bool, manual);
    QFETCH(QString, caption);
    QFETCH(QString, parts);
    QFETCH(QStringList, lengths);
    QFETCH(int, lengthEntry);
    QFETCH(int, typingLimit);
    PadRig rig;
    QVERIFY(rig.openPort());
    Choose(rig, "comboMixCode", "31");  // every part enabled
    SetParts(rig, {"AB", "AB", "AB"});
    Choose(rig, "comboMixCode", code);
    if (!typed.isEmpty()) {
        rig.setText("comboMixCode", typed);
        QCOMPARE(rig.status(), QString("this combination code has been cancelled in  use"));
    }
    QCOMPARE(rig.control("btDownloadKey")->isEnabled(), download);
    QCOMPARE(rig.control("Button3")->isEnabled(), manual);
    QCOMPARE(rig.control<QLabel>("Label23")->text(), caption);
    QCOMPARE(rig.control("comboMixCode")->accessibleName(), caption);
    auto* lengthList = rig.control<QComboBox>("comboPinLength");
    QStringList items;
    for (int i = 0; i < lengthList->count(); ++i) items << lengthList->itemText(i);
    QCOMPARE(items, lengths);
    QCOMPARE(lengthList->currentIndex(), 0);
    const char* const names[3] = {"edPin1", "edPin2", "edPin3"};
    QLineEdit* typeInto = nullptr;
    for (int i = 0; i < 3; ++i) {
        auto* part = rig.control<QLineEdit>(names[i]);
        const QChar state = parts[i];
        QCOMPARE(part->isEnabled(), state == 'e' || state == 'c');
        QCOMPARE(part->text(), QString(state == 'e' || state == 'x' ? "AB" : ""));
        if (part->isEnabled() && !typeInto) typeInto = part;
    }
    lengthList->setCurrentIndex(lengthEntry);
    if (typingLimit < 0) return;
    rig.window->show();
    typeInto->clear();
    typeInto->setFocus();
    QTest::keyClicks(typeInto, QString(60, 'A'));
    QCOMPARE(typeInto->text().size(), typingLimit);
}

void KeysClearTest::clearKeyEndToEnd_data() {
    QTest::addColumn<QString>("keyNo");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("lengthEntry");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("combined");
    QTest::newRow("30 at 1F") << "1F"
                              << "30" << 0 << QStringList{a16, "", ""} << "1F01" + a16 << a16;
    QTest::newRow("31, 16 bytes: 0512") << "05"
                                        << "31" << 1 << QStringList{a32, b32, c32}
                                        << "0512" + a32 + b32 + c32 << Xor(Xor(a32, b32), c32);
    QTest::newRow("31, equal parts")
        << "05"
        << "31" << 0 << QStringList{a16, a16, a16} << "0511" + a16 + a16 + a16 << a16;
    QTest::newRow("32, lower case")
        << "05"
        << "32" << 1 << QStringList{a16.toLower(), b16.toLower(), ""}
        << "0522" + a16.toLower() + b16.toLower() << "01234567FEDCBA9889ABCDEF76543210";
    QTest::newRow("33: 0533") << "05"
                              << "33" << 0 << QStringList{a16, b16, c16} << "0533" + a16 + b16 + c16
                              << a16 + b16 + c16;
    QTest::newRow("34, 24 bytes") << "05"
                                  << "34" << 2 << QStringList{a48, b48, ""} << "0543" + a48 + b48
                                  << Xor(a48, b48);
}

void KeysClearTest::clearKeyEndToEnd() {
    QFETCH(QString, keyNo);
    QFETCH(QString, code);
    QFETCH(int, lengthEntry);
    QFETCH(QStringList, parts);
    QFETCH(QString, request);
    QFETCH(QString, combined);
    PadRig rig;
    QVERIFY(rig.openPort());
    Choose(rig, "comboKeyNo", keyNo);
    Choose(rig, "comboMixCode", code);
    rig.control<QComboBox>("comboPinLength")->setCurrentIndex(lengthEntry);
    SetParts(rig, parts);
    const char* const checkNames[3] = {"CheckValue1", "CheckValue2", "CheckValue3"};
    for (int i = 0; i < 3; ++i) {
        const int size = int(parts[i].size());
        const QString expected = size == 16 || size == 32 || size == 48 ? Kcv(parts[i]) : "";
        QCOMPARE(rig.control<QLabel>(checkNames[i])->text(), expected);
    }
    QCOMPARE(rig.control<QLabel>("CheckValueKey")->text(), Kcv(combined));

    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), QString("succeed in downloading the clear text key"));
    QCOMPARE(rig.countPayload(Latin1("1" + request)), std::size_t{1});
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), Kcv(combined));
    QCOMPARE(PadKey(rig, keyNo.toInt(nullptr, 16)), combined);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(Stored("KEY_MINWEN", keyNo + QString("_%1").arg(i + 1)), parts[i]);
    }
    QCOMPARE(Stored("KEY_MINWEN", keyNo + "_V"), combined);
    QVERIFY(rig.control("btDownloadKey")->isEnabled());
}

void KeysClearTest::refusals_data() {
    QTest::addColumn<QString>("keyNo");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("typedCode");
    QTest::addColumn<int>("lengthEntry");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("focus");  // empty: the focus is not moved
    const QByteArray download = "btDownloadKey";
    const QString invalidIndex = "invalid key no.(value range:00-1F)";
    const QStringList three16 = {a16, b16, c16};
    QTest::newRow("empty index") << ""
                                 << "30"
                                 << "" << 0 << three16 << download
                                 << "vacant key no. is forbidden(value range : 00 - 1F)"
                                 << QByteArray("comboKeyNo");
    for (const char* index : {"20", "1f", "G0", "1"}) {
        QTest::addRow("index %s", index)
            << index << "30"
            << "" << 0 << three16 << download << invalidIndex << QByteArray("comboKeyNo");
    }
    QTest::newRow("31 part 2 empty")
        << "05"
        << "31"
        << "" << 0 << QStringList{a16, "", c16} << download
        << "in the second  part clear text key can't be vacant" << QByteArray("edPin2");
    QTest::newRow("31 part 3 empty")
        << "05"
        << "31"
        << "" << 0 << QStringList{a16, b16, ""} << download
        << "in the third  part clear text key can't be vacant" << QByteArray("edPin3");
    QTest::newRow("31 part 1 short")
        << "05"
        << "31"
        << "" << 0 << QStringList{a16.left(15), b16, c16} << download
        << "in the first part clear test key length is not long enough" << QByteArray("edPin1");
    QTest::newRow("31 part 3 long")
        << "05"
        << "31"
        << "" << 0 << QStringList{a16, b16, c16 + "0"} << download
        << "in the third  part clear test key length is not long enough" << QByteArray("edPin3");
    QTest::newRow("32 part 2 empty")
        << "05"
        << "32"
        << "" << 1 << QStringList{a16, "", ""} << download
        << "in the second  part clear text key can't be vacant" << QByteArray();
    QTest::newRow("32 part 2 short")
        << "05"
        << "32"
        << "" << 1 << QStringList{a16, b16.left(15), ""} << download
        << "in the second  part clear test key length is not long enough" << QByteArray("edPin2");
    QTest::newRow("33 part 1 short")
        << "05"
        << "33"
        << "" << 0 << QStringList{a16.left(15), b16, c16} << download
        << "in the first part clear test key length is 8 bytes(16 character)" << QByteArray();
    QTest::newRow("33 part 2 short")
        << "05"
        << "33"
        << "" << 0 << QStringList{a16, b16.left(15), c16} << download
        << QString::fromUtf8(
               "in the second part clear test key length is 8 bytes\uFF0816 character\uFF09")
        << QByteArray();
    QTest::newRow("33 part 3 long")
        << "05"
        << "33"
        << "" << 0 << QStringList{a16, b16, c16 + "0"} << download
        << QString::fromUtf8(
               "in the third part clear test key length is 8 bytes\uFF0816 character\uFF09")
        << QByteArray();
    QTest::newRow("34 part 2 empty")
        << "05"
        << "34"
        << "" << 0 << QStringList{a16, "", ""} << download
        << "in the second  part clear test key length is not long enough" << QByteArray("edPin2");
    QTest::newRow("34 part 1 wrong")
        << "05"
        << "34"
        << "" << 0 << QStringList{a32, b16, ""} << download
        << "in the first part clear test key length error" << QByteArray("edPin1");
    QTest::newRow("34 part 2 wrong")
        << "05"
        << "34"
        << "" << 0 << QStringList{a16, b32, ""} << download
        << "in the second part clear test key length error" << QByteArray("edPin2");
    QTest::newRow("30 without part")
        << "05"
        << "30"
        << "" << 0 << QStringList{"", "", ""} << download << kUnsupported << QByteArray();
    QTest::newRow("30, stars count as empty") << "05"
                                              << "30"
                                              << "" << 0 << QStringList{"********0123ABCD", "", ""}
                                              << download << kUnsupported << QByteArray();
    QTest::newRow("code no hex byte")
        << "05"
        << "30"
        << "3G" << 0 << three16 << download << kUnsupported << QByteArray();
    QTest::newRow("40 on the pad")
        << "05"
        << "40"
        << "" << 0 << QStringList{} << QByteArray("Button3") << kUnsupported << QByteArray();
    QTest::newRow("31 typed for the pad")
        << "05"
        << "41"
        << "31" << 0 << QStringList{} << QByteArray("Button3") << kUnsupported << QByteArray();
}

void KeysClearTest::refusals() {
    QFETCH(QString, keyNo);
    QFETCH(QString, code);
    QFETCH(QString, typedCode);
    QFETCH(int, lengthEntry);
    QFETCH(QStringList, parts);
    QFETCH(QByteArray, button);
    QFETCH(QString, message);
    QFETCH(QByteArray, focus);
    PadRig rig;
    QVERIFY(rig.openPort());
    ShowActive(rig);
    rig.setText("comboKeyNo", keyNo);  // first: choosing an index refills the parts and code
    Choose(rig, "comboMixCode", code);
    rig.control<QComboBox>("comboPinLength")->setCurrentIndex(lengthEntry);
    if (!typedCode.isEmpty()) rig.setText("comboMixCode", typedCode);
    if (!parts.isEmpty()) SetParts(rig, parts);
    // The operator was last in the code list; a refusal that moves no focus leaves it there.
    rig.control("comboMixCode")->setFocus();
    rig.control<QPushButton>(button.constData())->click();
    QCOMPARE(rig.status(), message);
    QWidget* expected = rig.control(focus.isEmpty() ? "comboMixCode" : focus.constData());
    QCOMPARE(QApplication::focusWidget(), expected);
    QCOMPARE(rig.requests(), std::uint64_t{0});
    QVERIFY(rig.control(button.constData())->isEnabled());
    QVERIFY(rig.control("btCloseCom")->isEnabled());
}

void KeysClearTest::keyIndexRefillsTheParts_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("lengthEntry");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QString>("codeShown");
    QTest::addColumn<QString>("lengthShown");
    QTest::newRow("31, 16 bytes") << "31" << 1 << QStringList{a32, b32, c32} << "31"
                                  << "16";
    QTest::newRow("32, 8 bytes") << "32" << 0 << QStringList{a16.left(8), b16.left(8), ""} << "32"
                                 << "8";
    QTest::newRow("34 comes back as 32") << "34" << 2 << QStringList{a48, b48, ""} << "32"
                                         << "24";
    QTest::newRow("30, 24 bytes") << "30" << 2 << QStringList{a48, "", ""} << "30"
                                  << "24";
}

void KeysClearTest::keyIndexRefillsTheParts() {
    QFETCH(QString, code);
    QFETCH(int, lengthEntry);
    QFETCH(QStringList, parts);
    QFETCH(QString, codeShown);
    QFETCH(QString, lengthShown);
    PadRig rig;
    QVERIFY(rig.openPort());
    Choose(rig, "comboKeyNo", "05");
    Choose(rig, "comboMixCode", code);
    rig.control<QComboBox>("comboPinLength")->setCurrentIndex(lengthEntry);
    SetParts(rig, parts);
    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), QString("succeed in downloading the clear text key"));

    Choose(rig, "comboKeyNo", "06");
    for (const char* name : {"edPin1", "edPin2", "edPin3"}) QCOMPARE(rig.text(name), QString());
    QCOMPARE(rig.text("comboMixCode"), QString("30"));
    Choose(rig, "comboKeyNo", "05");
    QCOMPARE(rig.text("edPin1"), parts[0]);
    QCOMPARE(rig.text("edPin2"), parts[1]);
    QCOMPARE(rig.text("edPin3"), parts[2]);
    QCOMPARE(rig.text("comboMixCode"), codeShown);
    QCOMPARE(rig.text("comboPinLength"), lengthShown);
}

namespace {
int PINPAD_CALL ReplyWrongVerifyCode(const char*, unsigned int, char* verifyCode, int) {
    std::strcpy(verifyCode, "DEADBEEF");
    return 0;
}
}  // namespace

void KeysClearTest::verifyCodeDifferingFromTheCheckValueIsReported() {
    PadRig rig;
    QVERIFY(rig.openPort());
    Choose(rig, "comboMixCode", "34");
    SetParts(rig, {a16, b16, ""});
    rig.shared().Entries().PinPad_DownloadKey = &ReplyWrongVerifyCode;
    rig.click("btDownloadKey");
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), QString("DEADBEEF"));
    QCOMPARE(rig.status(),
             "the clear text key was downloaded, but the verify code DEADBEEF from "
             "the EPP differs from the check value " +
                 Kcv(Xor(a16, b16)) + " of the combined key");
    QCOMPARE(Stored("KEY_MINWEN", "00_V"), Xor(a16, b16));
}

void KeysClearTest::entryOnThePad_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("lengthEntry");
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<bool>("padTimeOut");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("fieldText");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("storedPart");  // 0: the key store is unchanged
    const QByteArray hex32 = Latin1(a32).c_str();
    const QString done = "succeed in the clear text key";
    const QString cancelled = "Canceled input or timeout in the clear text key";
    QTest::newRow("41, 32 bytes: 05A4")
        << "41" << 3 << hex32 + "\r" << false << QByteArray("Button3") << "05A4"
        << QByteArray("edPin1") << a32 << done << 1;
    QTest::newRow("42 with backspaces")
        << "42" << 1 << QByteArray("\b0123456789ABCDE9\bF\r") << false << QByteArray("Button3")
        << "05B2" << QByteArray("edPin2") << a16 << done << 2;
    QTest::newRow("43 cancelled") << "43" << 0 << QByteArray("12\x1b") << false
                                  << QByteArray("Button3") << "05C1" << QByteArray("edPin3") << "12"
                                  << cancelled << 0;
    QTest::newRow("pad time-out empties the parts")
        << "41" << 0 << QByteArray("12") << true << QByteArray("Button3") << "05A1"
        << QByteArray("edPin1") << ""
        << "user inputting key time out" << 0;
    QTest::newRow("typed 41, time-out cancels")
        << "41" << 0 << QByteArray("12") << true << QByteArray("btDownloadKey") << "05A1"
        << QByteArray("edPin1") << "12" << cancelled << 0;
}

void KeysClearTest::entryOnThePad() {
    QFETCH(QString, code);
    QFETCH(int, lengthEntry);
    QFETCH(QByteArray, keys);
    QFETCH(bool, padTimeOut);
    QFETCH(QByteArray, button);
    QFETCH(QString, request);
    QFETCH(QByteArray, field);
    QFETCH(QString, fieldText);
    QFETCH(QString, status);
    QFETCH(int, storedPart);
    PadRig rig;
    QVERIFY(rig.openPort());
    if (padTimeOut) QCOMPARE(rig.shared().Entries().PinPad_SetControlCode("201", 3), 0);
    Choose(rig, "comboKeyNo", "05");
    Choose(rig, "comboMixCode", code);
    rig.control<QComboBox>("comboPinLength")->setCurrentIndex(lengthEntry);
    if (button == "btDownloadKey") {
        // The code typed rather than chosen leaves the download button as the last operation
        // left it.
        rig.setText("comboMixCode", code);
        rig.shared().EnableOperationButtons();
    }
    bool closeDisabledDuringEntry = false;
    WhenEntryRuns pressKeys(rig, padsim::Mode::KeyEntry, kKeyEntryStatus, [&] {
        closeDisabledDuringEntry = !rig.control("btCloseCom")->isEnabled();
        rig.pad->PressKeys(keys.toStdString());
    });
    rig.click(button.constData());
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.countPayload(Latin1("1" + request)), std::size_t{1});
    QCOMPARE(rig.text(field.constData()), fieldText);
    QVERIFY(closeDisabledDuringEntry);
    QVERIFY(rig.control("btCloseCom")->isEnabled());
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), QString());
    if (storedPart == 0) {
        QVERIFY(!KeyStoreText(rig.folder).contains("05_"));
        return;
    }
    QCOMPARE(Stored("KEY_MINWEN", QString("05_%1").arg(storedPart)), fieldText);
    QCOMPARE(Stored("KEY_MINWEN", "05_V"), kMask);
    if (storedPart == 1) QCOMPARE(PadKey(rig, 5), fieldText);
}

void KeysClearTest::anotherOperationEndsTheEntry() {
    PadRig rig;
    QVERIFY(rig.openPort());
    Choose(rig, "comboKeyNo", "05");
    Choose(rig, "comboMixCode", "41");
    QTimer clickWhenShown;
    WhenEntryRuns pressKeys(rig, padsim::Mode::KeyEntry, kKeyEntryStatus, [&] {
        rig.pad->PressKeys("12");
        connect(&clickWhenShown, &QTimer::timeout, [&] {
            if (rig.text("edPin1") != "12") return;
            clickWhenShown.stop();
            rig.click("Button4");
        });
        clickWhenShown.start(5);
    });
    rig.click("Button3");
    QCOMPARE(rig.status(), QString("failure in Read Key Verify Code,thefailure reason "
                                   "is:Unmatchable label or no such key"));
    QCOMPARE(rig.countPayload("2001000"), std::size_t{1});
    QVERIFY(!KeyStoreText(rig.folder).contains("05_"));
    QVERIFY(rig.control("btCloseCom")->isEnabled());
}

void KeysClearTest::partsTypedOnThePadCombine() {
    PadRig rig;
    QVERIFY(rig.openPort());
    Choose(rig, "comboKeyNo", "05");
    const QString typed[3] = {a16, b16, c16};
    const QString codes[3] = {"41", "42", "43"};
    for (int i = 0; i < 3; ++i) {
        Choose(rig, "comboMixCode", codes[i]);
        rig.control<QComboBox>("comboPinLength")->setCurrentIndex(1);
        WhenEntryRuns pressKeys(rig, padsim::Mode::KeyEntry, kKeyEntryStatus,
                                [&] { rig.pad->PressKeys(Latin1(typed[i] + "\r")); });
        rig.click("Button3");
        QCOMPARE(rig.status(), QString("succeed in the clear text key"));
    }
    QCOMPARE(PadKeyLength(rig, 5), 16);
    // Combined by the pad from the parts typed on it: the request carries no parts.
    Choose(rig, "comboMixCode", "31");
    rig.setText("edPin1", "");
    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), QString("succeed in downloading the clear text key"));
    QCOMPARE(rig.countPayload("10511"), std::size_t{1});
    const QString combined = Xor(Xor(a16, b16), c16);
    QCOMPARE(PadKey(rig, 5), combined);
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), Kcv(combined));
    for (const char* key : {"05_1", "05_2", "05_3", "05_V"}) {
        QCOMPARE(Stored("KEY_MINWEN", key), kMask);
    }
    QCOMPARE(rig.text("edPin2"), kMask);
}

QTEST_MAIN(KeysClearTest)
#include "keys_clear_test.moc"
