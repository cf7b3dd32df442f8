#include "fleetchecklist.h"

#include <QtTest>

using Problem = FleetPreflight::Problem;
Q_DECLARE_METATYPE(Problem)

class tst_FleetChecklist : public QObject
{
    Q_OBJECT

private slots:
    void refusalInInterfaceWords_data();
    void refusalInInterfaceWords();
    void localAddressesLeaveOutLoopbackAndIpv6();
    void firewallLinesOpenBothPorts_data();
    void firewallLinesOpenBothPorts();
};

// The engine and the command line word the same values in English
// (tst_fleetengine, tst_fleet_netns).
void tst_FleetChecklist::refusalInInterfaceWords_data()
{
    QTest::addColumn<Problem>("problem");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << Problem::None << "";
    QTest::newRow("noName") << Problem::NoName << "未指定文件";
    QTest::newRow("leavesFolder") << Problem::LeavesFolder << "x.img 不在服务目录内";
    QTest::newRow("noFolder") << Problem::NoFolder << "服务目录不存在: /srv/html";
    QTest::newRow("noSuchFile") << Problem::NoSuchFile << "未找到 x.img";
    QTest::newRow("notRegularFile") << Problem::NotRegularFile << "无法读取 x.img (不是普通文件)";
    QTest::newRow("unreadable") << Problem::Unreadable << "无法读取 x.img (Permission denied)";
}

void tst_FleetChecklist::refusalInInterfaceWords()
{
    QFETCH(Problem, problem);
    QFETCH(QString, text);
    FleetPreflight preflight;
    preflight.ok = problem == Problem::None;
    preflight.problem = problem;
    preflight.reason =
            problem == Problem::Unreadable ? QStringLiteral("Permission denied") : QString();
    preflight.folder = QStringLiteral("/srv/html");
    preflight.file_name = QStringLiteral("x.img");
    preflight.path = QStringLiteral("/srv/html/x.img");
    QCOMPARE(FleetChecklist::refusal(preflight), text);
}

void tst_FleetChecklist::localAddressesLeaveOutLoopbackAndIpv6()
{
    QList<QNetworkAddressEntry> entries;
    for (const char *address : { "127.0.0.1", "192.0.2.5", "fe80::1", "192.0.2.5", "10.1.2.3" }) {
        QNetworkAddressEntry entry;
        entry.setIp(QHostAddress(QLatin1String(address)));
        entry.setPrefixLength(entry.ip().protocol() == QAbstractSocket::IPv4Protocol ? 24 : 64);
        entries << entry;
    }
    QCOMPARE(FleetChecklist::local_addresses(entries),
            QStringList({ QStringLiteral("192.0.2.5/24"), QStringLiteral("10.1.2.3/24") }));
}

void tst_FleetChecklist::firewallLinesOpenBothPorts_data()
{
    QTest::addColumn<int>("udp");
    QTest::addColumn<int>("http");
    QTest::newRow("windowPorts") << 15724 << 81;
    QTest::newRow("otherPorts") << 15800 << 8081;
}

// Each line is a command the user pastes as it stands: the system's own
// firewall, both ports, nothing else.
void tst_FleetChecklist::firewallLinesOpenBothPorts()
{
    QFETCH(int, udp);
    QFETCH(int, http);
    const QStringList lines =
            FleetChecklist::firewall_lines(quint16(udp), quint16(http)).split(QLatin1Char('\n'));
#ifdef Q_OS_WIN
    const QString rule =
            QStringLiteral("netsh advfirewall firewall add rule name=\"Ondaspa %1 %2\" "
                           "dir=in action=allow protocol=%1 localport=%2");
    QCOMPARE(lines,
            QStringList({ QStringLiteral("REM 在管理员命令提示符中运行:"),
                    rule.arg(QStringLiteral("UDP")).arg(udp),
                    rule.arg(QStringLiteral("TCP")).arg(http) }));
#else
    QCOMPARE(lines,
            QStringList({ QStringLiteral("ufw allow %1/udp").arg(udp),
                    QStringLiteral("ufw allow %1/tcp").arg(http),
                    QStringLiteral("firewall-cmd --permanent --add-port=%1/udp").arg(udp),
                    QStringLiteral("firewall-cmd --permanent --add-port=%1/tcp").arg(http),
                    QStringLiteral("firewall-cmd --reload") }));
#endif
}

QTEST_APPLESS_MAIN(tst_FleetChecklist)
#include "tst_fleetchecklist.moc"
