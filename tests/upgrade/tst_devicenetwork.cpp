#include "devicenetwork.h"

#include <QUdpSocket>
#include <QtTest>

namespace {

QNetworkAddressEntry entry(const QString &ip, const QString &broadcast)
{
    QNetworkAddressEntry result;
    result.setIp(QHostAddress(ip));
    if (!broadcast.isEmpty())
        result.setBroadcast(QHostAddress(broadcast));
    return result;
}

} // namespace

class tst_DeviceNetwork : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void broadcastSelection_data();
    void broadcastSelection();
    void senderReplacedAndRestored();
    void interfacesByState_data();
    void interfacesByState();
};

void tst_DeviceNetwork::cleanup()
{
    DeviceNetwork::set_entry_provider(nullptr);
    DeviceNetwork::set_sender(nullptr);
}

void tst_DeviceNetwork::broadcastSelection_data()
{
    QTest::addColumn<QList<QNetworkAddressEntry>>("entries");
    QTest::addColumn<QStringList>("broadcasts");

    QTest::newRow("loopbackOnly") << QList<QNetworkAddressEntry>{ entry("127.0.0.1", "") }
                                  << QStringList();
    QTest::newRow("loopbackWithBroadcast")
            << QList<QNetworkAddressEntry>{ entry("127.0.0.1", "127.255.255.255") }
            << QStringList();
    QTest::newRow("otherLoopbackAddress")
            << QList<QNetworkAddressEntry>{ entry("127.0.0.2", "127.255.255.255") }
            << QStringList{ "127.255.255.255" };
    QTest::newRow("twoNetworksInOrder")
            << QList<QNetworkAddressEntry>{ entry("198.18.1.5", "198.18.1.255"),
                   entry("127.0.0.1", ""), entry("198.19.0.9", "198.19.255.255") }
            << QStringList{ "198.18.1.255", "198.19.255.255" };
    QTest::newRow("noBroadcast") << QList<QNetworkAddressEntry>{ entry("198.18.0.1", "") }
                                 << QStringList();
    QTest::newRow("ipv6WithBroadcastSkipped") << QList<QNetworkAddressEntry>{
        entry("fe80::1", "198.18.0.255"), entry("198.18.0.1", "198.18.0.255")
    } << QStringList{ "198.18.0.255" };
}

void tst_DeviceNetwork::broadcastSelection()
{
    QFETCH(QList<QNetworkAddressEntry>, entries);
    QFETCH(QStringList, broadcasts);
    QStringList selected;
    for (const QHostAddress &address : DeviceNetwork::broadcast_addresses(entries))
        selected << address.toString();
    QCOMPARE(selected, broadcasts);
}

// Only loopback traffic: the default sender is checked against a local socket.
void tst_DeviceNetwork::senderReplacedAndRestored()
{
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
    QUdpSocket socket;

    QByteArray captured;
    DeviceNetwork::set_sender(
            [&captured](QUdpSocket &, const QByteArray &datagram, const QHostAddress &, quint16) {
                captured = datagram;
                return qint64(-1);
            });
    QCOMPARE(DeviceNetwork::send(socket, "one", QHostAddress::LocalHost, receiver.localPort()),
            qint64(-1));
    QCOMPARE(captured, QByteArray("one"));
    QVERIFY(!receiver.waitForReadyRead(100));

    DeviceNetwork::set_sender(nullptr);
    QCOMPARE(DeviceNetwork::send(socket, "two", QHostAddress::LocalHost, receiver.localPort()),
            qint64(3));
    QVERIFY(receiver.waitForReadyRead(5000));
    QByteArray datagram(16, '\0');
    datagram.truncate(int(receiver.readDatagram(datagram.data(), datagram.size())));
    QCOMPARE(datagram, QByteArray("two"));
}

void tst_DeviceNetwork::interfacesByState_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("used");

    using Flag = QNetworkInterface::InterfaceFlag;
    const QNetworkInterface::InterfaceFlags up = Flag::IsUp | Flag::IsRunning | Flag::CanBroadcast;
    QTest::newRow("up") << int(up) << true;
    // Windows lists a disconnected adapter with its addresses; elsewhere the
    // window's search still sends on it.
    QTest::newRow("down") << int(Flag::CanBroadcast) << !DeviceNetwork::skips_down_interfaces;
    QTest::newRow("upButNotRunning") << int(Flag::IsUp) << true;
}

void tst_DeviceNetwork::interfacesByState()
{
    QFETCH(int, flags);
    QFETCH(bool, used);
    QCOMPARE(DeviceNetwork::uses_interface(QNetworkInterface::InterfaceFlags(flags)), used);
}

QTEST_GUILESS_MAIN(tst_DeviceNetwork)
#include "tst_devicenetwork.moc"
