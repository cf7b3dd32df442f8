#include "devicetable.h"

#include <QtTest>

using Outcome = DeviceTable::Outcome;
Q_DECLARE_METATYPE(DeviceTable::Outcome)

namespace {

QHostAddress host(int n)
{
    return QHostAddress(QStringLiteral("198.18.0.%1").arg(n));
}

// A reply object padded with spaces to exactly size bytes.
QByteArray padded(const QByteArray &json, int size)
{
    return json + QByteArray(size - json.size(), ' ');
}

} // namespace

class tst_DeviceTable : public QObject
{
    Q_OBJECT

private slots:
    void emptyAfterConstruction();
    void singleReply_data();
    void singleReply();
    void duplicates_data();
    void duplicates();
    void eleventhDeviceDropped();
    void clearEmptiesEverySlot();
};

void tst_DeviceTable::emptyAfterConstruction()
{
    DeviceTable table;
    QCOMPARE(table.count(), 0);
    for (int slot = 0; slot < DeviceTable::slot_count; ++slot) {
        QCOMPARE(table.text(slot), QStringLiteral("-"));
        QVERIFY(table.address(slot).isNull());
        QVERIFY(table.address(slot).toString().isEmpty());
    }
    QVERIFY(table.address(-1).isNull());
    QVERIFY(table.address(DeviceTable::slot_count).isNull());
}

void tst_DeviceTable::singleReply_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("text");

    QTest::newRow("snOnly") << QByteArray(R"({"sn":"A1"})") << Outcome::Added << "A1";
    QTest::newRow("snVer") << QByteArray(R"({"sn":"A1","ver":"2.0"})") << Outcome::Added
                           << "A1,2.0";
    QTest::newRow("snSnd") << QByteArray(R"({"sn":"A1","snd":"x"})") << Outcome::Added << "A1,x";
    QTest::newRow("snVerSnd") << QByteArray(R"({"snd":"x","sn":"A1","ver":"2.0"})")
                              << Outcome::Added << "A1,2.0,x";
    QTest::newRow("emptyVer") << QByteArray(R"({"sn":"A1","ver":"","snd":"x"})") << Outcome::Added
                              << "A1,x";
    QTest::newRow("numericVerIsEmpty")
            << QByteArray(R"({"sn":"A1","ver":2})") << Outcome::Added << "A1";
    QTest::newRow("otherMembersIgnored")
            << QByteArray(R"({"sn":"A1","mac":"x","n":[1]})") << Outcome::Added << "A1";
    QTest::newRow("indentedReply")
            << QByteArray("{\n    \"sn\": \"A1\"\n}\n") << Outcome::Added << "A1";
    QTest::newRow("textEndsAtZeroByte")
            << QByteArray("{\"sn\":\"A1\"}\0junk", 16) << Outcome::Added << "A1";
    QTest::newRow("typeOtherThanProbe")
            << QByteArray(R"({"type":"ack","sn":"A1"})") << Outcome::Added << "A1";
    QTest::newRow("probeTypeOtherCase")
            << QByteArray(R"({"type":"HelloTavirex","sn":"A1"})") << Outcome::Added << "A1";
    QTest::newRow("probeType") << QByteArray(R"({"type":"hellotavirex","sn":"A1"})")
                               << Outcome::Probe << "-";
    QTest::newRow("snNumber") << QByteArray(R"({"sn":12})") << Outcome::NoSerial << "-";
    QTest::newRow("snMissing") << QByteArray(R"({"ver":"2.0"})") << Outcome::NoSerial << "-";
    QTest::newRow("snEmpty") << QByteArray(R"({"sn":""})") << Outcome::NoSerial << "-";
    QTest::newRow("snDashMatchesEmptyRow")
            << QByteArray(R"({"sn":"-"})") << Outcome::Duplicate << "-";
    QTest::newRow("empty") << QByteArray() << Outcome::NotJson << "-";
    QTest::newRow("notJson") << QByteArray("hello") << Outcome::NotJson << "-";
    QTest::newRow("truncatedJson") << QByteArray(R"({"sn":"A1")") << Outcome::NotJson << "-";
    QTest::newRow("array") << QByteArray(R"(["sn","A1"])") << Outcome::NotObject << "-";
    QTest::newRow("size-atLimit") << padded(R"({"sn":"A1"})", 1023) << Outcome::Added << "A1";
    QTest::newRow("size-overLimit") << padded(R"({"sn":"A1"})", 1024) << Outcome::TooLong << "-";
}

void tst_DeviceTable::singleReply()
{
    QFETCH(QByteArray, datagram);
    QFETCH(Outcome, outcome);
    QFETCH(QString, text);
    DeviceTable table;
    QCOMPARE(table.take_reply(datagram, host(2)), outcome);
    QCOMPARE(table.text(0), text);
    const bool added = outcome == Outcome::Added;
    QCOMPARE(table.count(), added ? 1 : 0);
    QCOMPARE(table.address(0), added ? host(2) : QHostAddress());
}

void tst_DeviceTable::duplicates_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("secondHost");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("sameAnswerRepeated")
            << QByteArray(R"({"sn":"A1"})") << QByteArray(R"({"sn":"A1"})") << 2
            << Outcome::Duplicate << QStringList{ "A1", "-" };
    QTest::newRow("sameAddressOtherSn")
            << QByteArray(R"({"sn":"A1"})") << QByteArray(R"({"sn":"B2"})") << 2
            << Outcome::Duplicate << QStringList{ "A1", "-" };
    QTest::newRow("sameSnOtherAddress")
            << QByteArray(R"({"sn":"A1"})") << QByteArray(R"({"sn":"A1","ver":"3"})") << 3
            << Outcome::Duplicate << QStringList{ "A1", "-" };
    QTest::newRow("snCaseDiffers") << QByteArray(R"({"sn":"A1"})") << QByteArray(R"({"sn":"a1"})")
                                   << 3 << Outcome::Added << QStringList{ "A1", "a1" };
    // The whole row text is compared, so a device with a version is only
    // recognised again by its address.
    QTest::newRow("snWithVerOtherAddress")
            << QByteArray(R"({"sn":"A1","ver":"2.0"})") << QByteArray(R"({"sn":"A1","ver":"2.0"})")
            << 3 << Outcome::Added << QStringList{ "A1,2.0", "A1,2.0" };
    QTest::newRow("snMatchesWholeRowText")
            << QByteArray(R"({"sn":"A1","ver":"2.0"})") << QByteArray(R"({"sn":"A1,2.0"})") << 3
            << Outcome::Duplicate << QStringList{ "A1,2.0", "-" };
}

void tst_DeviceTable::duplicates()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, secondHost);
    QFETCH(Outcome, outcome);
    QFETCH(QStringList, texts);
    DeviceTable table;
    QCOMPARE(table.take_reply(first, host(2)), Outcome::Added);
    QCOMPARE(table.take_reply(second, host(secondHost)), outcome);
    QCOMPARE(QStringList({ table.text(0), table.text(1) }), texts);
    QCOMPARE(table.count(), outcome == Outcome::Added ? 2 : 1);
}

void tst_DeviceTable::eleventhDeviceDropped()
{
    DeviceTable table;
    for (int n = 0; n < DeviceTable::slot_count; ++n) {
        const QByteArray reply = QStringLiteral(R"({"sn":"D%1"})").arg(n).toUtf8();
        QCOMPARE(table.take_reply(reply, host(10 + n)), Outcome::Added);
    }
    QCOMPARE(table.take_reply(R"({"sn":"D10"})", host(30)), Outcome::Full);
    // With every row filled no row shows "-" any more, but the table is full.
    QCOMPARE(table.take_reply(R"({"sn":"-"})", host(31)), Outcome::Full);
    QCOMPARE(table.count(), DeviceTable::slot_count);
    for (int slot = 0; slot < DeviceTable::slot_count; ++slot) {
        QCOMPARE(table.text(slot), QStringLiteral("D%1").arg(slot));
        QCOMPARE(table.address(slot), host(10 + slot));
    }
}

void tst_DeviceTable::clearEmptiesEverySlot()
{
    DeviceTable table;
    QCOMPARE(table.take_reply(R"({"sn":"A1"})", host(2)), Outcome::Added);
    QCOMPARE(table.take_reply(R"({"sn":"B2"})", host(3)), Outcome::Added);
    table.clear();
    QCOMPARE(table.count(), 0);
    for (int slot = 0; slot < DeviceTable::slot_count; ++slot) {
        QCOMPARE(table.text(slot), QStringLiteral("-"));
        QVERIFY(table.address(slot).isNull());
    }
    // The same device is new again after a clear.
    QCOMPARE(table.take_reply(R"({"sn":"A1"})", host(2)), Outcome::Added);
    QCOMPARE(table.count(), 1);
}

QTEST_GUILESS_MAIN(tst_DeviceTable)
#include "tst_devicetable.moc"
