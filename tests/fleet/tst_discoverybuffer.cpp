#include "discoverybuffer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QUdpSocket>
#include <QtTest>

namespace {

// Two sockets of /proc/net/udp, as Linux writes it.
const char table[] =
        "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode ref pointer drops\n"
        "  120: 00000000:3D6C 00000000:0000 07 00000000:00000000 00:00000000 00000000     0  "
        "      0 48213 2 0000000000000000 0\n"
        "  491: 00000000:C4A1 00000000:0000 07 00000000:0003F200 00:00000000 00000000     0  "
        "      0 48377 2 0000000000000000 3380\n";

} // namespace

// The discovery socket's receive buffer and the system's count of the
// datagrams it dropped, on real loopback sockets.
class tst_DiscoveryBuffer : public QObject
{
    Q_OBJECT

private slots:
    void dropsColumnOfTheSocketsLine_data();
    void dropsColumnOfTheSocketsLine();
    void grantedSizeIsWhatTheSocketHas();
    void warningNamesBothSizes();
    void countsDatagramsDroppedByAFullBuffer();
};

void tst_DiscoveryBuffer::dropsColumnOfTheSocketsLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<quint64>("inode");
    QTest::addColumn<qint64>("drops");
    QTest::newRow("none dropped") << QByteArray(table) << quint64(48213) << qint64(0);
    QTest::newRow("overflowed") << QByteArray(table) << quint64(48377) << qint64(3380);
    QTest::newRow("no such socket") << QByteArray(table) << quint64(4821) << qint64(-1);
    // The header's words are no inode, and a cut line has no drops column.
    QTest::newRow("cut line") << QByteArray(table).left(int(sizeof table) - 30) << quint64(48377)
                              << qint64(-1);
    QTest::newRow("empty") << QByteArray() << quint64(48213) << qint64(-1);
}

void tst_DiscoveryBuffer::dropsColumnOfTheSocketsLine()
{
    QFETCH(QByteArray, text);
    QFETCH(quint64, inode);
    QFETCH(qint64, drops);
    QCOMPARE(DiscoveryBuffer::drops_in_table(text, inode), drops);
}

void tst_DiscoveryBuffer::grantedSizeIsWhatTheSocketHas()
{
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const int before = socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    const DiscoveryBuffer::Size size = DiscoveryBuffer::enlarge(socket);
    QCOMPARE(size.asked, DiscoveryBuffer::wanted_bytes);
    QCOMPARE(size.granted,
            socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt());
    QVERIFY2(size.granted > before, qPrintable(QString::number(size.granted)));
    // Where the system tells its cap, the buffer reaches it at least (a privileged process
    // passes it).
    QFile cap(QStringLiteral("/proc/sys/net/core/rmem_max"));
    if (cap.open(QIODevice::ReadOnly)) {
        const int most = cap.readAll().trimmed().toInt();
        QVERIFY2(size.granted >= qMin(size.asked, most),
                qPrintable(QStringLiteral("%1 of %2").arg(size.granted).arg(most)));
    }
}

void tst_DiscoveryBuffer::warningNamesBothSizes()
{
    DiscoveryBuffer::Size size;
    size.asked = 8 * 1024 * 1024;
    size.granted = 425984;
    QVERIFY(size.far_less());
    QVERIFY2(size.warning().contains(QStringLiteral("416 KiB of the 8192 KiB asked")),
            qPrintable(size.warning()));
    size.granted = 16 * 1024 * 1024;
    QVERIFY(!size.far_less());
}

void tst_DiscoveryBuffer::countsDatagramsDroppedByAFullBuffer()
{
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
    // The system's smallest buffer holds a few datagrams.
    DiscoveryBuffer::enlarge(receiver, 1);
    QCOMPARE(DiscoveryBuffer::dropped(receiver), qint64(0));
    QUdpSocket sender;
    const QByteArray datagram(1000, 'r');
    constexpr int sent = 200;
    for (int index = 0; index < sent; ++index)
        QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, receiver.localPort()),
                qint64(datagram.size()));
    int read = 0;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 200) {
        QTest::qWait(10);
        while (receiver.hasPendingDatagrams() && receiver.readDatagram(nullptr, 0) >= 0)
            ++read;
    }
    QVERIFY2(read > 0 && read < sent, qPrintable(QString::number(read)));
    QCOMPARE(DiscoveryBuffer::dropped(receiver), qint64(sent - read));
}

QTEST_GUILESS_MAIN(tst_DiscoveryBuffer)
#include "tst_discoverybuffer.moc"
