// Widget-free logic of the shell: result messages, conversion, open arguments, reply fields,
// control-code commands.
#include <QtTest>
#include <chrono>
#include <cstring>
#include <thread>

#include "control_codes.h"
#include "driver_lock.h"
#include "port_args.h"
#include "reply_fields.h"
#include "result_text.h"
#include "str_to_int.h"

using namespace shell;

class LogicTest : public QObject {
    Q_OBJECT
private slots:
    void resultMessage();
    void strToInt_data();
    void strToInt();
    void portOpenArgs_data();
    void portOpenArgs();
    void portNameIsCutToItsField();
    void replyField_data();
    void replyField();
    void controlCodeCommand_data();
    void controlCodeCommand();
    void controlCodeTable_data();
    void controlCodeTable();
    void driverLockWaitIsBoundedAndEndsAtTheUnlock();
};

void LogicTest::resultMessage() {
    QCOMPARE(FormatResultMessage("read the user information:%s", 224),
             QString("read the user information:Low battery, Need to replace the battery "));
}

void LogicTest::strToInt_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("baud") << "115200" << true << 115200;
    QTest::newRow("negative") << "-12" << true << -12;
    QTest::newRow("leading blanks") << "  7" << true << 7;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("trailing letter") << "9600x" << false << 0;
    QTest::newRow("trailing blank") << "9600 " << false << 0;
    QTest::newRow("overflow") << "2147483648" << false << 0;
    QTest::newRow("huge") << "99999999999999999999" << false << 0;
}

void LogicTest::strToInt() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    if (valid) {
        QCOMPARE(StrToInt(text), value);
        return;
    }
    try {
        StrToInt(text);
        QFAIL("no conversion error");
    } catch (const ConversionError& e) {
        QCOMPARE(QString(e.what()), "'" + text + "' is not a valid integer value");
    }
}

void LogicTest::portOpenArgs_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QByteArray>("parityArg");
    QTest::newRow("com3 115200") << "com3"
                                 << "115200"
                                 << "NO" << QByteArray("NO");
    QTest::newRow("com1 9600") << "com1"
                               << "9600"
                               << "NONE" << QByteArray("NONE");
    QTest::newRow("odd parity text") << "com2"
                                     << "1200"
                                     << "ODD" << QByteArray("YDD");
    QTest::newRow("empty parity") << "com2"
                                  << "1200"
                                  << "" << QByteArray("Y");
}

void LogicTest::portOpenArgs() {
    QFETCH(QString, port);
    QFETCH(QString, baud);
    QFETCH(QString, parity);
    QFETCH(QByteArray, parityArg);
    const PortOpenArgs args = BuildPortOpenArgs(port, baud, parity, "8", "1");
    QCOMPARE(QByteArray(args.portName), port.toLatin1());
    QCOMPARE(args.baudRate, baud.toInt());
    QCOMPARE(QByteArray(args.parity), parityArg);
    QCOMPARE(QByteArray(args.dataBits), QByteArray("8"));
    QCOMPARE(QByteArray(args.stopBits), QByteArray("1"));
}

void LogicTest::portNameIsCutToItsField() {
    const PortOpenArgs args = BuildPortOpenArgs("com123456789", "9600", "NO", "8", "1234567");
    QCOMPARE(QByteArray(args.portName), QByteArray("com123456"));
    QCOMPARE(QByteArray(args.stopBits), QByteArray("1234"));
    QVERIFY_THROWS_EXCEPTION(ConversionError, BuildPortOpenArgs("com1", "", "NO", "8", "1"));
}

void LogicTest::replyField_data() {
    QTest::addColumn<QByteArray>("content");  // placed at offset 118
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("field");
    QTest::newRow("full range") << QByteArray("REMARK01PM0001R4K") << 118 << 8 << "REMARK01";
    QTest::newRow("next field") << QByteArray("REMARK01PM0001R4K") << 126 << 6 << "PM0001";
    QTest::newRow("nul inside") << QByteArray("RE\0ARK01", 8) << 118 << 8 << "RE";
    QTest::newRow("all zero") << QByteArray() << 118 << 8 << "";
    QTest::newRow("range past the end") << QByteArray() << 250 << 20 << "";
}

void LogicTest::replyField() {
    QFETCH(QByteArray, content);
    QFETCH(int, offset);
    QFETCH(int, length);
    QFETCH(QString, field);
    char reply[kCustInfoReplySize] = {};
    std::memcpy(reply + 118, content.constData(), content.size());
    std::memset(reply + 250, 'Z', 6);
    if (offset == 250) field = "ZZZZZZ";
    QCOMPARE(ReplyField(reply, offset, length), field);
}

void LogicTest::controlCodeCommand_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("invalidate");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sentValue");
    QTest::newRow("close keypad") << 0 << "32" << false << "032" << 0x32;
    QTest::newRow("key lock invalidation") << 1 << "2A" << true << "1AA" << 0xAA;
    QTest::newRow("key lock resume") << 1 << "2A" << false << "12A" << 0x2A;
    QTest::newRow("key lock 30 invalidated") << 1 << "30" << true << "1B0" << 0xB0;
    QTest::newRow("invalidation only for code 1") << 3 << "2A" << true << "32A" << 0x2A;
    QTest::newRow("pin timeout") << 2 << "3C" << false << "23C" << 60;
    QTest::newRow("pin timeout default") << 2 << "20" << false << "220" << 32;
    QTest::newRow("lower case value") << 2 << "3c" << false << "23C" << 60;
    QTest::newRow("decimal length text") << 4 << "16" << false << "416" << 0x16;
    QTest::newRow("serial speed") << 6 << "44" << false << "644" << 0x44;
    QTest::newRow("code A") << 10 << "15" << false << "A15" << 0x15;
    QTest::newRow("code B") << 11 << "21" << false << "B21" << 0x21;
}

void LogicTest::controlCodeCommand() {
    QFETCH(int, position);
    QFETCH(QString, value);
    QFETCH(bool, invalidate);
    QFETCH(QString, text);
    QFETCH(int, sentValue);
    const auto command = BuildControlCodeCommand(position, value, invalidate);
    QVERIFY(command.has_value());
    QCOMPARE(command->text, text);
    QCOMPARE(command->value, sentValue);
    for (const char* bad : {"3", "300", "G1", " 1", "-1", "+1", ""}) {
        QVERIFY2(!BuildControlCodeCommand(position, QString(bad), invalidate), bad);
    }
    QVERIFY(!BuildControlCodeCommand(12, value, false));
    QVERIFY(!BuildControlCodeCommand(-1, value, false));
}

void LogicTest::controlCodeTable_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<int>("items");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    // The rows that are easy to get wrong: the labels' own spelling, code 1's irregular list,
    // code 2 without 00, the decimal-looking last value of code 4 and code 6's gap after 37.
    QTest::newRow("0") << "0"
                       << "control code initializatio value"
                       << "30" << 16 << "30"
                       << "3F";
    QTest::newRow("1") << "1"
                       << "short key board failure /restore"
                       << "30" << 23 << "08"
                       << "48";
    QTest::newRow("2") << "2"
                       << "Overtime then input PIN(second)"
                       << "20" << 255 << "01"
                       << "FF";
    QTest::newRow("4") << "4"
                       << "PIN minimum length"
                       << "06" << 17 << "00"
                       << "16";
    QTest::newRow("6") << "6"
                       << "set communication parameter"
                       << "30" << 16 << "30"
                       << "48";
    QTest::newRow("8") << "8"
                       << "buzzer timing 1% secs."
                       << "20" << 256 << "00"
                       << "FF";
    QTest::newRow("B") << "B"
                       << "Press 'CLEAR' manage"
                       << "20" << 3 << "20"
                       << "22";
}

void LogicTest::controlCodeTable() {
    QFETCH(QString, code);
    QFETCH(QString, label);
    QFETCH(QString, defaultValue);
    QFETCH(int, items);
    QFETCH(QString, first);
    QFETCH(QString, last);
    const auto parsed = ParseControlCode(code);
    QVERIFY(parsed.has_value());
    const ControlCodeInfo info = ControlCodeInfoFor(*parsed);
    QCOMPARE(info.label, label);
    QCOMPARE(info.defaultValue, defaultValue);
    QCOMPARE(info.values.size(), items);
    QCOMPARE(info.values.first(), first);
    QCOMPARE(info.values.last(), last);
    QStringList unique = info.values;
    QCOMPARE(unique.removeDuplicates(), 0);
    if (code == "1") {
        QCOMPARE(info.values.mid(0, 6), QStringList({"08", "0D", "1B", "2A", "2E", "30"}));
        QCOMPARE(info.values.at(15), QString("41"));
    }
    if (code == "6") QCOMPARE(info.values.mid(7, 2), QStringList({"37", "41"}));
    QVERIFY(!ParseControlCode("C"));
    QVERIFY(!ParseControlCode("x"));
}

void LogicTest::driverLockWaitIsBoundedAndEndsAtTheUnlock() {
    using namespace std::chrono_literals;
    DriverLock lock;
    QVERIFY(lock.try_lock_for(0ms));
    QVERIFY(!lock.try_lock_for(20ms));  // held: the wait ends at its deadline
    bool taken = false;
    std::thread other([&] { taken = lock.try_lock_for(60s); });
    lock.unlock();  // the other thread's wait ends here, long before its deadline
    other.join();
    QVERIFY(taken);
    QVERIFY(!lock.try_lock_for(0ms));
    lock.unlock();
    QVERIFY(lock.try_lock_for(0ms));
}

QTEST_GUILESS_MAIN(LogicTest)
#include "logic_test.moc"
