#include "ipv4addresslist.h"

#include <QtTest>

using Kind = Ipv4AddressList::Error::Kind;
Q_DECLARE_METATYPE(Kind)

class tst_Ipv4AddressList : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void limitHolds();
    void everyProblemNamed();
};

void tst_Ipv4AddressList::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<int>("from_range");
    QTest::addColumn<Kind>("error");
    QTest::addColumn<QString>("item");

    QTest::newRow("single") << "192.168.1.20" << QStringList{ "192.168.1.20" } << 0 << Kind::None
                            << "";
    QTest::newRow("listWithSpaces")
            << " 10.0.0.1 , 10.0.0.2" << QStringList{ "10.0.0.1", "10.0.0.2" } << 0 << Kind::None
            << "";
    QTest::newRow("lastPartRange")
            << "192.168.1.20-22" << QStringList{ "192.168.1.20", "192.168.1.21", "192.168.1.22" }
            << 3 << Kind::None << "";
    QTest::newRow("rangeAcrossNetworks")
            << "10.0.0.255-10.0.1.1" << QStringList{ "10.0.0.255", "10.0.1.0", "10.0.1.1" } << 3
            << Kind::None << "";
    QTest::newRow("duplicatesOnce")
            << "10.0.0.1,10.0.0.1-2" << QStringList{ "10.0.0.1", "10.0.0.2" } << 1 << Kind::None
            << "";
    QTest::newRow("reversed") << "10.0.0.9-3 " << QStringList() << 0 << Kind::Reversed
                              << "10.0.0.9-3";
    QTest::newRow("octetTooLarge")
            << "10.0.0.256" << QStringList() << 0 << Kind::Malformed << "10.0.0.256";
    QTest::newRow("threeParts") << "10.0.1" << QStringList() << 0 << Kind::Malformed << "10.0.1";
    QTest::newRow("hexadecimal") << "0x0a.0.0.1" << QStringList() << 0 << Kind::Malformed
                                 << "0x0a.0.0.1";
    QTest::newRow("ipv6") << "::1" << QStringList() << 0 << Kind::Malformed << "::1";
    QTest::newRow("trailingComma")
            << "10.0.0.1," << QStringList{ "10.0.0.1" } << 0 << Kind::Empty << "";
    QTest::newRow("doubledComma") << "10.0.0.1, ,10.0.0.2" << QStringList{ "10.0.0.1" } << 0
                                  << Kind::Empty << "";
    QTest::newRow("rangeEndMissing")
            << "10.0.0.1-" << QStringList() << 0 << Kind::Malformed << "10.0.0.1-";
}

void tst_Ipv4AddressList::parse()
{
    QFETCH(QString, text);
    QFETCH(QStringList, addresses);
    QFETCH(int, from_range);
    QFETCH(Kind, error);
    QFETCH(QString, item);
    QVector<Ipv4AddressList::Entry> entries;
    Ipv4AddressList::Error reason;
    QCOMPARE(Ipv4AddressList::parse(text, &entries, &reason), error == Kind::None);
    QCOMPARE(reason.kind, error);
    QCOMPARE(reason.item, item);
    QStringList parsed;
    int ranged = 0;
    for (const Ipv4AddressList::Entry &entry : entries) {
        parsed << entry.address.toString();
        ranged += entry.from_range ? 1 : 0;
    }
    QCOMPARE(parsed, addresses);
    QCOMPARE(ranged, from_range);
}

void tst_Ipv4AddressList::limitHolds()
{
    QVector<Ipv4AddressList::Entry> entries;
    Ipv4AddressList::Error error;
    QVERIFY(Ipv4AddressList::parse(QStringLiteral("10.0.0.0-10.0.15.255"), &entries, &error));
    QCOMPARE(entries.size(), Ipv4AddressList::max_addresses);
    QVERIFY(!Ipv4AddressList::parse(QStringLiteral("10.1.0.0"), &entries, &error));
    QCOMPARE(error.kind, Kind::TooMany);
    QCOMPARE(error.item, QStringLiteral("10.1.0.0"));
    QCOMPARE(error.limit, 4096);
}

void tst_Ipv4AddressList::everyProblemNamed()
{
    const QString text = QStringLiteral("10.0.0.1,,10.0.0.x, 10.0.0.9-3 ,10.0.0.4");
    const QVector<Ipv4AddressList::Error> problems = Ipv4AddressList::problems(text);
    QCOMPARE(problems.size(), 3);
    QCOMPARE(problems.at(0).kind, Kind::Empty);
    QCOMPARE(problems.at(0).end, 9);
    QCOMPARE(problems.at(1).kind, Kind::Malformed);
    QCOMPARE(problems.at(1).item, QStringLiteral("10.0.0.x"));
    QCOMPARE(problems.at(1).end, 18);
    QCOMPARE(problems.at(2).kind, Kind::Reversed);
    QCOMPARE(text.left(problems.at(2).end), QStringLiteral("10.0.0.1,,10.0.0.x, 10.0.0.9-3"));
    // Too many only once every item is good, as parse() counts.
    const QVector<Ipv4AddressList::Error> total =
            Ipv4AddressList::problems(QStringLiteral("10.0.0.0-10.0.15.255,10.1.0.0"));
    QCOMPARE(total.size(), 1);
    QCOMPARE(total.first().kind, Kind::TooMany);
    QVERIFY(Ipv4AddressList::problems(QStringLiteral("10.0.0.1-5")).isEmpty());
}

QTEST_APPLESS_MAIN(tst_Ipv4AddressList)
#include "tst_ipv4addresslist.moc"
