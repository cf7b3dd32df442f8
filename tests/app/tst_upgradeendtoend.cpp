#include "httplistener.h"
#include "httpserverstartup.h"
#include "modalboxcatcher.h"
#include "privatenetwork.h"
#include "testfiles.h"
#include "widget.h"

#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Longest wait for a step that crosses the network, in milliseconds.
constexpr int network_timeout = 20000;

} // namespace

// The status word and bar as the window showed them right after each
// progress code: connected after the window's own slot, so it runs next.
class StatusRecorder : public QObject
{
    Q_OBJECT

public:
    StatusRecorder(QLabel *status, QProgressBar *bar) : status(status), bar(bar) { }

    // The words shown, each run of repeats taken once.
    QStringList words;

public slots:
    void record(int)
    {
        if (words.isEmpty() || words.last() != status->text())
            words << status->text();
        last_value = bar->value();
    }

public:
    int last_value = -1;

private:
    QLabel *status;
    QProgressBar *bar;
};

// Runs only under netns-e2e.sh: the program's side of a private
// network namespace, with the simulated devices E2E-A (198.18.0.2, asks HEAD
// first) and E2E-B (198.18.0.3) behind a veth link. The search broadcasts
// for real and the devices download from the real server on port 81.
class tst_UpgradeEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fileSystemUpdate();
    void firmwareUpgrade();

private:
    QByteArray log(const char *device) const;
    void press(const QString &serial_number, const char *button);
    void expect_download(const char *device, const QString &file, const QStringList &words);

    QString work;
    QString served;
    QTemporaryDir config_dir;
    std::unique_ptr<Widget> launcher;
    std::unique_ptr<StatusRecorder> recorder;
    std::unique_ptr<ModalBoxCatcher> boxes;
};

void tst_UpgradeEndToEnd::initTestCase()
{
    work = qEnvironmentVariable("ONDASPA_E2E_WORK");
    if (work.isEmpty())
        QFAIL("run through netns-e2e.sh: the search broadcasts on every interface");
    const QString guard = broadcast_guard_error();
    QVERIFY2(guard.isEmpty(), qPrintable(guard));

    // "config.ini" lives in the working directory.
    QVERIFY(config_dir.isValid());
    QVERIFY(QDir::setCurrent(config_dir.path()));

    // The images, where start-up points the file service: the folder "html"
    // beside the program. The file-system image comes from the MiniFs builder.
    served = QCoreApplication::applicationDirPath() + QStringLiteral("/html");
    QVERIFY(QDir().mkpath(served));
    const QString content = work + QStringLiteral("/content");
    QVERIFY(QDir().mkpath(content));
    for (const char *name : { "boot.wav", "tone.wav", "index.txt" })
        QVERIFY(writeFile(content + QLatin1Char('/') + QLatin1String(name), randomBytes(40000)));
    QProcess builder;
    builder.start(QStringLiteral(CLI_PATH),
            { QStringLiteral("minifs"), QStringLiteral("build"), content,
                    QStringLiteral("--image-version"), QStringLiteral("e2e"), QStringLiteral("-o"),
                    served + QStringLiteral("/minifs_rom.img") });
    QVERIFY(builder.waitForFinished(network_timeout));
    QVERIFY2(builder.exitCode() == 0, builder.readAllStandardError().constData());
    QVERIFY(writeFile(served + QStringLiteral("/firmware.bin"), randomBytes(300000)));

    launcher.reset(new Widget);
    QVERIFY(start_http_server(launcher->upgrade_window, *qApp)->isListening());
    upgrade &window = launcher->upgrade_window;
    recorder.reset(new StatusRecorder(window.findChild<QLabel *>(QStringLiteral("status")),
            window.findChild<QProgressBar *>(QStringLiteral("download_progress"))));
    connect(&window.handler, &MyRequestHandler::send_data_transmission_progress, recorder.get(),
            &StatusRecorder::record);
    boxes.reset(new ModalBoxCatcher);

    launcher->show();
    QTest::mouseClick(
            launcher->findChild<QPushButton *>(QStringLiteral("update_on_start")), Qt::LeftButton);
    QVERIFY(window.isVisible());
    window.findChild<QPushButton *>(QStringLiteral("find_device_start"))->click();
    auto *list = window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
    QTRY_VERIFY_WITH_TIMEOUT(list->item(3)->text() != QLatin1String("-"), network_timeout);
    QStringList rows{ list->item(2)->text(), list->item(3)->text() };
    rows.sort();
    QCOMPARE(rows, QStringList({ "E2E-A,1.0", "E2E-B,7" }));
}

void tst_UpgradeEndToEnd::cleanupTestCase()
{
    QFile::remove(served + QStringLiteral("/minifs_rom.img"));
    QFile::remove(served + QStringLiteral("/firmware.bin"));
    QVERIFY2(!boxes || boxes->boxes().isEmpty(), qPrintable(boxes->texts().join(QLatin1Char('|'))));
    // Closes the listener before the window (and its handler) goes.
    qDeleteAll(qApp->findChildren<quenmar::HttpListener *>(QString(), Qt::FindDirectChildrenOnly));
    launcher.reset();
}

QByteArray tst_UpgradeEndToEnd::log(const char *device) const
{
    return readFile(work + QLatin1Char('/') + QLatin1String(device) + QStringLiteral(".log"));
}

void tst_UpgradeEndToEnd::press(const QString &serial_number, const char *button)
{
    upgrade &window = launcher->upgrade_window;
    auto *list = window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
    for (int row = 2; row < list->count(); ++row) {
        if (list->item(row)->text().startsWith(serial_number + QLatin1Char(',')))
            list->setCurrentRow(row);
    }
    QVERIFY(list->currentItem()->text().startsWith(serial_number));
    recorder->words.clear();
    window.findChild<QPushButton *>(QLatin1String(button))->click();
    auto *status = window.findChild<QLabel *>(QStringLiteral("status"));
    QCOMPARE(status->text(), QStringLiteral("等待"));
    QCOMPARE(status->styleSheet(), QStringLiteral("color: rgb(255, 0, 0);"));
    QCOMPARE(window.findChild<QProgressBar *>(QStringLiteral("download_progress"))->value(), 0);
}

void tst_UpgradeEndToEnd::expect_download(
        const char *device, const QString &file, const QStringList &words)
{
    QTRY_VERIFY_WITH_TIMEOUT(log(device).contains("result "), network_timeout);
    QVERIFY2(log(device).contains("result complete"), log(device).constData());
    const QByteArray saved =
            readFile(work + QLatin1Char('/') + QLatin1String(device) + QLatin1Char('/') + file);
    QVERIFY(!saved.isEmpty());
    QVERIFY(saved == readFile(served + QLatin1Char('/') + file));
    QTRY_COMPARE_WITH_TIMEOUT(recorder->words, words, network_timeout);
    auto *status = launcher->upgrade_window.findChild<QLabel *>(QStringLiteral("status"));
    QCOMPARE(status->styleSheet(), QStringLiteral("color: rgb(0, 255, 0);"));
    QCOMPARE(recorder->last_value, 100);
}

void tst_UpgradeEndToEnd::fileSystemUpdate()
{
    press(QStringLiteral("E2E-A"), "minifs_update_start");

    expect_download("a", QStringLiteral("minifs_rom.img"),
            { QStringLiteral("擦除"), QStringLiteral("开始"), QStringLiteral("下载"),
                    QStringLiteral("完成") });
    QVERIFY(log("a").contains("http HEAD http://198.18.0.1:81/minifs_rom.img"));
    QVERIFY(!log("b").contains("command "));
    QVERIFY(!log("b").contains("http "));
}

void tst_UpgradeEndToEnd::firmwareUpgrade()
{
    const int downloads_of_a = log("a").count("http GET");

    press(QStringLiteral("E2E-B"), "soft_update_start");

    expect_download("b", QStringLiteral("firmware.bin"),
            { QStringLiteral("开始"), QStringLiteral("下载"), QStringLiteral("完成") });
    QVERIFY(log("b").contains("command type=update sn=E2E-B port=81"));
    QCOMPARE(log("a").count("http GET"), downloads_of_a);
    QCOMPARE(log("a").count("command "), 1);
}

QTEST_MAIN(tst_UpgradeEndToEnd)
#include "tst_upgradeendtoend.moc"
