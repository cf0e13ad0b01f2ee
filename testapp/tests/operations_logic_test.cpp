// Widget-free logic of the PIN page that its end-to-end tests do not reach: every star echo rule,
// the account and key index boundaries, the texts of the types without account, short replies.
#include <QtTest>
#include <cstring>

#include "data_requests.h"
#include "pin_requests.h"
#include "star_echo.h"

using namespace operations;

Q_DECLARE_METATYPE(StarEcho::Backspace)
Q_DECLARE_METATYPE(StarEcho::End)

class OperationsLogicTest : public QObject {
    Q_OBJECT
private slots:
    void starEcho_data();
    void starEcho();
    void pinTexts_data();
    void pinTexts();
    void accountRefusal_data();
    void accountRefusal();
    void keyIndex_data();
    void keyIndex();
    void pinReply_data();
    void pinReply();
};

void OperationsLogicTest::starEcho_data() {
    QTest::addColumn<StarEcho::Backspace>("backspace");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("endsAt");  // index of the byte that ends the entry, -1 none
    QTest::addColumn<StarEcho::End>("end");
    QTest::addColumn<QString>("stars");
    const auto one = StarEcho::Backspace::kOneStar;
    const auto all = StarEcho::Backspace::kAllStars;
    using E = StarEcho::End;
    QTest::newRow("one star off") << one << 0 << QByteArray("***\b*") << -1 << E::kNone << "***";
    QTest::newRow("all stars off") << all << 0 << QByteArray("***\b*") << -1 << E::kNone << "*";
    QTest::newRow("backspace with none shown")
        << one << 0 << QByteArray("\b\b*") << -1 << E::kNone << "*";
    QTest::newRow("length reached")
        << one << 4 << QByteArray("*\b****") << 5 << E::kFinished << "****";
    QTest::newRow("other bytes: no echo")
        << one << 0 << QByteArray("*A7*") << -1 << E::kNone << "**";
    QTest::newRow("enter") << one << 6 << QByteArray("**\r*") << 2 << E::kFinished << "**";
    QTest::newRow("escape empties the echo")
        << one << 6 << QByteArray("**\x1B") << 2 << E::kCancelled << "";
    QTest::newRow("time-out") << one << 0 << QByteArray("**\x80") << 2 << E::kTimedOut << "";
    QTest::newRow("no limit stops at 99")
        << one << 0 << QByteArray(120, '*') << -1 << E::kNone << QString(99, '*');
}

void OperationsLogicTest::starEcho() {
    QFETCH(StarEcho::Backspace, backspace);
    QFETCH(int, limit);
    QFETCH(QByteArray, bytes);
    QFETCH(int, endsAt);
    QFETCH(StarEcho::End, end);
    QFETCH(QString, stars);
    StarEcho echo(backspace, limit);
    int endedAt = -1;
    StarEcho::End ended = StarEcho::End::kNone;
    for (int i = 0; i < bytes.size() && endedAt < 0; ++i) {
        ended = echo.Take(static_cast<unsigned char>(bytes[i])).end;
        if (ended != StarEcho::End::kNone) endedAt = i;
    }
    QCOMPARE(endedAt, endsAt);
    QCOMPARE(ended, end);
    QCOMPARE(echo.Stars(), stars);
}

void OperationsLogicTest::pinTexts_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("account");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("read");
    QTest::newRow("ISO9564_1") << 2 << QByteArray("1234567890") << QByteArray("30!0061234567890")
                               << QByteArray("30!1234567890");
    QTest::newRow("ASCII sends no account")
        << 0 << QByteArray("123456789012") << QByteArray("30@006") << QByteArray("30@");
    QTest::newRow("IBM3624 sends no account")
        << 4 << QByteArray("123456789012") << QByteArray("300006") << QByteArray("300");
}

void OperationsLogicTest::pinTexts() {
    QFETCH(int, type);
    QFETCH(QByteArray, account);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, read);
    const PinTarget target = MakePinTarget("30", type, account);
    QCOMPARE(FullPinStartText(target, "0", "06"), start);
    QCOMPARE(PinReadText(target), read);
}

void OperationsLogicTest::accountRefusal_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("refusal");
    const QString range = "account length range(04-20)";
    const QString transcode = "transcode no.length must be 10";
    for (int type : {1, 3}) {
        QTest::addRow("ISO type %d, 3", type) << type << 3 << range;
        QTest::addRow("ISO type %d, 4", type) << type << 4 << QString();
        QTest::addRow("ISO type %d, 20", type) << type << 20 << QString();
        QTest::addRow("ISO type %d, 21", type) << type << 21 << range;
    }
    QTest::newRow("ISO9564_1, 9") << 2 << 9 << transcode;
    QTest::newRow("ISO9564_1, 10") << 2 << 10 << QString();
    QTest::newRow("ISO9564_1, 11") << 2 << 11 << transcode;
    QTest::newRow("ASCII, empty") << 0 << 0 << QString();
    QTest::newRow("IBM3624, 30") << 4 << 30 << QString();
}

void OperationsLogicTest::accountRefusal() {
    QFETCH(int, type);
    QFETCH(int, length);
    QFETCH(QString, refusal);
    const char* text = AccountRefusal(type, QByteArray(length, '5'));
    QCOMPARE(QString::fromLatin1(text), refusal);
}

void OperationsLogicTest::keyIndex_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("working");
    QTest::newRow("30") << "30" << 0x30 << true;
    QTest::newRow("7F") << "7F" << 0x7F << true;
    QTest::newRow("7f") << "7f" << 0x7F << true;
    QTest::newRow("2F") << "2F" << 0x2F << false;
    QTest::newRow("80") << "80" << 0x80 << false;
    QTest::newRow("not hex") << "zz" << 0 << false;
    QTest::newRow("empty") << "" << 0 << false;
    QTest::newRow("one digit") << "3" << 3 << false;
    QTest::newRow("blank first") << " 40" << 0x40 << true;
    QTest::newRow("digit and letter") << "3g" << 3 << false;
    QTest::newRow("three digits") << "305" << 0x30 << true;
}

void OperationsLogicTest::keyIndex() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(bool, working);
    QCOMPARE(ParseKeyIndex(text), value);
    QCOMPARE(IsWorkingKeyIndex(ParseKeyIndex(text)), working);
}

void OperationsLogicTest::pinReply_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("whole") << QByteArray("0104ABCDEF0123456789")
                           << QStringList{"01", "04", "ABCDEF0123456789", "ABCDEF0123456789"};
    QTest::newRow("longer") << QByteArray("0104ABCDEF01234567891")
                            << QStringList{"01", "04", "ABCDEF0123456789", "ABCDEF01234567891"};
    QTest::newRow("short block") << QByteArray("0104ABCD")
                                 << QStringList{"01", "04", "ABCD", "ABCD"};
    QTest::newRow("three characters") << QByteArray("010") << QStringList{"01", "0", "", ""};
    QTest::newRow("empty") << QByteArray() << QStringList{"", "", "", ""};
}

void OperationsLogicTest::pinReply() {
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, fields);
    char buffer[kPinReplySize] = {};
    std::memcpy(buffer, reply.constData(), static_cast<std::size_t>(reply.size()));
    const PinReplyFields split = SplitPinReply(buffer);
    QCOMPARE(QStringList({split.track, split.length, split.block, split.rest}), fields);
}

QTEST_GUILESS_MAIN(OperationsLogicTest)
#include "operations_logic_test.moc"
