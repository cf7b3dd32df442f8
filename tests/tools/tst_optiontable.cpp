#include "optiontable.h"

#include <QCommandLineParser>
#include <QtTest>

// The tools' table of numeric options: each value is read into its target
// only inside its range, and the first one outside stops the reading.
class tst_OptionTable : public QObject
{
    Q_OBJECT

private slots:
    void wholeNumbers_data();
    void wholeNumbers();
    void seconds_data();
    void seconds();
    void firstRefusalStops();
    void parserErrorReadsAsMessage_data();
    void parserErrorReadsAsMessage();
};

namespace {

// Parses arguments (without the program's name) with the options of rows.
bool parsed(QCommandLineParser &parser, const QVector<OptionTable::Row> &rows,
        const QStringList &arguments)
{
    for (const OptionTable::Row &row : rows)
        parser.addOption(QCommandLineOption(row.name, QString(), QStringLiteral("VALUE")));
    return parser.parse(QStringList{ QStringLiteral("tool") } + arguments);
}

} // namespace

void tst_OptionTable::wholeNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint64>("value"); // the target afterwards; it starts at -7

    QTest::newRow("minimum") << "1" << true << qint64(1);
    QTest::newRow("maximum") << "65535" << true << qint64(65535);
    QTest::newRow("belowMinimum") << "0" << false << qint64(-7);
    QTest::newRow("aboveMaximum") << "65536" << false << qint64(-7);
    QTest::newRow("negative") << "-1" << false << qint64(-7);
    QTest::newRow("fraction") << "2.5" << false << qint64(-7);
    QTest::newRow("word") << "many" << false << qint64(-7);
    QTest::newRow("empty") << "" << false << qint64(-7);
    QTest::newRow("beyond64Bits") << "99999999999999999999" << false << qint64(-7);
}

void tst_OptionTable::wholeNumbers()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(qint64, value);

    int asInt = -7;
    quint16 asPort = 7;
    qint64 asLong = -7;
    const OptionTable::Range range{ 1, 65535 };
    const QVector<OptionTable::Row> rows{
        { QStringLiteral("int"), OptionTable::Unit::Whole, range, &asInt, QStringLiteral("int") },
        { QStringLiteral("port"), OptionTable::Unit::Whole, range, &asPort,
                QStringLiteral("port") },
        { QStringLiteral("long"), OptionTable::Unit::Whole, range, &asLong,
                QStringLiteral("long") },
    };
    for (const OptionTable::Row &row : rows) {
        QCommandLineParser parser;
        QVERIFY(parsed(parser, rows, { QLatin1String("--") + row.name, text }));
        const std::optional<OptionTable::Refusal> refusal = OptionTable::read(parser, rows);
        QCOMPARE(!refusal, accepted);
        if (refusal) {
            QCOMPARE(refusal->message, row.name);
            QCOMPARE(refusal->given, text);
        }
    }
    QCOMPARE(qint64(asInt), value);
    QCOMPARE(qint64(asLong), value);
    QCOMPARE(asPort, accepted ? quint16(value) : quint16(7));
}

void tst_OptionTable::seconds_data()
{
    QTest::addColumn<bool>("aboveMinimum");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("milliseconds"); // the target afterwards; it starts at -1

    QTest::newRow("fromZero-zero") << false << "0" << true << 0;
    QTest::newRow("fromZero-tinyRoundsToZero") << false << "0.0001" << true << 0;
    QTest::newRow("fromZero-halfRoundsUp") << false << "0.0005" << true << 1;
    QTest::newRow("fromZero-fraction") << false << "1.25" << true << 1250;
    QTest::newRow("fromZero-maximum") << false << "3600" << true << 3600000;
    QTest::newRow("fromZero-aboveMaximum") << false << "3600.001" << false << -1;
    QTest::newRow("fromZero-negative") << false << "-0.5" << false << -1;
    QTest::newRow("aboveZero-zero") << true << "0" << false << -1;
    QTest::newRow("aboveZero-tinyIsOneMillisecond") << true << "0.0001" << true << 1;
    QTest::newRow("aboveZero-maximum") << true << "3600" << true << 3600000;
    QTest::newRow("notANumber") << false << "nan" << false << -1;
    QTest::newRow("infinite") << false << "inf" << false << -1;
    QTest::newRow("word") << false << "soon" << false << -1;
}

void tst_OptionTable::seconds()
{
    QFETCH(bool, aboveMinimum);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(int, milliseconds);

    int target = -1;
    const QVector<OptionTable::Row> rows{ { QStringLiteral("wait"), OptionTable::Unit::Seconds,
            { 0, 3600, aboveMinimum }, &target, QStringLiteral("--wait needs seconds") } };
    QCommandLineParser parser;
    QVERIFY(parsed(parser, rows, { QStringLiteral("--wait"), text }));
    QCOMPARE(!OptionTable::read(parser, rows), accepted);
    QCOMPARE(target, milliseconds);
}

void tst_OptionTable::firstRefusalStops()
{
    int first = 0;
    int second = 0;
    int third = 0;
    int absent = 5;
    const OptionTable::Range range{ 1, 9 };
    const QVector<OptionTable::Row> rows{
        { QStringLiteral("first"), OptionTable::Unit::Whole, range, &first, QStringLiteral("1") },
        { QStringLiteral("absent"), OptionTable::Unit::Whole, range, &absent, QStringLiteral("a") },
        { QStringLiteral("second"), OptionTable::Unit::Whole, range, &second,
                QStringLiteral("--second needs a number from 1 to 9") },
        { QStringLiteral("third"), OptionTable::Unit::Whole, range, &third, QStringLiteral("3") },
    };
    QCommandLineParser parser;
    QVERIFY(parsed(parser, rows, { "--third", "10", "--second", "0", "--first", "4" }));
    const std::optional<OptionTable::Refusal> refusal = OptionTable::read(parser, rows);
    QVERIFY(refusal);
    QCOMPARE(refusal->message, QStringLiteral("--second needs a number from 1 to 9"));
    QCOMPARE(refusal->given, QStringLiteral("0"));
    QCOMPARE(first, 4);
    QCOMPARE(absent, 5);
    QCOMPARE(second, 0);
    QCOMPARE(third, 0);
}

void tst_OptionTable::parserErrorReadsAsMessage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknownLong") << QStringList{ "--nothing" } << "unknown option '--nothing'";
    QTest::newRow("unknownLongWithValue")
            << QStringList{ "--nothing=3" } << "unknown option '--nothing'";
    QTest::newRow("unknownLongOneDash") << QStringList{ "-x" } << "unknown option '-x'";
    QTest::newRow("unknownInGroup") << QStringList{ "-vx" } << "unknown option '-v'";
    QTest::newRow("unknownAfterKnown")
            << QStringList{ "--count", "3", "--bogus" } << "unknown option '--bogus'";
    QTest::newRow("missingValue") << QStringList{ "--count" } << "missing value after '--count'";
}

void tst_OptionTable::parserErrorReadsAsMessage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QCommandLineParser parser;
    parser.addOption(QCommandLineOption(QStringLiteral("count"), QString(), QStringLiteral("N")));
    const QStringList given = QStringList{ QStringLiteral("tool") } + arguments;
    QVERIFY(!parser.parse(given));
    QCOMPARE(OptionTable::parserError(parser, given), message);
}

QTEST_APPLESS_MAIN(tst_OptionTable)
#include "tst_optiontable.moc"
