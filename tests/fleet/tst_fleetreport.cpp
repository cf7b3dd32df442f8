#include "fleetreport.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

// The CSV report: its frame (mark, header, one row per device, CRLF), RFC 4180 quoting,
// cells a spreadsheet would run as formulas, Chinese text, and a write that cannot be made.
class tst_FleetReport : public QObject
{
    Q_OBJECT

private slots:
    void cell_data();
    void cell();
    void tableOfRun();
    void writeReplacesWholeOrFails();
};

void tst_FleetReport::cell_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << "SN-001"
                           << "SN-001";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("chinese") << "一号喇叭"
                             << "一号喇叭";
    QTest::newRow("comma") << "a,b"
                           << "\"a,b\"";
    QTest::newRow("quote") << "say \"hi\""
                           << "\"say \"\"hi\"\"\"";
    QTest::newRow("lineFeed") << "a\nb"
                              << "\"a\nb\"";
    QTest::newRow("formula-equals") << "=HYPERLINK(\"x\")"
                                    << "\"'=HYPERLINK(\"\"x\"\")\"";
    QTest::newRow("formula-plus") << "+1"
                                  << "'+1";
    QTest::newRow("formula-minus") << "-2+3"
                                   << "'-2+3";
    QTest::newRow("formula-at") << "@SUM(A1)"
                                << "'@SUM(A1)";
    QTest::newRow("formula-tab") << "\t=1"
                                 << "'\t=1";
    QTest::newRow("formula-carriageReturn") << "\r=1"
                                            << "\"'\r=1\"";
    QTest::newRow("formula-notFirst") << "a=b"
                                      << "a=b";
}

void tst_FleetReport::cell()
{
    QFETCH(QString, text);
    QFETCH(QString, written);
    QCOMPARE(FleetReport::cell(text), written);
}

void tst_FleetReport::tableOfRun()
{
    FleetRunRecord run;
    run.started = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::OffsetFromUTC, 8 * 3600);
    run.type = QStringLiteral("fs");
    run.file_name = QStringLiteral("minifs_rom.img");
    run.sha256 = "ab12";
    run.devices.append({ QStringLiteral("=1+2"), QStringLiteral("10.0.0.5"), QStringLiteral("1.0"),
            QStringLiteral("1.1"), QStringLiteral("back"), 2, 1000, 3.26 });
    run.devices.append({ QStringLiteral("大厅,东"), QStringLiteral("10.0.0.6"), QString(),
            QString(), QStringLiteral("not started"), 0, 0, -1 });
    const QByteArray csv = FleetReport::csv(run);

    QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
    const QStringList rows = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
    QCOMPARE(rows.size(), 4); // the last row ends its line too
    QCOMPARE(rows.at(0),
            QStringLiteral("started,type,file,sha256,sn,address,ver_before,ver_after,state,"
                           "attempts,bytes,seconds"));
    QCOMPARE(rows.at(1),
            QStringLiteral("2026-03-04T05:06:07.000+08:00,fs,minifs_rom.img,ab12,'=1+2,10.0.0.5,"
                           "1.0,1.1,back,2,1000,3.3"));
    QCOMPARE(rows.at(2),
            QStringLiteral("2026-03-04T05:06:07.000+08:00,fs,minifs_rom.img,ab12,\"大厅,东\","
                           "10.0.0.6,,,not started,0,0,"));
    QCOMPARE(rows.at(3), QString());
    QCOMPARE(FleetReport::columns().size(), rows.at(0).count(QLatin1Char(',')) + 1);
}

void tst_FleetReport::writeReplacesWholeOrFails()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString path = work.filePath(QStringLiteral("报告.csv"));
    QVERIFY(writeFile(path, QByteArray(100000, 'o')));
    FleetRunRecord run;
    QString error;
    QVERIFY2(FleetReport::write(path, run, &error), qPrintable(error));
    QCOMPARE(readFile(path), FleetReport::csv(run));

    const QString nowhere = work.filePath(QStringLiteral("missing/r.csv"));
    QVERIFY(!FleetReport::write(nowhere, run, &error));
    QVERIFY2(error.startsWith(QStringLiteral("cannot write ") + QDir::toNativeSeparators(nowhere)
                     + QStringLiteral(": ")),
            qPrintable(error));
    QVERIFY(!QFileInfo::exists(nowhere));
}

QTEST_GUILESS_MAIN(tst_FleetReport)
#include "tst_fleetreport.moc"
