#include "httplistener.h"
#include "httpserverstartup.h"
#include "httptestclient.h"
#include "messagecapture.h"
#include "modalboxcatcher.h"
#include "privatenetwork.h"
#include "servedfolder.h"
#include "widget.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

// Runs inside a network namespace of its own: start-up binds port 81, which
// must not clash with anything on the machine or with another test.
class tst_HttpServerStartup : public QObject
{
    Q_OBJECT

public:
    explicit tst_HttpServerStartup(const QString &isolation_problem)
        : isolation_problem(isolation_problem)
    {
    }

private slots:
    void init();
    void cleanup();
    void missingConfigIsCreated();
    void editedPortIsOverwritten();
    void unwritableSettingsStillServe();
    void laterSettingsKeepTheServedFolder();
    void hostSettingRestrictsAddress_data();
    void hostSettingRestrictsAddress();
    void secondInstanceRunsWithoutServer();
    void listenerClosesWhenEventLoopEnds();

private:
    quenmar::HttpListener *start(Widget &launcher);
    // Writes "served" to html/startup-check.img beside the program; returns its path.
    static QString served_file();
    void click_upgrade_buttons(Widget &launcher, ModalBoxCatcher &boxes);

    const QString isolation_problem;
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<MessageCapture> messages;
};

namespace {
const QString server_down = QStringLiteral("<font size=16>HTTP服务未启动(端口81)!</font>");
}

void tst_HttpServerStartup::init()
{
    if (!isolation_problem.isEmpty())
        QSKIP(qPrintable(isolation_problem));
    work.reset(new QTemporaryDir);
    QVERIFY(work->isValid());
    // "config.ini" lives in the working directory.
    QVERIFY(QDir::setCurrent(work->path()));
    messages = std::make_unique<MessageCapture>(MessageCapture::Mode::PassOn);
}

void tst_HttpServerStartup::cleanup()
{
    messages.reset();
    // Start-up parents the listener and its settings to the application,
    // which outlives the test functions.
    qDeleteAll(qApp->findChildren<quenmar::HttpListener *>(QString(), Qt::FindDirectChildrenOnly));
    qDeleteAll(qApp->findChildren<QSettings *>(QString(), Qt::FindDirectChildrenOnly));
    ServedFolder::set_provider(nullptr);
    QDir::setCurrent(QDir::tempPath());
    work.reset();
}

quenmar::HttpListener *tst_HttpServerStartup::start(Widget &launcher)
{
    return start_http_server(launcher.upgrade_window, *qApp);
}

QString tst_HttpServerStartup::served_file()
{
    const QString html = QCoreApplication::applicationDirPath() + QStringLiteral("/html");
    QDir().mkpath(html);
    QFile image(html + QStringLiteral("/startup-check.img"));
    if (image.open(QIODevice::WriteOnly))
        image.write("served");
    return image.fileName();
}

// Selects the first device row (empty) and presses both upgrade buttons.
void tst_HttpServerStartup::click_upgrade_buttons(Widget &launcher, ModalBoxCatcher &boxes)
{
    auto *list =
            launcher.upgrade_window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
    QVERIFY(list);
    list->setCurrentRow(2);
    for (const char *button : { "minifs_update_start", "soft_update_start" }) {
        QTest::mouseClick(launcher.upgrade_window.findChild<QPushButton *>(QLatin1String(button)),
                Qt::LeftButton);
    }
    QTRY_COMPARE(boxes.boxes().size(), 2);
    for (const ModalBoxCatcher::Box &box : boxes.boxes())
        QCOMPARE(box.title, QStringLiteral("提示"));
}

void tst_HttpServerStartup::missingConfigIsCreated()
{
    QVERIFY(!QFile::exists(QStringLiteral("config.ini")));
    Widget launcher;
    ModalBoxCatcher boxes;

    quenmar::HttpListener *listener = start(launcher);

    QCOMPARE(launcher.upgrade_window.port, quint16(81));
    QVERIFY(listener->isListening());
    QCOMPARE(listener->serverPort(), quint16(81));
    QCOMPARE(listener->serverAddress(), QHostAddress(QHostAddress::Any));
    QCOMPARE(listener->parent(), qApp);
    qApp->findChild<QSettings *>()->sync();
    QSettings written(QStringLiteral("config.ini"), QSettings::IniFormat);
    QCOMPARE(written.value(QStringLiteral("UPDATE/QZPORT")).toString(), QStringLiteral("81"));
    QCOMPARE(written.value(QStringLiteral("UPDATE/QZPATH")).toString(),
            QCoreApplication::applicationDirPath());

    // The window's own handler answers on port 81, and the window hears of it.
    const HttpTestReply reply = HttpTestClient::parse(
            HttpTestClient::exchange(81, HttpTestClient::request("GET", "/none.img")));
    QCOMPARE(reply.status, 501);
    QTRY_COMPARE(boxes.texts(),
            QStringList{ QStringLiteral("<font size=12>未找到:/html/none.img</font>") });

    // A listening server lets the buttons go on to their own checks.
    boxes.clear();
    click_upgrade_buttons(launcher, boxes);
    QCOMPARE(boxes.texts(),
            (QStringList{ QStringLiteral("<font size=16>无效设备!</font>"),
                    QStringLiteral("<font size=16>无效设备!</font>") }));
}

void tst_HttpServerStartup::editedPortIsOverwritten()
{
    {
        QSettings edited(QStringLiteral("config.ini"), QSettings::IniFormat);
        edited.setValue(QStringLiteral("UPDATE/QZPORT"), 8080);
        edited.setValue(QStringLiteral("UPDATE/QZPATH"), QStringLiteral("/elsewhere"));
        edited.setValue(QStringLiteral("MINIFS_PATH"), QStringLiteral("/kept"));
    }
    Widget launcher;

    quenmar::HttpListener *listener = start(launcher);

    QVERIFY(listener->isListening());
    QCOMPARE(listener->serverPort(), quint16(81));
    qApp->findChild<QSettings *>()->sync();
    QSettings written(QStringLiteral("config.ini"), QSettings::IniFormat);
    QCOMPARE(written.value(QStringLiteral("UPDATE/QZPORT")).toString(), QStringLiteral("81"));
    QCOMPARE(written.value(QStringLiteral("UPDATE/QZPATH")).toString(),
            QCoreApplication::applicationDirPath());
    QCOMPARE(written.value(QStringLiteral("MINIFS_PATH")).toString(), QStringLiteral("/kept"));
}

// Settings that cannot be written leave the served folder as start-up found
// it, instead of one read back from the file.
void tst_HttpServerStartup::unwritableSettingsStillServe()
{
    // The name is taken by a folder: nothing can be written to it.
    QVERIFY(QDir().mkdir(QStringLiteral("config.ini")));
    QFile image(served_file());
    QVERIFY(image.exists());
    Widget launcher;

    QVERIFY(start(launcher)->isListening());
    const HttpTestReply reply = HttpTestClient::parse(
            HttpTestClient::exchange(81, HttpTestClient::request("GET", "/startup-check.img")));
    const HttpTestReply again = HttpTestClient::parse(
            HttpTestClient::exchange(81, HttpTestClient::request("GET", "/startup-check.img")));
    image.remove();

    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("served"));
    QCOMPARE(again.status, 200);
    int logged = 0;
    for (const QString &warning : messages->messages(QtWarningMsg))
        logged += warning.startsWith(QStringLiteral("config.ini cannot be written:")) ? 1 : 0;
    QCOMPARE(logged, 1);
}

// Another program started from the same folder (a second copy elsewhere)
// writes its own QZPATH; this one goes on serving its own folder.
void tst_HttpServerStartup::laterSettingsKeepTheServedFolder()
{
    QFile image(served_file());
    QVERIFY(image.exists());
    Widget launcher;
    QVERIFY(start(launcher)->isListening());
    qApp->findChild<QSettings *>()->sync();

    const QString elsewhere = work->filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere + QStringLiteral("/html")));
    QFile other(QStringLiteral("config.ini"));
    QVERIFY(other.open(QIODevice::WriteOnly | QIODevice::Truncate));
    other.write("[UPDATE]\nQZPORT=81\nQZPATH=" + elsewhere.toUtf8() + '\n');
    other.close();

    const HttpTestReply reply = HttpTestClient::parse(
            HttpTestClient::exchange(81, HttpTestClient::request("GET", "/startup-check.img")));
    image.remove();
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("served"));
}

void tst_HttpServerStartup::hostSettingRestrictsAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("address");
    QTest::newRow("literalAddress") << "127.0.0.1"
                                    << "127.0.0.1";
    QTest::newRow("empty") << ""
                           << "0.0.0.0";
}

void tst_HttpServerStartup::hostSettingRestrictsAddress()
{
    QFETCH(QString, host);
    QFETCH(QString, address);
    {
        QSettings edited(QStringLiteral("config.ini"), QSettings::IniFormat);
        edited.setValue(QStringLiteral("UPDATE/QZHOST"), host);
    }
    Widget launcher;

    quenmar::HttpListener *listener = start(launcher);

    QVERIFY(listener->isListening());
    QCOMPARE(listener->serverAddress().toString(), address);
}

void tst_HttpServerStartup::secondInstanceRunsWithoutServer()
{
    Widget first;
    QVERIFY(start(first)->isListening());
    Widget second;
    ModalBoxCatcher boxes;

    quenmar::HttpListener *listener = start(second);

    QVERIFY(!listener->isListening());
    const QStringList criticals = messages->messages(QtCriticalMsg);
    QCOMPARE(criticals.size(), 1);
    QVERIFY2(criticals.first().startsWith(QStringLiteral("HttpListener: Cannot bind on port 81: ")),
            qPrintable(criticals.first()));
    QCOMPARE(second.upgrade_window.port, quint16(81));

    // The windows work; the upgrade buttons warn instead of sending a command
    // that no device could act on.
    second.show();
    QTest::mouseClick(
            second.findChild<QPushButton *>(QStringLiteral("update_on_start")), Qt::LeftButton);
    QVERIFY(second.upgrade_window.isVisible());
    click_upgrade_buttons(second, boxes);
    QCOMPARE(boxes.texts(), (QStringList{ server_down, server_down }));
    auto *status = second.upgrade_window.findChild<QLabel *>(QStringLiteral("status"));
    QCOMPARE(status->text(), QStringLiteral("就绪"));
    second.upgrade_window.close();
    QVERIFY(second.isVisible());
}

void tst_HttpServerStartup::listenerClosesWhenEventLoopEnds()
{
    Widget launcher;
    ModalBoxCatcher boxes;
    quenmar::HttpListener *listener = start(launcher);
    QVERIFY(listener->isListening());

    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    // A loop that does not end on its own is a failure, not a hang.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QCOMPARE(QApplication::exec(), 0);

    // Closed before the windows (and the handler inside) go away.
    QVERIFY(!listener->isListening());
    click_upgrade_buttons(launcher, boxes);
    QCOMPARE(boxes.texts().first(), server_down);
}

int main(int argc, char *argv[])
{
    // Before the application object: the namespace reaches only threads
    // started afterwards.
    const QString isolation_problem = enter_private_network();
    QApplication application(argc, argv);
    application.setAttribute(Qt::AA_Use96Dpi, true);
    tst_HttpServerStartup test(isolation_problem);
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_httpserverstartup.moc"
