// Widget-free logic of the "cleartext" and "Ic Card Control" pages: the display request's
// refusals and edge values, the APDU length boxes and the split of a card reply.
#include <QtTest>

#include "display_request.h"
#include "ic_card_requests.h"

using namespace operations;

class CleartextLogicTest : public QObject {
    Q_OBJECT
private slots:
    void displayRequest_data();
    void displayRequest();
    void apduLengthBoxes_data();
    void apduLengthBoxes();
    void splitAccessReply_data();
    void splitAccessReply();
};

void CleartextLogicTest::displayRequest_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("memo");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QByteArray>("bytes");  // hex of the request; empty when refused
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<int>("field");
    using Field = DisplayRequest::Field;
    struct Row {
        const char* name;
        QString mode, memo, code;
        QByteArray bytes;
        QString refusal;
        Field field;
    };
    const Row rows[] = {
        {"30, line breaks skipped", "30", "41\n42", "", "304142", "", Field::kNone},
        {"30, odd digits", "30", "414", "", "", "Invalid data", Field::kData},
        {"30, past the request buffer", "30", QString(512, 'A'), "", "", "Invalid data",
         Field::kData},
        {"31, odd code", "31", "", "3", "", "Invalid Prefill value", Field::kCode},
        {"31, empty code", "31", "", "", "", "Invalid Prefill value", Field::kCode},
        {"40, empty memo: mode byte alone", "40", "", "", "40", "", Field::kNone},
        {"7F, lower case sent as typed", "7F", "0123456789abcdef", "",
         "7F" + QByteArray("0123456789abcdef").toHex(), "", Field::kNone},
        {"empty mode", "", "", "", "", "Invalid Prefill value", Field::kMode},
        {"mode 33 matches no mode", "33", "", "", "", "Invalid Code", Field::kMode},
        {"mode 80 matches no mode", "80", "", "", "", "Invalid Code", Field::kMode},
    };
    for (const Row& row : rows) {
        QTest::newRow(row.name) << row.mode << row.memo << row.code << row.bytes << row.refusal
                                << int(row.field);
    }
}

void CleartextLogicTest::displayRequest() {
    QFETCH(QString, mode);
    QFETCH(QString, memo);
    QFETCH(QString, code);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, refusal);
    QFETCH(int, field);
    const DisplayRequest request = BuildDisplayRequest(mode, memo, code);
    QCOMPARE(request.bytes.toHex().toUpper(), bytes.toUpper());
    QCOMPARE(request.refusal, refusal);
    QCOMPARE(int(request.field), field);
}

void CleartextLogicTest::apduLengthBoxes_data() {
    QTest::addColumn<QString>("lc");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("le");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("refusal");
    const QString error = "LC Or LE Data Error";
    const std::tuple<const char*, QString, QString, QString, QString, QString> rows[] = {
        {"empty LC counts as 0", "", "", "08", "100A4000008", ""},
        {"one-digit LC", "2", "3F00", "", "100A4000023F00", ""},
        {"LC FF", "FF", QString(510, '0'), "", "100A40000FF" + QString(510, '0'), ""},
        {"LC not hex", "G2", "3F00", "00", "", error},
        {"LE with a sign", "02", "3F00", "-1", "", error},
        {"LE too long", "02", "3F00", "100", "", error},
    };
    for (const auto& [name, lc, data, le, text, refusal] : rows) {
        QTest::newRow(name) << lc << data << le << text << refusal;
    }
}

void CleartextLogicTest::apduLengthBoxes() {
    QFETCH(QString, lc);
    QFETCH(QString, data);
    QFETCH(QString, le);
    QFETCH(QString, text);
    QFETCH(QString, refusal);
    const AccessText access = BuildAccessText(1, {"00", "A4", "00", "00", lc, data, le});
    QCOMPARE(access.text, text);
    QCOMPARE(access.refusal, refusal);
}

void CleartextLogicTest::splitAccessReply_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("sw");
    QTest::newRow("status word only") << "9000"
                                      << ""
                                      << "9000";
    QTest::newRow("eight characters") << "12349000"
                                      << "1234"
                                      << "9000";
    QTest::newRow("shorter than a status word") << "900"
                                                << "900"
                                                << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
}

void CleartextLogicTest::splitAccessReply() {
    QFETCH(QString, reply);
    QFETCH(QString, data);
    QFETCH(QString, sw);
    const CardResponse response = SplitAccessReply(reply);
    QCOMPARE(response.data, data);
    QCOMPARE(response.statusWord, sw);
}

QTEST_GUILESS_MAIN(CleartextLogicTest)
#include "cleartext_logic_test.moc"
