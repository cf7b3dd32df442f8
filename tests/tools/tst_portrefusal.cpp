#include "portrefusal.h"

#include <QCoreApplication>
#include <QtTest>

// What `ondaspa-cli upgrade` advises for a port it cannot listen on, as each system means it.
class tst_PortRefusal : public QObject
{
    Q_OBJECT

private slots:
    void advice_data();
    void advice();
};

void tst_PortRefusal::advice_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("absent");

    const QString other = QStringLiteral("choose another port with --port");
#ifdef Q_OS_WIN
    // Any user may listen on any port there: the port is taken, or kept by the system.
    QTest::newRow("accessRefused")
            << int(QAbstractSocket::SocketAccessError)
            << "another program holds it for itself, or Windows reserves it for its own use "
               "(\"netsh interface ipv4 show excludedportrange protocol=tcp\" lists the reserved "
               "ranges); "
                    + other
            << "setcap";
#else
    QTest::newRow("accessRefused")
            << int(QAbstractSocket::SocketAccessError)
            << "ports below 1024 need root or a capability: grant it once with \"sudo setcap "
               "cap_net_bind_service=+ep "
                    + QCoreApplication::applicationFilePath() + "\", or " + other
            << "netsh";
#endif
    QTest::newRow("inUse") << int(QAbstractSocket::AddressInUseError)
                           << "another program holds it (a running Ondaspa window holds port "
                              "81); "
                    + other << "setcap";
    QTest::newRow("other") << int(QAbstractSocket::UnknownSocketError) << other << "holds";
}

void tst_PortRefusal::advice()
{
    QFETCH(int, error);
    QFETCH(QString, expected);
    QFETCH(QString, absent);
    const QString advice = PortRefusal::advice(QAbstractSocket::SocketError(error), 81);
    QCOMPARE(advice, expected);
    QVERIFY(!advice.contains(absent));
}

QTEST_GUILESS_MAIN(tst_PortRefusal)
#include "tst_portrefusal.moc"
