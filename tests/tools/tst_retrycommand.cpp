#include "retrycommand.h"

#include <QtTest>

class tst_RetryCommand : public QObject
{
    Q_OBJECT

private slots:
    void line_data();
    void line();
};

void tst_RetryCommand::line_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("expected");
    const QStringList two{ "198.18.0.2", "198.18.0.9" };
    QTest::newRow("choiceReplaced")
            << QStringList{ "fs", "--all", "--sn", "A,B", "--ip", "198.18.0.0-99", "--canary", "2" }
            << two << "ondaspa-cli upgrade fs --canary 2 --ip 198.18.0.2,198.18.0.9";
    QTest::newRow("attachedValuesAndOneDash")
            << QStringList{ "update", "-ip=1.2.3.4", "--sn=A", "--max-failures=10%" } << two
            << "ondaspa-cli upgrade update --max-failures=10% --ip 198.18.0.2,198.18.0.9";
    // A value that looks like a choosing option stays with its own option.
    QTest::newRow("valueNamedLikeOption")
            << QStringList{ "fs", "--file", "--ip", "--ip", "1.1.1.1" } << two
            << "ondaspa-cli upgrade fs --file --ip --ip "
               "198.18.0.2,198.18.0.9";
    QTest::newRow("quotedForTheShell")
            << QStringList{ "fs", "--folder", "/srv/my images", "--file", "it's.img" } << two
            << "ondaspa-cli upgrade fs --folder '/srv/my images' --file 'it'\\''s.img' --ip "
               "198.18.0.2,198.18.0.9";
    QTest::newRow("beforeEndOfOptions") << QStringList{ "--ip", "1.1.1.1", "--", "fs" } << two
                                        << "ondaspa-cli upgrade --ip 198.18.0.2,198.18.0.9 -- fs";
    // The first run's report is not written over.
    QTest::newRow("reportLeftOut") << QStringList{ "fs", "--all", "--report", "site.csv",
        "--json" } << two << "ondaspa-cli upgrade fs --json --ip 198.18.0.2,198.18.0.9";
    QTest::newRow("noneFailed") << QStringList{ "fs", "--all" } << QStringList() << QString();
}

void tst_RetryCommand::line()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, addresses);
    QFETCH(QString, expected);
    const QSet<QString> valued{ "sn", "ip", "file", "folder", "canary", "max-failures", "report" };
    QCOMPARE(RetryCommand::line(arguments, valued, addresses), expected);
}

QTEST_APPLESS_MAIN(tst_RetryCommand)
#include "tst_retrycommand.moc"
