// The clear-text half of the key management page against the real driver and a simulated pad:
// what the pad receives, the verify codes and check values shown, the key store records, the
// refusals with their focus moves, and key parts typed on the pad.
#include <QApplication>
#include <QtTest>

#include "key_page_support.h"

using namespace testsupport;

namespace {

const QString a16 = "0123456789ABCDEF", b16 = "FEDCBA9876543210", c16 = "89ABCDEF01234567";
const QString a32 = a16 + b16, b32 = c16 + a16, c32 = b16 + c16;
const QString a48 = a32 + c16, b48 = b32 + b16;
const QString kEntryRuns = "Please input the clear text key from EPP";
const QString kUnsupported =
    "at present ,don't support this combination code please other combination code";
const QString kLoaded = "succeed in downloading the clear text key";

QString Xor(const QString& a, const QString& b) {
    return Q(padsim::test::XorHex(Latin1(a), Latin1(b)));
}

void Fill(const PadRig& rig, const QString& keyNo, const QString& code, int lengthEntry,
          const QStringList& parts) {
    rig.setText("comboKeyNo", keyNo);  // first: a key index refills the parts and the code
    Choose(rig, "comboMixCode", code);
    rig.control<QComboBox>("comboPinLength")->setCurrentIndex(lengthEntry);
    for (int i = 0; i < parts.size(); ++i)
        rig.setText(qPrintable(QString("edPin%1").arg(i + 1)), parts[i]);
}

struct CodeRow {
    const char* name;
    QString code, typed;
    bool download, manual;
    QString caption;
    // Per part: e enabled and kept, c enabled and cleared, - disabled and cleared, x disabled
    // and kept.
    QString parts;
    int lengthCount, lengthEntry, typingLimit;
};

struct DownloadRow {
    const char* name;
    QString keyNo, code;
    int lengthEntry;
    QStringList parts;
    QString request, combined;
};

struct RefusalRow {
    const char* name;
    QString keyNo, code, typedCode;
    int lengthEntry;
    QStringList parts;
    const char* button;
    QString message;
    const char* focus;  // null: not moved
};

struct EntryRow {
    const char* name;
    QString code;
    int lengthEntry;
    std::string keys;
    bool padTimeOut;
    const char* button;
    QString request;
    const char* field;
    QString fieldText, status;
    int storedPart;  // 0: the key store is unchanged
};

// An operation whose record the key store did not take.
struct UnrecordedRow {
    const char* name;
    std::function<void(const PadRig&)> prepare;  // with the port open
    const char* button;
    std::string keys;  // pressed once an entry on the pad runs; "" when there is none
    QString status;    // the operation's own, kept
    QString box;       // the message box
    // The key store afterwards; null: as before. A reply that cannot be kept is recorded empty.
    QString storeAfter = {};
};

// A value the pad sent: a key part typed on it at index 05, where a key typed on the PC was
// loaded before, or the reply of "initialize attestation".
struct PadValueRow {
    const char* name;
    bool authData;
    std::string sent;  // the keys pressed (with Enter), or the reply
    QString stored;    // 05_1, or AUTH, afterwards
    bool box;          // the operator is told that the reply could not be kept
    // For a key part: loading a key in cipher text under 05, and authenticating with 05.
    QString cipherStatus = {}, authStatus = {};
};

// A combination code from 44 on, typed rather than chosen.
struct TypedCodeRow {
    const char* name;
    QString code;
    std::string request;
};

const QString kReadOnly = ": the file is read-only.";
const QString kNotKept =
    ": the pad's reply is not a key value (it holds a line break or NUL), so it is recorded "
    "empty.";

void MakeStoreReadOnly(const PadRig&) {
    QFile store("KeyStock.txt");
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write("[PINRENEW]\nTIMEOUT=45\n");
    store.close();
    QVERIFY(store.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
}

}  // namespace

Q_DECLARE_METATYPE(CodeRow)
Q_DECLARE_METATYPE(DownloadRow)
Q_DECLARE_METATYPE(RefusalRow)
Q_DECLARE_METATYPE(EntryRow)
Q_DECLARE_METATYPE(UnrecordedRow)
Q_DECLARE_METATYPE(PadValueRow)
Q_DECLARE_METATYPE(TypedCodeRow)

class KeysClearTest : public QObject {
    Q_OBJECT
private slots:
    void startUpAndCaptions();
    void combinationCodeChange_data();
    void combinationCodeChange();
    void download_data();
    void download();
    void refusals_data();
    void refusals();
    void keyIndexRefillsTheParts();
    void verifyCodeDifferingFromTheCheckValueIsReported();
    void entryOnThePad_data();
    void entryOnThePad();
    void anotherOperationEndsTheEntry();
    void partsTypedOnThePadCombine();
    void unrecordedKeysAreReported_data();
    void unrecordedKeysAreReported();
    void padValuesReplaceTheRecordBefore_data();
    void padValuesReplaceTheRecordBefore();
    void typedCodeLoadsWithoutParts_data();
    void typedCodeLoadsWithoutParts();
};

void KeysClearTest::startUpAndCaptions() {
    PadRig rig;
    QVERIFY(ShowActive(rig));
    QCOMPARE(rig.text("edPin1"), QString("7E4D19C0A2F6385D0C9E7F2A64F3D8350A6E2C97F4D3836E"));
    QCOMPARE(rig.text("comboPinLength"), QString("8"));
    QCOMPARE(rig.control<QLabel>("CheckValue1")->text(), Kcv(rig.text("edPin1")));
    for (const char* name : {"edPin1", "edPin2", "edPin3"}) QVERIFY(rig.control(name)->isEnabled());
    QVERIFY(!rig.control("Button3")->isEnabled());
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
    const QList<QWidget*> inputs = InputControls(rig.control("TabSheet4"), false);
    for (QWidget* control : inputs) {
        const QLabel* caption = CaptionOf(control);
        QVERIFY2(caption != nullptr, qPrintable(control->objectName()));
        QCOMPARE(control->accessibleName(), caption->text());
    }
    QCOMPARE(inputs.size(), 19);
}

void KeysClearTest::combinationCodeChange_data() {
    QTest::addColumn<CodeRow>("row");
    const CodeRow rows[] = {
        {"30", "30", "", true, false, "combined code:", "e--", 3, 0, 16},
        {"31, 24 bytes", "31", "", true, false, "combined code:", "eee", 3, 2, 48},
        {"32, 24 bytes", "32", "", true, false, "combined code:", "ee-", 3, 2, 24},
        {"33", "33", "", true, false, "combined code:", "eee", 1, 0, 16},
        {"34, 16 bytes", "34", "", true, false, "combined code:", "ee-", 3, 1, 32},
        {"40", "40", "", false, true, "Manually Input:", "c--", 3, 0, 16},
        {"41, 48", "41", "", false, true, "Manually Input:", "c--", 6, 5, 48},
        {"42, 32", "42", "", false, true, "Manually Input:", "-c-", 6, 3, 48},
        {"43, 16", "43", "", false, true, "Manually Input:", "--c", 6, 1, 32},
        {"typed", "31", "35", true, false, "combined code:", "xxx", 3, 0, -1},
    };
    for (const CodeRow& row : rows) QTest::newRow(row.name) << row;
}

void KeysClearTest::combinationCodeChange() {
    QFETCH(CodeRow, row);
    PadRig rig;
    QVERIFY(rig.openPort());
    Fill(rig, "00", "31", 0, {"AB", "AB", "AB"});  // every part enabled and filled
    Choose(rig, "comboMixCode", row.code);
    if (!row.typed.isEmpty()) {
        rig.setText("comboMixCode", row.typed);
        QCOMPARE(rig.status(), QString("this combination code has been cancelled in  use"));
    }
    QCOMPARE(rig.control("btDownloadKey")->isEnabled(), row.download);
    QCOMPARE(rig.control("Button3")->isEnabled(), row.manual);
    QCOMPARE(rig.control<QLabel>("Label23")->text(), row.caption);
    QCOMPARE(rig.control("comboMixCode")->accessibleName(), row.caption);
    auto* lengths = rig.control<QComboBox>("comboPinLength");
    QCOMPARE(lengths->count(), row.lengthCount);
    QCOMPARE(lengths->currentIndex(), 0);
    QLineEdit* typeInto = nullptr;
    for (int i = 0; i < 3; ++i) {
        auto* part = rig.control<QLineEdit>(qPrintable(QString("edPin%1").arg(i + 1)));
        const QChar state = row.parts[i];
        QCOMPARE(part->isEnabled(), state == 'e' || state == 'c');
        QCOMPARE(part->text(), QString(state == 'e' || state == 'x' ? "AB" : ""));
        if (part->isEnabled() && !typeInto) typeInto = part;
    }
    lengths->setCurrentIndex(row.lengthEntry);
    if (row.typingLimit < 0) return;
    rig.window->show();
    typeInto->clear();
    typeInto->setFocus();
    QTest::keyClicks(typeInto, QString(60, 'A'));
    QCOMPARE(typeInto->text().size(), row.typingLimit);
}

void KeysClearTest::download_data() {
    QTest::addColumn<DownloadRow>("row");
    const DownloadRow rows[] = {
        {"30 at 1F", "1F", "30", 0, {a16, "", ""}, "1F01" + a16, a16},
        {"31, 16 bytes: 0512",
         "05",
         "31",
         1,
         {a32, b32, c32},
         "0512" + a32 + b32 + c32,
         Xor(Xor(a32, b32), c32)},
        {"31, equal parts", "05", "31", 0, {a16, a16, a16}, "0511" + a16 + a16 + a16, a16},
        {"32, lower case",
         "05",
         "32",
         1,
         {a16.toLower(), b16.toLower(), ""},
         "0522" + a16.toLower() + b16.toLower(),
         "01234567FEDCBA9889ABCDEF76543210"},
        {"33: 0533", "05", "33", 0, {a16, b16, c16}, "0533" + a16 + b16 + c16, a16 + b16 + c16},
        {"34, 24 bytes", "05", "34", 2, {a48, b48, ""}, "0543" + a48 + b48, Xor(a48, b48)},
    };
    for (const DownloadRow& row : rows) QTest::newRow(row.name) << row;
}

void KeysClearTest::download() {
    QFETCH(DownloadRow, row);
    PadRig rig;
    QVERIFY(rig.openPort());
    Fill(rig, row.keyNo, row.code, row.lengthEntry, row.parts);
    for (int i = 0; i < 3; ++i) {
        const auto size = row.parts[i].size();
        QCOMPARE(rig.control<QLabel>(qPrintable(QString("CheckValue%1").arg(i + 1)))->text(),
                 size == 16 || size == 32 || size == 48 ? Kcv(row.parts[i]) : "");
    }
    QCOMPARE(rig.control<QLabel>("CheckValueKey")->text(), Kcv(row.combined));

    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), kLoaded);
    QCOMPARE(rig.countPayload(Latin1("1" + row.request)), std::size_t{1});
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), Kcv(row.combined));
    QCOMPARE(PadKey(rig, row.keyNo.toInt(nullptr, 16)), row.combined + "/IMK");
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(Stored("KEY_MINWEN", row.keyNo + QString("_%1").arg(i + 1)), row.parts[i]);
    }
    QCOMPARE(Stored("KEY_MINWEN", row.keyNo + "_V"), row.combined);
    QVERIFY(rig.control("btDownloadKey")->isEnabled());
}

void KeysClearTest::refusals_data() {
    QTest::addColumn<RefusalRow>("row");
    const char* download = "btDownloadKey";
    const QString badIndex = "invalid key no.(value range:00-1F)";
    const QStringList three = {a16, b16, c16};
    const RefusalRow rows[] = {
        {"empty index", "", "30", "", 0, three, download,
         "vacant key no. is forbidden(value range : 00 - 1F)", "comboKeyNo"},
        {"index 20", "20", "30", "", 0, three, download, badIndex, "comboKeyNo"},
        {"index 1f", "1f", "30", "", 0, three, download, badIndex, "comboKeyNo"},
        {"index G0", "G0", "30", "", 0, three, download, badIndex, "comboKeyNo"},
        {"index 1", "1", "30", "", 0, three, download, badIndex, "comboKeyNo"},
        {"31 part 2 empty",
         "05",
         "31",
         "",
         0,
         {a16, "", c16},
         download,
         "in the second  part clear text key can't be vacant",
         "edPin2"},
        {"31 part 3 empty",
         "05",
         "31",
         "",
         0,
         {a16, b16, ""},
         download,
         "in the third  part clear text key can't be vacant",
         "edPin3"},
        {"31 part 1 short",
         "05",
         "31",
         "",
         0,
         {a16.left(15), b16, c16},
         download,
         "in the first part clear test key length is not long enough",
         "edPin1"},
        {"31 part 3 long",
         "05",
         "31",
         "",
         0,
         {a16, b16, c16 + "0"},
         download,
         "in the third  part clear test key length is not long enough",
         "edPin3"},
        {"32 part 2 empty",
         "05",
         "32",
         "",
         1,
         {a16, "", ""},
         download,
         "in the second  part clear text key can't be vacant",
         nullptr},
        {"32 part 2 short",
         "05",
         "32",
         "",
         1,
         {a16, b16.left(15), ""},
         download,
         "in the second  part clear test key length is not long enough",
         "edPin2"},
        {"33 part 1 short",
         "05",
         "33",
         "",
         0,
         {a16.left(15), b16, c16},
         download,
         "in the first part clear test key length is 8 bytes(16 character)",
         nullptr},
        {"33 part 2 short",
         "05",
         "33",
         "",
         0,
         {a16, b16.left(15), c16},
         download,
         QString::fromUtf8(
             "in the second part clear test key length is 8 bytes\uFF0816 character\uFF09"),
         nullptr},
        {"33 part 3 long",
         "05",
         "33",
         "",
         0,
         {a16, b16, c16 + "0"},
         download,
         QString::fromUtf8(
             "in the third part clear test key length is 8 bytes\uFF0816 character\uFF09"),
         nullptr},
        {"34 part 2 empty",
         "05",
         "34",
         "",
         0,
         {a16, "", ""},
         download,
         "in the second  part clear test key length is not long enough",
         "edPin2"},
        {"34 part 1 wrong",
         "05",
         "34",
         "",
         0,
         {a32, b16, ""},
         download,
         "in the first part clear test key length error",
         "edPin1"},
        {"34 part 2 wrong",
         "05",
         "34",
         "",
         0,
         {a16, b32, ""},
         download,
         "in the second part clear test key length error",
         "edPin2"},
        {"30 without part", "05", "30", "", 0, {"", "", ""}, download, kUnsupported, nullptr},
        {"30, stars count as empty",
         "05",
         "30",
         "",
         0,
         {"********0123ABCD", "", ""},
         download,
         kUnsupported,
         nullptr},
        {"code no hex byte", "05", "30", "3G", 0, three, download, kUnsupported, nullptr},
        {"40 on the pad", "05", "40", "", 0, {}, "Button3", kUnsupported, nullptr},
        {"31 typed for the pad", "05", "41", "31", 0, {}, "Button3", kUnsupported, nullptr},
    };
    for (const RefusalRow& row : rows) QTest::newRow(row.name) << row;
}

void KeysClearTest::refusals() {
    QFETCH(RefusalRow, row);
    PadRig rig;
    QVERIFY(rig.openPort());
    QVERIFY(ShowActive(rig));
    Fill(rig, row.keyNo, row.code, row.lengthEntry, row.parts);
    if (!row.typedCode.isEmpty()) rig.setText("comboMixCode", row.typedCode);
    // The operator was last in the code list; a refusal that moves no focus leaves it there.
    rig.control("comboMixCode")->setFocus();
    rig.control<QPushButton>(row.button)->click();
    QCOMPARE(rig.status(), row.message);
    QCOMPARE(QApplication::focusWidget(), rig.control(row.focus ? row.focus : "comboMixCode"));
    QCOMPARE(rig.requests(), std::uint64_t{0});
    QVERIFY(rig.control(row.button)->isEnabled());
    QVERIFY(rig.control("btCloseCom")->isEnabled());
}

void KeysClearTest::keyIndexRefillsTheParts() {
    PadRig rig;
    QVERIFY(rig.openPort());
    // A key comes back with the code it was loaded with and the key length that code makes of
    // its parts, so that loading it again loads the same key.
    const std::tuple<const char*, QString, int, QStringList, QString, QString> loads[] = {
        {"05", "31", 1, {a32, b32, c32}, "16", Xor(Xor(a32, b32), c32)},
        {"06", "34", 2, {a48, b48, ""}, "24", Xor(a48, b48)},
        {"07", "33", 0, {a16, b16, c16}, "24", a16 + b16 + c16},
        {"08", "32", 1, {a16, b16, ""}, "16", "01234567FEDCBA9889ABCDEF76543210"},
        {"09", "30", 2, {a48, "", ""}, "24", a48},
    };
    for (const auto& [keyNo, code, lengthEntry, parts, lengthShown, combined] : loads) {
        Fill(rig, keyNo, code, lengthEntry, parts);
        rig.click("btDownloadKey");
        QCOMPARE(rig.status(), kLoaded);
    }
    for (const auto& [keyNo, code, lengthEntry, parts, lengthShown, combined] : loads) {
        Choose(rig, "comboKeyNo", "0F");
        QCOMPARE(rig.text("edPin1"), QString());
        QCOMPARE(rig.text("comboMixCode"), QString("30"));
        Choose(rig, "comboKeyNo", keyNo);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(rig.text(qPrintable(QString("edPin%1").arg(i + 1))), parts[i]);
        }
        QCOMPARE(rig.text("comboMixCode"), code);
        QCOMPARE(rig.text("comboPinLength"), lengthShown);
        rig.click("btDownloadKey");
        QCOMPARE(rig.status(), kLoaded);
        QCOMPARE(PadKey(rig, QString(keyNo).toInt(nullptr, 16)), combined + "/IMK");
    }
    // Parts on record without their code come back by how many there are: two as code 32.
    WriteKeyStore("KEY_MINWEN", "0A_1", Latin1(a32).c_str());
    WriteKeyStore("KEY_MINWEN", "0A_2", Latin1(b32).c_str());
    Choose(rig, "comboKeyNo", "0A");
    QCOMPARE(rig.text("comboMixCode"), QString("32"));
    QCOMPARE(rig.text("comboPinLength"), QString("24"));
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
    Fill(rig, "00", "34", 0, {a16, b16, ""});
    const auto realDownload = rig.shared().Entries().PinPad_DownloadKey;
    rig.shared().Entries().PinPad_DownloadKey = &ReplyWrongVerifyCode;
    auto* note = rig.control<QLabel>("VerifyCodeDiffers");
    rig.click("btDownloadKey");
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), QString("DEADBEEF"));
    // The status stays the one of every successful download; the note beside the check value
    // says that the two differ, and its tooltip how the check value was computed.
    QCOMPARE(rig.status(), kLoaded);
    QCOMPARE(rig.control<QLabel>("CheckValueKey")->text(), Kcv(Xor(a16, b16)));
    QVERIFY(note->isVisibleTo(rig.w()));
    QVERIFY(note->text().contains("differs"));
    QVERIFY(note->toolTip().contains("sixteen '0' characters"));
    QCOMPARE(Stored("KEY_MINWEN", "00_V"), Xor(a16, b16));

    // Another combined key: the note no longer applies.
    rig.setText("edPin2", a16);
    QVERIFY(!note->isVisibleTo(rig.w()));
    rig.setText("edPin2", b16);
    rig.click("btDownloadKey");
    QVERIFY(note->isVisibleTo(rig.w()));
    // The pad's own verify code agrees: no note.
    rig.shared().Entries().PinPad_DownloadKey = realDownload;
    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), kLoaded);
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), Kcv(Xor(a16, b16)));
    QVERIFY(!note->isVisibleTo(rig.w()));
}

void KeysClearTest::entryOnThePad_data() {
    QTest::addColumn<EntryRow>("row");
    const QString done = "succeed in the clear text key";
    const QString cancelled = "Canceled input or timeout in the clear text key";
    const EntryRow rows[] = {
        {"41, 32 bytes: 05A4", "41", 3, Latin1(a32) + "\r", false, "Button3", "05A4", "edPin1", a32,
         done, 1},
        {"42 with backspaces", "42", 1, "\b0123456789ABCDE9\bF\r", false, "Button3", "05B2",
         "edPin2", a16, done, 2},
        {"43 cancelled", "43", 0, "12\x1b", false, "Button3", "05C1", "edPin3", "12", cancelled, 0},
        {"pad time-out empties the parts", "41", 0, "12", true, "Button3", "05A1", "edPin1", "",
         "user inputting key time out", 0},
        {"typed 41, time-out cancels", "41", 0, "12", true, "btDownloadKey", "05A1", "edPin1", "12",
         cancelled, 0},
    };
    for (const EntryRow& row : rows) QTest::newRow(row.name) << row;
}

void KeysClearTest::entryOnThePad() {
    QFETCH(EntryRow, row);
    PadRig rig;
    QVERIFY(rig.openPort());
    if (row.padTimeOut) QVERIFY(rig.enablePadEntryTimeOut());
    Fill(rig, "05", row.code, row.lengthEntry, {});
    if (QByteArray(row.button) == "btDownloadKey") {
        // A code typed rather than chosen leaves the download button as the last operation
        // left it.
        rig.setText("comboMixCode", row.code);
        rig.shared().EnableOperationButtons();
    }
    bool closeDisabledDuringEntry = false;
    WhenEntryRuns pressKeys(rig, padsim::Mode::KeyEntry, kEntryRuns, [&] {
        closeDisabledDuringEntry = !rig.control("btCloseCom")->isEnabled();
        rig.pad->PressKeys(row.keys);
    });
    rig.click(row.button);
    QCOMPARE(rig.status(), row.status);
    QCOMPARE(rig.countPayload(Latin1("1" + row.request)), std::size_t{1});
    QCOMPARE(rig.text(row.field), row.fieldText);
    QVERIFY(closeDisabledDuringEntry);
    QVERIFY(rig.control("btCloseCom")->isEnabled());
    if (row.storedPart == 0) {
        QVERIFY(!KeyStoreText(rig.folder).contains("05_"));
        return;
    }
    QCOMPARE(Stored("KEY_MINWEN", QString("05_%1").arg(row.storedPart)), row.fieldText);
    QCOMPARE(Stored("KEY_MINWEN", "05_V"), kMask);
    if (row.storedPart == 1) QCOMPARE(PadKey(rig, 5), row.fieldText + "/IMK");
}

void KeysClearTest::anotherOperationEndsTheEntry() {
    PadRig rig;
    QVERIFY(rig.openPort());
    Fill(rig, "05", "41", 0, {});
    QTimer clickWhenShown;
    connect(&clickWhenShown, &QTimer::timeout, [&] {
        if (rig.text("edPin1") != "12") return;
        clickWhenShown.stop();
        rig.click("Button4");
    });
    WhenEntryRuns pressKeys(rig, padsim::Mode::KeyEntry, kEntryRuns, [&] {
        rig.pad->PressKeys("12");
        clickWhenShown.start(5);
    });
    rig.click("Button3");
    QCOMPARE(rig.status(), QString("failure in Read Key Verify Code,thefailure reason "
                                   "is:Unmatchable label or no such key"));
    QVERIFY(!KeyStoreText(rig.folder).contains("05_"));
    QVERIFY(rig.control("btCloseCom")->isEnabled());
}

void KeysClearTest::partsTypedOnThePadCombine() {
    PadRig rig;
    QVERIFY(rig.openPort());
    const QString typed[3] = {a16, b16, c16};
    for (int i = 0; i < 3; ++i) {
        Fill(rig, "05", QString("4%1").arg(i + 1), 1, {});
        WhenEntryRuns pressKeys(rig, padsim::Mode::KeyEntry, kEntryRuns,
                                [&] { rig.pad->PressKeys(Latin1(typed[i] + "\r")); });
        rig.click("Button3");
        QCOMPARE(rig.status(), QString("succeed in the clear text key"));
    }
    // The pad combines the parts typed on it: the request carries none.
    Choose(rig, "comboMixCode", "31");
    rig.setText("edPin1", "");
    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), kLoaded);
    QCOMPARE(rig.countPayload("10511"), std::size_t{1});
    const QString combined = Xor(Xor(a16, b16), c16);
    QCOMPARE(PadKey(rig, 5), combined + "/IMK");
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), Kcv(combined));
    for (const char* key : {"05_1", "05_2", "05_3", "05_V"})
        QCOMPARE(Stored("KEY_MINWEN", key), kMask);
    QCOMPARE(rig.text("edPin2"), kMask);
}

// What the pad took but the key store did not: the operation's own status stays, one box per
// operation names the file and the reason, and the store stays as it was, but for a text from
// the pad that would break its line, which is recorded empty in its place.
void KeysClearTest::unrecordedKeysAreReported_data() {
    QTest::addColumn<UnrecordedRow>("row");
    const QString authData = "00112233445566778899AABBCCDDEEFF";
    const QString initialized =
        "The authorization data was initialized on the pad, but could "
        "not be recorded in ./KeyStock.txt";
    const QString typed =
        "The key part typed on the pad was loaded, but could not be recorded in ./KeyStock.txt";
    const auto typeOnThePad = [](const PadRig& rig) {
        rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().anyKeyInEntry = true; });
        Fill(rig, "05", "41", 1, {});
    };
    const auto authReply = [authData](std::string reply) {
        return [authData, reply](const PadRig& rig) {
            rig.pad->With([&](padsim::PadSimulator& sim) { sim.faults().forcedData[':'] = reply; });
            rig.setText("edAuthorizationData", authData);
        };
    };
    const UnrecordedRow rows[] = {
        {"read-only store, clear-text key of four records",
         [](const PadRig& rig) {
             MakeStoreReadOnly(rig);
             Fill(rig, "05", "31", 0, {a16, b16, c16});
         },
         "btDownloadKey", "", kLoaded,
         "The key was loaded into the pad, but could not be recorded in ./KeyStock.txt" +
             kReadOnly},
        {"read-only store, authorization data",
         [authData](const PadRig& rig) {
             MakeStoreReadOnly(rig);
             rig.setText("edAuthorizationData", authData);
         },
         "btInitAuthorization", "", "initial authorization succeed", initialized + kReadOnly},
        {"read-only store, PIN time-out",
         [](const PadRig& rig) {
             MakeStoreReadOnly(rig);
             rig.control<QComboBox>("comboControlCode")->setCurrentIndex(2);
             rig.setText("edControlCode", "3C");
         },
         "btSetControlCode", "", "set the control code ok",
         "The PIN time-out was set on the pad, but could not be recorded in ./KeyStock.txt" +
             kReadOnly},
        {"authorization data with line breaks", authReply("AAAAAAAAAA\n[INIT_AUTH]\nAUTH=EVIL"),
         "btInitAuthorization", "", "initial authorization succeed", initialized + kNotKept,
         "[INIT_AUTH]\nAUTH=\n"},
        {"key part typed with line breaks", typeOnThePad, "Button3", "0123\n[05]=EVIL\n1\r",
         "succeed in the clear text key", typed + kNotKept,
         "[KEY_MINWEN]\n05_1=\n05_V=" + kMask + "\n05_C=41\n"},
        {"key part typed with a NUL", typeOnThePad, "Button3",
         std::string("0123456789ABCDE\0\r", 17), "succeed in the clear text key", typed + kNotKept,
         "[KEY_MINWEN]\n05_1=\n05_V=" + kMask + "\n05_C=41\n"},
    };
    for (const UnrecordedRow& row : rows) QTest::newRow(row.name) << row;
}

void KeysClearTest::unrecordedKeysAreReported() {
    QFETCH(UnrecordedRow, row);
    PadRig rig;
    QVERIFY(rig.openPort());
    row.prepare(rig);
    const QString storeBefore = KeyStoreText(rig.folder);
    WhenEntryRuns pressKeys(rig, padsim::Mode::KeyEntry, kEntryRuns,
                            [&] { rig.pad->PressKeys(row.keys); });
    rig.click(row.button);
    QCOMPARE(rig.status(), row.status);
    QCOMPARE(rig.dialogs.requests.size(), std::size_t{1});
    QCOMPARE(rig.dialogs.requests[0].text, row.box);
    QCOMPARE(rig.dialogs.requests[0].icon, QMessageBox::Warning);
    QCOMPARE(KeyStoreText(rig.folder), row.storeAfter.isNull() ? storeBefore : row.storeAfter);
    QVERIFY(rig.control("btGetVersion")->isEnabled());
}

// A value the pad sent replaces the record before it: as sent when the store can keep it, else
// empty (and the operator is told). Either way no earlier key stands in for the new one, and a
// kept text that is no key is not used as one.
void KeysClearTest::padValuesReplaceTheRecordBefore_data() {
    QTest::addColumn<PadValueRow>("row");
    const QString noClear = "No input cleartext Key,must be input ciphertext key";
    const QString noKey =
        "matched key which hasn't been downloaded,please download the matched key";
    // The key is on record: the driver is asked, and refuses the empty authorization data.
    const QString asked =
        "bi-directonal authorization failure,failure reason is:wrong parameter fed into";
    const PadValueRow rows[] = {
        {"key part", false, "FEDCBA9876543210\r", "FEDCBA9876543210", false, noClear, asked},
        {"key part that is no hex", false, "0123456789ABCDEx\r", "0123456789ABCDEx", false, noClear,
         noKey},
        {"key part with a line break", false, "0123\n456789ABCDE\r", "", true, noClear, noKey},
        {"authorization data that is no hex", true, std::string(32, 'G'), QString(32, 'G'), false},
        {"authorization data with a line break", true,
         std::string(16, 'A') + "\n" + std::string(15, 'B'), "", true},
    };
    for (const PadValueRow& row : rows) QTest::newRow(row.name) << row;
}

void KeysClearTest::padValuesReplaceTheRecordBefore() {
    QFETCH(PadValueRow, row);
    PadRig rig;
    QVERIFY(rig.openPort());
    if (row.authData) {
        WriteKeyStore("INIT_AUTH", "AUTH", Latin1(a32).c_str());
        rig.pad->With([&](padsim::PadSimulator& sim) { sim.faults().forcedData[':'] = row.sent; });
        rig.setText("edAuthorizationData", b32);
        rig.click("btInitAuthorization");
        QCOMPARE(rig.status(), QString("initial authorization succeed"));
        QCOMPARE(Stored("INIT_AUTH", "AUTH"), row.stored);
        QCOMPARE(rig.dialogs.requests.size(), std::size_t{row.box ? 1u : 0u});
        return;
    }
    // The key before: typed on the PC, so the host knew it, and the pad still holds it when
    // what was typed on the pad is no key.
    Fill(rig, "05", "31", 0, {a16, b16, c16});
    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), kLoaded);
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().anyKeyInEntry = true; });
    Fill(rig, "05", "41", 1, {});
    WhenEntryRuns pressKeys(rig, padsim::Mode::KeyEntry, kEntryRuns,
                            [&] { rig.pad->PressKeys(row.sent); });
    rig.click("Button3");
    QCOMPARE(rig.status(), QString("succeed in the clear text key"));
    QCOMPARE(Stored("KEY_MINWEN", "05_1"), row.stored);
    QCOMPARE(Stored("KEY_MINWEN", "05_V"), kMask);
    QCOMPARE(rig.dialogs.requests.size(), std::size_t{row.box ? 1u : 0u});

    Choose(rig, "comboEncryptMark", "TMK");
    rig.setText("comboDecipherNo", "05");
    rig.setText("comboEncryptNo", "10");
    rig.control<QComboBox>("comboEnryptLength")->setCurrentIndex(0);
    rig.setText("edInputKeyToEncrypt", "1010101010101010");
    rig.click("btDownloadEncrypt");
    QCOMPARE(rig.status(), row.cipherStatus);
    rig.setText("ComboInitKey", "05");
    rig.click("btBidirectionAuthorization");
    QCOMPARE(rig.status(), row.authStatus);
}

// Codes from 44 on take no parts and start no entry on the pad: the pad combines what it holds,
// as for a download of 31-34 without parts, and the key mask stands for the key.
void KeysClearTest::typedCodeLoadsWithoutParts_data() {
    QTest::addColumn<TypedCodeRow>("row");
    const TypedCodeRow rows[] = {{"44", "44", "105D2"}, {"5a", "5a", "105Z2"}};
    for (const TypedCodeRow& row : rows) QTest::newRow(row.name) << row;
}

void KeysClearTest::typedCodeLoadsWithoutParts() {
    QFETCH(TypedCodeRow, row);
    PadRig rig;
    QVERIFY(rig.openPort());
    // A pad that takes these codes.
    rig.pad->With([](padsim::PadSimulator& sim) { sim.faults().forcedData['1'] = "1A2B3C4D"; });
    Fill(rig, "05", "31", 1, {a32, b32, c32});
    rig.setText("comboMixCode", row.code);
    rig.control<QComboBox>("comboPinLength")->setCurrentIndex(1);
    rig.click("btDownloadKey");
    QCOMPARE(rig.status(), kLoaded);
    QCOMPARE(rig.countPayload(row.request), std::size_t{1});
    QCOMPARE(rig.text("edDownLoadKeyRetValue"), QString("1A2B3C4D"));
    for (const char* key : {"05_1", "05_2", "05_3", "05_V"})
        QCOMPARE(Stored("KEY_MINWEN", key), kMask);
    QCOMPARE(Stored("KEY_MINWEN", "05_C"), row.code.toUpper());
    QCOMPARE(rig.text("edPin1"), kMask);
    QVERIFY(rig.control("btDownloadKey")->isEnabled());
    QVERIFY(rig.control("btCloseCom")->isEnabled());
    QCOMPARE(rig.dialogs.requests.size(), std::size_t{0});
}

QTEST_MAIN(KeysClearTest)
#include "keys_clear_test.moc"
