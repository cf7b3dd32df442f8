#include "heardreplies.h"

#include <QtTest>

class tst_HeardReplies : public QObject
{
    Q_OBJECT

private slots:
    void onePerSenderInOrderHeard();
    void boundedInSenders();
};

void tst_HeardReplies::onePerSenderInOrderHeard()
{
    HeardReplies heard;
    const QDateTime start(QDate(2026, 12, 8), QTime(18, 0));
    QVERIFY(heard.take(R"({"sn":"A","ver":"1.0"})", QHostAddress("198.18.0.2"), start));
    QVERIFY(heard.take(R"({"sn":"B"})", QHostAddress("198.18.0.3"), start.addSecs(1)));
    // The same device in its IPv4-mapped form, with a newer "ver".
    QVERIFY(heard.take(
            R"({"sn":"A","ver":"1.1"})", QHostAddress("::ffff:198.18.0.2"), start.addSecs(2)));
    QVERIFY(!heard.take("not json", QHostAddress("198.18.0.4"), start));
    QVERIFY(!heard.take(R"({"ver":"1.0"})", QHostAddress("198.18.0.5"), start));

    QCOMPARE(heard.replies().size(), 2);
    const HeardReplies::Reply first = heard.replies().first();
    QCOMPARE(first.sender, QHostAddress("198.18.0.2"));
    QCOMPARE(first.datagram, QByteArray(R"({"sn":"A","ver":"1.1"})"));
    QCOMPARE(first.first_heard, start);
    QCOMPARE(heard.replies().at(1).first_heard, start.addSecs(1));
    heard.clear();
    QVERIFY(heard.replies().isEmpty());
}

void tst_HeardReplies::boundedInSenders()
{
    HeardReplies heard;
    const QDateTime now = QDateTime::currentDateTime();
    for (quint32 sender = 0; sender < quint32(HeardReplies::max_senders); ++sender)
        QVERIFY(heard.take(R"({"sn":"X"})", QHostAddress(0x0a000000u + sender), now));
    QVERIFY(!heard.take(R"({"sn":"Y"})", QHostAddress("198.18.0.2"), now));
    // Those known are still updated.
    QVERIFY(heard.take(R"({"sn":"Z"})", QHostAddress(0x0a000000u), now));
    QCOMPARE(heard.replies().size(), HeardReplies::max_senders);
}

QTEST_APPLESS_MAIN(tst_HeardReplies)
#include "tst_heardreplies.moc"
