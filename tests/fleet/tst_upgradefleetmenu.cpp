#include "deviceaddressprompt.h"
#include "devicemessages.h"
#include "devicenetwork.h"
#include "fleetdialog.h"
#include "logboxmenu.h"
#include "logtime.h"
#include "modalboxcatcher.h"
#include "upgrade.h"
#include "upgradefleetmenu.h"

#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

struct SentDatagram
{
    QByteArray bytes;
    QHostAddress address;
    quint16 port;
    quint16 from_port;
};

QAction *action(QMenu &menu, const QString &text)
{
    for (QAction *entry : menu.actions()) {
        if (entry->text() == text)
            return entry;
    }
    return nullptr;
}

} // namespace

// The upgrade window with its device list menu. Replies travel over loopback
// to the window's port 15724; what the window and the dialog send is
// captured by a replaced sender and never leaves the process.
class tst_UpgradeFleetMenu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void addByAddressProbesEachAddressByUnicast();
    void dialogTakesEveryDeviceHeard();

private:
    // Sends a reply to the window from a loopback address of its own.
    void reply(int device, const QByteArray &datagram);

    QTemporaryDir work;
    ModalBoxCatcher boxes;
    QVector<SentDatagram> sent;
    QStringList asked;
};

void tst_UpgradeFleetMenu::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY(QDir::setCurrent(work.path()));
    DeviceNetwork::set_entry_provider([] {
        QNetworkAddressEntry entry;
        entry.setIp(QHostAddress(QStringLiteral("198.18.0.1")));
        entry.setPrefixLength(24);
        entry.setBroadcast(QHostAddress(QStringLiteral("198.18.0.255")));
        return QList<QNetworkAddressEntry>{ entry };
    });
    DeviceNetwork::set_sender([this](QUdpSocket &socket, const QByteArray &datagram,
                                      const QHostAddress &address, quint16 port) {
        sent.append({ datagram, address, port, socket.localPort() });
        return qint64(datagram.size());
    });
}

void tst_UpgradeFleetMenu::init()
{
    sent.clear();
    asked.clear();
    boxes.clear();
}

void tst_UpgradeFleetMenu::reply(int device, const QByteArray &datagram)
{
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(10 + device)), 0));
    QCOMPARE(socket.writeDatagram(
                     datagram, QHostAddress(QHostAddress::LocalHost), DeviceMessages::local_port),
            qint64(datagram.size()));
}

void tst_UpgradeFleetMenu::addByAddressProbesEachAddressByUnicast()
{
    upgrade window;
    auto *list = window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
    // Right click and the menu key both ask for a custom menu.
    QCOMPARE(list->contextMenuPolicy(), Qt::CustomContextMenu);
    QVERIFY(list->toolTip().contains(QStringLiteral("批量升级")));
    const std::unique_ptr<QMenu> menu(list->findChild<UpgradeFleetMenu *>()->create_menu());
    QVERIFY(action(*menu, QStringLiteral("批量升级…")));
    // A slip first: the prompt comes back with the reason and the text.
    QStringList answers{ QStringLiteral("198.18.0.20-1x"), QStringLiteral("198.18.0.20-23") };
    DeviceAddressPrompt::set_asker([&](QWidget *, const QString &text, const QString &problem) {
        asked << text + QLatin1Char('|') + problem;
        return answers.takeFirst();
    });
    action(*menu, QStringLiteral("按IP添加设备…"))->trigger();
    DeviceAddressPrompt::set_asker(nullptr);

    QCOMPARE(asked.size(), 2);
    QVERIFY2(asked.at(1).startsWith(QStringLiteral("198.18.0.20-1x|\"198.18.0.20-1x\"")),
            qPrintable(asked.at(1)));
    QCOMPARE(sent.size(), 4);
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(sent.at(i).address, QHostAddress(QStringLiteral("198.18.0.%1").arg(20 + i)));
        QCOMPARE(sent.at(i).port, DeviceMessages::device_port);
        QCOMPARE(sent.at(i).bytes, DeviceMessages::probe());
        // From the window's own socket, so replies come back to it.
        QCOMPARE(sent.at(i).from_port, DeviceMessages::local_port);
    }
    QVERIFY(boxes.boxes().isEmpty());
}

// The window lists ten; the dialog opens with all its socket heard, each
// found at the time it answered, and goes on hearing.
void tst_UpgradeFleetMenu::dialogTakesEveryDeviceHeard()
{
    upgrade window;
    window.port = 81;
    auto *list = window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
    const QDateTime first_answer = QDateTime::currentDateTime();
    // The row text cannot tell "ver" from "snd": the dialog gets the reply's.
    reply(0, R"({"sn": "A0", "snd": "7"})");
    QTRY_COMPARE(list->item(2)->text(), QStringLiteral("A0,7"));
    for (int device = 1; device < 12; ++device)
        reply(device, QStringLiteral(R"({"sn": "A%1", "ver": "1.0"})").arg(device).toUtf8());
    QTRY_COMPARE(list->item(11)->text(), QStringLiteral("A9,1.0"));
    // A device that answers again is listed once, as it answered last.
    reply(11, R"({"sn": "A11", "ver": "1.1"})");
    QTest::qWait(200);
    const QDateTime opened = QDateTime::currentDateTime();

    auto *menu = list->findChild<UpgradeFleetMenu *>();
    FleetDialog *dialog = menu->open_fleet_dialog();
    QVERIFY(dialog->isVisible());
    FleetEngine &engine = dialog->engine();
    QCOMPARE(engine.device_count(), 12);
    QCOMPARE(engine.device(0).version, QString());
    QCOMPARE(engine.device(0).sound_version, QStringLiteral("7"));
    QCOMPARE(engine.device(9).address, QHostAddress(QStringLiteral("127.0.0.19")));
    QCOMPARE(engine.device(11).version, QStringLiteral("1.1"));
    const QString saved = work.filePath(QStringLiteral("found.txt"));
    QVERIFY(dialog->findChild<LogBoxMenu *>()->save(saved));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).trimmed().split('\n');
    QCOMPARE(lines.size(), 12);
    for (const QString &line : lines) {
        const QDateTime time =
                QDateTime::fromString(line.left(LogTime::format().size()), LogTime::format());
        QVERIFY2(time >= first_answer.addMSecs(-1) && time < opened, qPrintable(line));
        QVERIFY2(line.contains(QStringLiteral(" 发现设备 A")), qPrintable(line));
    }

    // Two more answer: the window's ten rows stay, the dialog lists them all.
    reply(12, R"({"sn": "A12"})");
    reply(13, R"({"sn": "A13"})");
    QTRY_COMPARE(engine.device_count(), 14);
    QCOMPARE(list->item(11)->text(), QStringLiteral("A9,1.0"));
    QCOMPARE(menu->open_fleet_dialog(), dialog);
    QCOMPARE(engine.device_count(), 14);

    // The dialog's search leaves from the window's socket too.
    QMetaObject::invokeMethod(dialog, "on_search_button_clicked");
    QCOMPARE(sent.size(), DeviceMessages::probes_per_search);
    QCOMPARE(sent.first().address, QHostAddress(QStringLiteral("198.18.0.255")));
    QCOMPARE(sent.first().from_port, DeviceMessages::local_port);
    QVERIFY(boxes.boxes().isEmpty());
}

QTEST_MAIN(tst_UpgradeFleetMenu)
#include "tst_upgradefleetmenu.moc"
