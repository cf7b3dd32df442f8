#include "probetally.h"

#include <QtTest>

class tst_ProbeTally : public QObject
{
    Q_OBJECT

private slots:
    void namesWhoStayedSilent();
    void manySilentCounted();
};

void tst_ProbeTally::namesWhoStayedSilent()
{
    ProbeTally tally;
    QVERIFY(!tally.is_open());
    tally.start({ QHostAddress("198.18.0.2"), QHostAddress("198.18.0.3"),
            QHostAddress("198.18.0.4"), QHostAddress("198.18.0.5") });
    QVERIFY(tally.is_open());
    QVERIFY(tally.take(QHostAddress("198.18.0.2")));
    QVERIFY(tally.take(QHostAddress("::ffff:198.18.0.4")));
    QVERIFY(tally.take(QHostAddress("198.18.0.5")));
    // Twice, or not probed: no answer of this probe.
    QVERIFY(!tally.take(QHostAddress("198.18.0.2")));
    QVERIFY(!tally.take(QHostAddress("198.18.0.9")));
    QCOMPARE(tally.finish(), QStringLiteral("探测 4 个地址: 3 个应答, 1 个无应答: 198.18.0.3"));
    QVERIFY(!tally.is_open());
    QVERIFY(!tally.take(QHostAddress("198.18.0.3")));
}

void tst_ProbeTally::manySilentCounted()
{
    ProbeTally tally;
    QList<QHostAddress> range;
    for (quint32 last = 1; last <= 20; ++last)
        range << QHostAddress(0x0a000000u + last);
    tally.start(range);
    QVERIFY(tally.take(range.at(0)));
    QCOMPARE(tally.finish(),
            QStringLiteral("探测 20 个地址: 1 个应答, 19 个无应答: 10.0.0.2, 10.0.0.3, 10.0.0.4, "
                           "10.0.0.5, 10.0.0.6, 10.0.0.7, 10.0.0.8, 10.0.0.9 等"));
}

QTEST_APPLESS_MAIN(tst_ProbeTally)
#include "tst_probetally.moc"
