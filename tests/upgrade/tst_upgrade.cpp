#include "devicemessages.h"
#include "devicenetwork.h"
#include "freeports.h"
#include "httplistener.h"
#include "httptestclient.h"
#include "modalboxcatcher.h"
#include "servedfolder.h"
#include "upgrade.h"
#include "windowchecks.h"
#include "wiringguard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

struct SentDatagram
{
    QByteArray bytes;
    QString address;
    quint16 port;
};

const char green[] = "color: rgb(0, 255, 0);";
const char red[] = "color: rgb(255, 0, 0);";

QListWidget *deviceList(upgrade &window)
{
    return window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
}

QString rowText(upgrade &window, int row)
{
    return deviceList(window)->item(row)->text();
}

QLabel *statusLabel(upgrade &window)
{
    return window.findChild<QLabel *>(QStringLiteral("status"));
}

QProgressBar *progressBar(upgrade &window)
{
    return window.findChild<QProgressBar *>(QStringLiteral("download_progress"));
}

QPushButton *button(upgrade &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

QNetworkAddressEntry entry(const char *ip, const char *broadcast)
{
    QNetworkAddressEntry result;
    result.setIp(QHostAddress(QLatin1String(ip)));
    result.setBroadcast(QHostAddress(QLatin1String(broadcast)));
    return result;
}

// Stands in for the file service, whose two signals the window takes by
// signature.
class FakeFileService : public QObject
{
    Q_OBJECT

signals:
    void send_data_transmission_progress(int n);
    void send_transmission_string(QString name);
};

} // namespace

// Replies travel over loopback to the window's own port 15724; probes and
// commands are captured by a replaced sender and never leave the process.
class tst_Upgrade : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowSettings();
    void form();
    void wiringHasNoWarnings();
    void fileServiceSignalsConnectBySignature();
    void repliesFillRows();
    void droppedReplies_data();
    void droppedReplies();
    void searchClearsRowsThenProbesEveryNetwork();
    void searchOnLoopbackOnlySendsNothing();
    void commandToSelectedDevice_data();
    void commandToSelectedDevice();
    void commandWarnings_data();
    void commandWarnings();
    void failedSendLeavesStatus();
    void progressCodes_data();
    void progressCodes();
    void burstOfCodesPaintsBarOnce();
    void missingFileNameIsEscaped_data();
    void missingFileNameIsEscaped();
    void oneMissingFileBoxAtATime();
    void downloadCutShowsInterruption();
    void missingFileOverHttpWarnsWithEscapedName();
    void closeEmitsExitWinAndKeepsList();

private:
    // Sends datagram from a loopback address of its own, so that each
    // source counts as a separate device.
    void reply(const QString &from, const QByteArray &datagram);
    // Lists one device and waits until the window shows it.
    void listDevice(upgrade &window, const QString &from, const QByteArray &datagram, int row);
    // Serves the temporary folder with the window's file service on a loopback port of its own.
    void serve(upgrade &window);

    ModalBoxCatcher boxes;
    QVector<SentDatagram> sent;
    QList<QNetworkAddressEntry> entries;
    qint64 sendResult = 0;
    QTemporaryDir served;
    std::unique_ptr<QSettings> serverSettings;
    std::unique_ptr<quenmar::HttpListener> listener;
    quint16 httpPort = 0;
};

void tst_Upgrade::init()
{
    boxes.clear();
    sent.clear();
    entries.clear();
    sendResult = 0;
    DeviceNetwork::set_entry_provider([this] { return entries; });
    DeviceNetwork::set_sender([this](QUdpSocket &, const QByteArray &datagram,
                                      const QHostAddress &address, quint16 port) {
        sent.append({ datagram, address.toString(), port });
        return sendResult ? sendResult : qint64(datagram.size());
    });
}

void tst_Upgrade::cleanup()
{
    listener.reset();
    ServedFolder::set_provider(nullptr);
    QVERIFY2(boxes.boxes().isEmpty(), qPrintable(boxes.texts().join(QLatin1Char('|'))));
}

void tst_Upgrade::reply(const QString &from, const QByteArray &datagram)
{
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress(from), 0));
    QCOMPARE(socket.writeDatagram(
                     datagram, QHostAddress(QHostAddress::LocalHost), DeviceMessages::local_port),
            qint64(datagram.size()));
}

void tst_Upgrade::listDevice(
        upgrade &window, const QString &from, const QByteArray &datagram, int row)
{
    reply(from, datagram);
    QTRY_VERIFY_WITH_TIMEOUT(rowText(window, row) != QLatin1String("-"), 5000);
}

void tst_Upgrade::serve(upgrade &window)
{
    QVERIFY(served.isValid());
    ServedFolder::set_provider([this] { return served.path(); });
    // Another process may take the free port before the listener binds it, hence the retries.
    for (int attempt = 0; attempt < 5; ++attempt) {
        httpPort = freeTcpPort();
        serverSettings.reset(
                new QSettings(served.filePath(QStringLiteral("server.ini")), QSettings::IniFormat));
        serverSettings->beginGroup(QStringLiteral("UPDATE"));
        serverSettings->setValue(QStringLiteral("QZHOST"), QStringLiteral("127.0.0.1"));
        serverSettings->setValue(QStringLiteral("QZPORT"), httpPort);
        listener.reset(new quenmar::HttpListener(serverSettings.get(), &window.handler));
        if (listener->isListening())
            return;
    }
    QFAIL("no free port for the listener");
}

void tst_Upgrade::windowSettings()
{
    upgrade window;
    QCOMPARE(window.windowTitle(), QStringLiteral("文件系统及固件升级工具"));
    QVERIFY(window.isWindow());
    QVERIFY(hasOnlyCloseButton(window));
    QCOMPARE(window.objectName(), QStringLiteral("upgrade"));
    QCOMPARE(window.size(), QSize(611, 607));
    QCOMPARE(window.port, quint16(0));
}

// The parts of the form the rest of the window relies on: rows, item flags
// and the order of the controls.
void tst_Upgrade::form()
{
    upgrade window;
    QListWidget *list = deviceList(window);
    QVERIFY(list);
    QCOMPARE(list->count(), 12);
    QVERIFY(!list->isSortingEnabled());
    QCOMPARE(rowText(window, 0), QStringLiteral("设备编号"));
    QCOMPARE(list->item(0)->font().pointSize(), 26);
    QCOMPARE(list->item(0)->flags(), Qt::ItemIsEnabled);
    QCOMPARE(list->item(1)->flags(), Qt::NoItemFlags);
    for (int row = 2; row < 12; ++row) {
        QCOMPARE(rowText(window, row), QStringLiteral("-"));
        QCOMPARE(list->item(row)->textAlignment(), int(Qt::AlignCenter));
        QCOMPARE(list->item(row)->flags(),
                Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        QCOMPARE(list->item(row)->data(Qt::CheckStateRole), QVariant());
    }

    auto *buttons = window.findChild<QHBoxLayout *>(QStringLiteral("horizontalLayout"));
    QVERIFY(buttons);
    const char *names[] = { "soft_update_start", "find_device_start", "minifs_update_start" };
    const char *texts[] = { "固件升级", "搜索设备", "文件更新" };
    const char *colours[] = { "color: rgb(255, 0, 0);", "color: rgb(53, 112, 168);",
        "color: rgb(0, 0, 255);" };
    for (int i = 0; i < 3; ++i) {
        QPushButton *push = button(window, names[i]);
        QVERIFY(push);
        QCOMPARE(buttons->itemAt(i)->widget(), push);
        QCOMPARE(push->text(), QString::fromUtf8(texts[i]));
        QCOMPARE(push->styleSheet(), QLatin1String(colours[i]));
    }

    QProgressBar *bar = progressBar(window);
    QLabel *status = statusLabel(window);
    auto *bottom = window.findChild<QHBoxLayout *>(QStringLiteral("horizontalLayout_2"));
    QVERIFY(bar && status && bottom);
    QCOMPARE(bottom->itemAt(0)->widget(), bar);
    QCOMPARE(bottom->itemAt(1)->widget(), status);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->maximum(), 100);
    QVERIFY(bar->isTextVisible());
    QCOMPARE(status->text(), QStringLiteral("就绪"));
    QCOMPARE(status->alignment(), Qt::AlignRight | Qt::AlignVCenter);
}

void tst_Upgrade::wiringHasNoWarnings()
{
    WiringGuard guard;
    upgrade window;
    QVERIFY2(guard.problems().isEmpty(), qPrintable(guard.problems().join('\n')));
}

void tst_Upgrade::fileServiceSignalsConnectBySignature()
{
    WiringGuard guard;
    upgrade window;
    FakeFileService service;
    QVERIFY(connect(&service, SIGNAL(send_data_transmission_progress(int)), &window,
            SLOT(set_data_transmission_progress(int))));
    QVERIFY(connect(&service, SIGNAL(send_transmission_string(QString)), &window,
            SLOT(send_transmission_string(QString))));
    QVERIFY2(guard.problems().isEmpty(), qPrintable(guard.problems().join('\n')));

    emit service.send_data_transmission_progress(42);
    QCOMPARE(statusLabel(window)->text(), QStringLiteral("下载"));
    QCOMPARE(progressBar(window)->value(), 42);
    emit service.send_transmission_string(QStringLiteral("/html/x.img"));
    QCOMPARE(boxes.texts(),
            QStringList{ QStringLiteral("<font size=12>未找到:/html/x.img</font>") });
    boxes.clear();
}

void tst_Upgrade::repliesFillRows()
{
    upgrade window;
    listDevice(window, "127.0.0.2", R"({"sn":"A1","ver":"2.0","snd":"x"})", 2);
    listDevice(window, "127.0.0.3", R"({"sn":"B2"})", 3);
    // Every probe of a search is answered: the repeats come from known senders.
    reply("127.0.0.2", R"({"sn":"A1","ver":"2.0","snd":"x"})");
    reply("127.0.0.3", R"({"sn":"C3"})");
    listDevice(window, "127.0.0.4", R"({"sn":"D4","snd":"y"})", 4);
    QCOMPARE(rowText(window, 2), QStringLiteral("A1,2.0,x"));
    QCOMPARE(rowText(window, 3), QStringLiteral("B2"));
    QCOMPARE(rowText(window, 4), QStringLiteral("D4,y"));
    QCOMPARE(rowText(window, 5), QStringLiteral("-"));
}

void tst_Upgrade::droppedReplies_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("probe") << QByteArray(DeviceMessages::probe());
    QTest::newRow("probeWithSn") << QByteArray(R"({"type":"hellotavirex","sn":"P1"})");
    QTest::newRow("snNumber") << QByteArray(R"({"sn":7})");
    QTest::newRow("notJson") << QByteArray("sn=A1");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("overLong") << QByteArray(R"({"sn":"L1"})") + QByteArray(2000, ' ');
}

// Each dropped datagram is followed by a valid reply from another sender;
// once that one shows, the dropped one has been handled.
void tst_Upgrade::droppedReplies()
{
    QFETCH(QByteArray, datagram);
    upgrade window;
    reply("127.0.0.2", datagram);
    listDevice(window, "127.0.0.3", R"({"sn":"OK"})", 2);
    QCOMPARE(rowText(window, 2), QStringLiteral("OK"));
    QCOMPARE(rowText(window, 3), QStringLiteral("-"));
}

void tst_Upgrade::searchClearsRowsThenProbesEveryNetwork()
{
    upgrade window;
    listDevice(window, "127.0.0.2", R"({"sn":"A1"})", 2);
    entries = { entry("127.0.0.1", "127.255.255.255"), entry("198.18.0.1", "198.18.0.255"),
        entry("198.19.4.1", "198.19.255.255") };
    QStringList rowsWhenFirstProbeLeft;
    DeviceNetwork::set_sender([&](QUdpSocket &, const QByteArray &datagram,
                                      const QHostAddress &address, quint16 port) {
        if (sent.isEmpty()) {
            for (int row = 2; row < 12; ++row)
                rowsWhenFirstProbeLeft << rowText(window, row);
        }
        sent.append({ datagram, address.toString(), port });
        return qint64(datagram.size());
    });
    button(window, "find_device_start")->click();

    QCOMPARE(rowsWhenFirstProbeLeft.size(), 10);
    QCOMPARE(rowsWhenFirstProbeLeft.count(QStringLiteral("-")), 10);
    QCOMPARE(sent.size(), 10);
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(sent[i].bytes, DeviceMessages::probe());
        QCOMPARE(sent[i].port, quint16(53));
        QCOMPARE(sent[i].address, QLatin1String(i % 2 ? "198.19.255.255" : "198.18.0.255"));
    }
    // The device found before the search is new again.
    listDevice(window, "127.0.0.2", R"({"sn":"A1"})", 2);
}

void tst_Upgrade::searchOnLoopbackOnlySendsNothing()
{
    upgrade window;
    entries = { entry("127.0.0.1", "127.255.255.255") };
    button(window, "find_device_start")->click();
    QVERIFY(sent.isEmpty());
    QCOMPARE(rowText(window, 2), QStringLiteral("-"));
}

void tst_Upgrade::commandToSelectedDevice_data()
{
    QTest::addColumn<QByteArray>("replyText");
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<QString>("type");
    QTest::newRow("firmware") << QByteArray(R"({"sn":"A1","ver":"2.0","snd":"x"})")
                              << "soft_update_start"
                              << "A1"
                              << "update";
    QTest::newRow("fileSystem") << QByteArray(R"({"sn":"A1","ver":"2.0","snd":"x"})")
                                << "minifs_update_start"
                                << "A1"
                                << "fs";
    QTest::newRow("commaInSerialNumber") << QByteArray(R"({"sn":"S,N"})") << "soft_update_start"
                                         << "S"
                                         << "update";
}

void tst_Upgrade::commandToSelectedDevice()
{
    QFETCH(QByteArray, replyText);
    QFETCH(QString, buttonName);
    QFETCH(QString, serialNumber);
    QFETCH(QString, type);
    upgrade window;
    window.port = 81;
    listDevice(window, "127.0.0.2", R"({"sn":"OTHER"})", 2);
    listDevice(window, "127.0.0.3", replyText, 3);
    deviceList(window)->setCurrentRow(3);
    window.findChild<QPushButton *>(buttonName)->click();

    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].bytes, DeviceMessages::upgrade_command(81, serialNumber, type));
    QCOMPARE(sent[0].address, QStringLiteral("127.0.0.3"));
    QCOMPARE(sent[0].port, quint16(53));
    QCOMPARE(progressBar(window)->value(), 0);
    QCOMPARE(statusLabel(window)->text(), QStringLiteral("等待"));
    QCOMPARE(statusLabel(window)->styleSheet(), QLatin1String(red));
}

void tst_Upgrade::commandWarnings_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("serverListening");
    QTest::addColumn<QString>("text");
    const QString choose = QStringLiteral("<font size=16>请选择设备!</font>");
    const QString invalid = QStringLiteral("<font size=16>无效设备!</font>");
    QTest::newRow("noRow") << -1 << true << choose;
    QTest::newRow("heading") << 0 << true << choose;
    QTest::newRow("spacer") << 1 << true << choose;
    QTest::newRow("emptyFirstSlot") << 2 << true << invalid;
    QTest::newRow("emptyLastSlot") << 11 << true << invalid;
    // The window's own port, 8081 here.
    QTest::newRow("serverDown") << 2 << false
                                << QStringLiteral("<font size=16>HTTP服务未启动(端口8081)!</font>");
}

void tst_Upgrade::commandWarnings()
{
    QFETCH(int, row);
    QFETCH(bool, serverListening);
    QFETCH(QString, text);
    upgrade window;
    window.port = 8081;
    window.set_http_server_check([serverListening] { return serverListening; });
    deviceList(window)->setCurrentRow(row);
    for (const char *name : { "soft_update_start", "minifs_update_start" }) {
        button(window, name)->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, 5000);
        QCOMPARE(boxes.boxes()[0].text, text);
        QCOMPARE(boxes.boxes()[0].title, QStringLiteral("提示"));
        QCOMPARE(boxes.boxes()[0].icon, QMessageBox::Warning);
        boxes.clear();
    }
    QVERIFY(sent.isEmpty());
    QCOMPARE(statusLabel(window)->text(), QStringLiteral("就绪"));
}

void tst_Upgrade::failedSendLeavesStatus()
{
    upgrade window;
    listDevice(window, "127.0.0.2", R"({"sn":"A1"})", 2);
    QMetaObject::invokeMethod(&window, "set_data_transmission_progress", Q_ARG(int, 42));
    sendResult = -1;
    deviceList(window)->setCurrentRow(2);
    button(window, "soft_update_start")->click();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, 5000);
    QCOMPARE(boxes.boxes()[0].text, QStringLiteral("<font size=16>发送失败!</font>"));
    QCOMPARE(boxes.boxes()[0].title, QStringLiteral("提示"));
    boxes.clear();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(statusLabel(window)->text(), QStringLiteral("下载"));
    QCOMPARE(progressBar(window)->value(), 42);
}

void tst_Upgrade::progressCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("styleSheet");
    QTest::addColumn<int>("value");
    // The bar shows 7 before each code; values outside 0 to 100 leave it.
    QTest::newRow("head") << -1 << QStringLiteral("擦除") << green << 7;
    QTest::newRow("start") << 0 << QStringLiteral("开始") << red << 0;
    QTest::newRow("percent1") << 1 << QStringLiteral("下载") << green << 1;
    QTest::newRow("percent42") << 42 << QStringLiteral("下载") << green << 42;
    QTest::newRow("percent99") << 99 << QStringLiteral("下载") << green << 99;
    QTest::newRow("done") << 100 << QStringLiteral("完成") << green << 100;
    QTest::newRow("overshoot") << 125 << QStringLiteral("完成") << green << 7;
}

void tst_Upgrade::progressCodes()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QString, styleSheet);
    QFETCH(int, value);
    upgrade window;
    progressBar(window)->setValue(7);
    QVERIFY(QMetaObject::invokeMethod(&window, "set_data_transmission_progress", Q_ARG(int, code)));
    QCOMPARE(statusLabel(window)->text(), text);
    QCOMPARE(statusLabel(window)->styleSheet(), styleSheet);
    QCOMPARE(progressBar(window)->value(), value);
    QCOMPARE(progressBar(window)->minimum(), 0);
    QCOMPARE(progressBar(window)->maximum(), 100);
}

void tst_Upgrade::burstOfCodesPaintsBarOnce()
{
    // A fleet of downloads queues thousands of codes, and each download that
    // starts turns the word red for a moment: every code still sets the bar
    // and the word, but the bar is painted and the word restyled about once
    // per batch, not once per code.
    upgrade window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QProgressBar *bar = progressBar(window);
    struct EventCounter : QObject
    {
        explicit EventCounter(QEvent::Type type) : type(type) { }
        bool eventFilter(QObject *, QEvent *event) override
        {
            count += event->type() == type;
            return false;
        }
        QEvent::Type type;
        int count = 0;
    } paints(QEvent::Paint), restyles(QEvent::StyleChange);
    bar->installEventFilter(&paints);
    statusLabel(window)->installEventFilter(&restyles);
    const auto queue = [&window](int code) {
        QMetaObject::invokeMethod(
                &window, "set_data_transmission_progress", Qt::QueuedConnection, Q_ARG(int, code));
    };
    for (int code = 1; code < 100; ++code) {
        queue(code);
        if (code % 10 == 0)
            queue(MyRequestHandler::progress_started);
    }
    queue(MyRequestHandler::progress_interrupted);
    QTRY_VERIFY(paints.count > 0);
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 99);
    QCOMPARE(statusLabel(window)->text(), QStringLiteral("中断"));
    QCOMPARE(statusLabel(window)->styleSheet(), QString::fromLatin1(red));
    QVERIFY2(paints.count <= 3, qPrintable(QString::number(paints.count)));
    QVERIFY2(restyles.count <= 3, qPrintable(QString::number(restyles.count)));
}

void tst_Upgrade::missingFileNameIsEscaped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("ordinary") << "/html/minifs_rom.img"
                              << "<font size=12>未找到:/html/minifs_rom.img</font>";
    QTest::newRow("markup") << "/html/<b>x</b>&\".img"
                            << "<font size=12>未找到:/html/&lt;b&gt;x&lt;/b&gt;&amp;&quot;.img"
                               "</font>";
}

void tst_Upgrade::missingFileNameIsEscaped()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    upgrade window;
    QVERIFY(QMetaObject::invokeMethod(&window, "send_transmission_string", Q_ARG(QString, name)));
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].text, text);
    QCOMPARE(boxes.boxes()[0].title, QStringLiteral("提示"));
    QCOMPARE(boxes.boxes()[0].icon, QMessageBox::Warning);
    QCOMPARE(statusLabel(window)->text(), QStringLiteral("就绪"));
    boxes.clear();
}

// Names queued behind the first arrive while its box is open, as a burst of
// requests would; they must not open boxes of their own.
void tst_Upgrade::oneMissingFileBoxAtATime()
{
    upgrade window;
    for (int i = 0; i < 5; ++i)
        QMetaObject::invokeMethod(&window, "send_transmission_string", Qt::QueuedConnection,
                Q_ARG(QString, QStringLiteral("/html/queued%1").arg(i)));
    QVERIFY(QMetaObject::invokeMethod(
            &window, "send_transmission_string", Q_ARG(QString, QStringLiteral("/html/first"))));
    QCoreApplication::processEvents();
    QCOMPARE(boxes.texts(),
            QStringList{ QStringLiteral("<font size=12>未找到:/html/first</font>") });

    boxes.clear();
    QVERIFY(QMetaObject::invokeMethod(
            &window, "send_transmission_string", Q_ARG(QString, QStringLiteral("/html/later"))));
    QCOMPARE(boxes.texts(),
            QStringList{ QStringLiteral("<font size=12>未找到:/html/later</font>") });
    boxes.clear();
}

// The connection is cut after its first 64 KiB: the window's own file service tells it so.
void tst_Upgrade::downloadCutShowsInterruption()
{
    upgrade window;
    serve(window);
    QFile image(served.filePath(QStringLiteral("big.img")));
    QVERIFY(image.open(QIODevice::WriteOnly));
    QVERIFY(image.resize(64 * 1024 * 1024));
    image.close();

    HttpTestClient::exchange(httpPort, HttpTestClient::request("GET", "/big.img"), 65536);

    QTRY_COMPARE(statusLabel(window)->text(), QStringLiteral("中断"));
    QCOMPARE(statusLabel(window)->styleSheet(), QString::fromLatin1(red));
    QVERIFY(progressBar(window)->value() >= 0 && progressBar(window)->value() < 100);
}

void tst_Upgrade::missingFileOverHttpWarnsWithEscapedName()
{
    upgrade window;
    serve(window);

    const HttpTestReply reply = HttpTestClient::parse(HttpTestClient::exchange(
            httpPort, HttpTestClient::request("GET", "/%3Cb%3Ebold%3C/b%3E&amp;.img")));

    QCOMPARE(reply.status, 501);
    QTRY_COMPARE(boxes.texts(),
            QStringList{ QStringLiteral(
                    "<font size=12>未找到:/html/&lt;b&gt;bold&lt;/b&gt;&amp;amp;.img</font>") });
    QCOMPARE(boxes.boxes().first().title, QStringLiteral("提示"));
    QCOMPARE(boxes.boxes().first().icon, QMessageBox::Warning);
    boxes.clear();
}

void tst_Upgrade::closeEmitsExitWinAndKeepsList()
{
    upgrade window;
    QSignalSpy exits(&window, &upgrade::ExitWin);
    listDevice(window, "127.0.0.2", R"({"sn":"A1"})", 2);
    QMetaObject::invokeMethod(&window, "set_data_transmission_progress", Q_ARG(int, 42));
    for (int round = 1; round <= 2; ++round) {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.close());
        QCOMPARE(exits.count(), round);
        QVERIFY(window.isHidden());
    }
    window.show();
    QCOMPARE(rowText(window, 2), QStringLiteral("A1"));
    QCOMPARE(statusLabel(window)->text(), QStringLiteral("下载"));
    QCOMPARE(progressBar(window)->value(), 42);
}

QTEST_MAIN(tst_Upgrade)
#include "tst_upgrade.moc"
