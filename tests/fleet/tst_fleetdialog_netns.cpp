#include "deviceaddressprompt.h"
#include "fleetdialog.h"
#include "httplistener.h"
#include "httpserverstartup.h"
#include "modalboxcatcher.h"
#include "namespacesimulator.h"
#include "privatenetwork.h"
#include "servedfolder.h"
#include "testfiles.h"
#include "upgrade.h"
#include "upgradefleetmenu.h"

#include <QLabel>
#include <QListWidget>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// Twelve devices, SN-001 to SN-012 from 198.18.0.2: more than the window's
// ten rows. The thirteenth, IGN-1, takes no command; the fourteenth, SLOW-1,
// reads slowly.
constexpr int fleet_size = 12;
constexpr int devices_heard = fleet_size + 2;
constexpr int parallel = 4;
constexpr int image_size = 300000;
// Bytes per second SLOW-1 reads: its download takes about six seconds.
constexpr int slow_rate = 50000;
// How far the row's percentage may be from what SLOW-1 has read: its own
// buffers, and the time between its line and the look at the row.
constexpr int percent_tolerance = 10;
constexpr int timeout_seconds = 3;
// Longest wait for a search and for the whole run, in ms.
constexpr int search_limit = 10000;
constexpr int run_limit = 60000;

} // namespace

// Runs only under fleet-netns-e2e.sh: the program's side of a private network
// namespace, the simulated devices behind a veth link. The window's search
// broadcasts for real and the devices download from its server on port 81.
class tst_FleetDialogNetns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fleetBeyondTenRows();

private:
    QString path(const QString &name) const { return work.filePath(name); }
    // What SLOW-1 said it had read last, in percent of the image; -1 before
    // its first line.
    int slow_read_percent() const;
    // 停止 at once: the devices without a command are counted apart.
    void stopLeavesNotStarted(FleetDialog *dialog);

    QTemporaryDir work;
    QByteArray image;
    std::unique_ptr<NamespaceSimulator> fleet;
    std::unique_ptr<NamespaceSimulator> ignoring;
    std::unique_ptr<NamespaceSimulator> slow;
};

int tst_FleetDialogNetns::slow_read_percent() const
{
    static const QRegularExpression progress(QStringLiteral("progress (\\d+) of (\\d+) bytes"));
    const QString log = QString::fromUtf8(slow->log());
    QRegularExpressionMatchIterator lines = progress.globalMatch(log);
    int percent = -1;
    while (lines.hasNext()) {
        const QRegularExpressionMatch line = lines.next();
        percent =
                int(line.captured(1).toLongLong() * 100 / qMax(1LL, line.captured(2).toLongLong()));
    }
    return percent;
}

void tst_FleetDialogNetns::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("ONDASPA_DEVICES_NS"))
        QFAIL("run through fleet-netns-e2e.sh: the search broadcasts on every interface");
    const QString guard = broadcast_guard_error();
    QVERIFY2(guard.isEmpty(), qPrintable(guard));
    // The server's lines for every request would bury a failure's report.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QVERIFY(work.isValid());
    // config.ini goes here, not beside the tests.
    QVERIFY(QDir::setCurrent(work.path()));
    QVERIFY(QDir().mkpath(path("html")));
    image = randomBytes(image_size);
    QVERIFY(writeFile(path("html/minifs_rom.img"), image));

    fleet.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("fleet.log")));
    QVERIFY(fleet->start({ "--count", QString::number(fleet_size), "--bind", "198.18.0.2", "--ver",
            "1.0", "--save", path("fleet") }));
    ignoring.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("ignoring.log")));
    QVERIFY(ignoring->start({ "--sn", "IGN-1", "--bind", "198.18.0.14", "--ignore-commands" }));
    slow.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("slow.log")));
    QVERIFY(QDir().mkpath(path("slow")));
    QVERIFY(slow->start({ "--sn", "SLOW-1", "--bind", "198.18.0.15", "--rate",
            QString::number(slow_rate), "--save", path("slow") }));
}

void tst_FleetDialogNetns::cleanupTestCase()
{
    if (QTest::currentTestFailed() && fleet && ignoring && slow)
        qInfo().noquote() << "--- simulators\n" << fleet->log() << ignoring->log() << slow->log();
    ServedFolder::set_provider(nullptr);
}

void tst_FleetDialogNetns::fleetBeyondTenRows()
{
    ModalBoxCatcher boxes;
    upgrade window;
    const std::unique_ptr<quenmar::HttpListener> listener(start_http_server(window, *qApp));
    QVERIFY(listener->isListening());
    // Start-up serves the folder beside the program; the image is here.
    ServedFolder::set_provider([this] { return path("html"); });
    window.show();

    // The window's own search: ten rows of the fourteen devices.
    auto *list = window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
    window.findChild<QPushButton *>(QStringLiteral("find_device_start"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(list->item(11)->text() != QLatin1String("-"), search_limit);
    // The other replies come as quickly; the window lists none of them.
    QTest::qWait(500);
    QStringList window_rows;
    for (int row = 2; row < list->count(); ++row)
        window_rows << list->item(row)->text();

    // The dialog starts with all the window's socket heard; probing the range
    // finds no more.
    FleetDialog *dialog = list->findChild<UpgradeFleetMenu *>()->open_fleet_dialog();
    FleetEngine &engine = dialog->engine();
    QCOMPARE(engine.device_count(), devices_heard);
    DeviceAddressPrompt::set_asker([](QWidget *, const QString &, const QString &) {
        return QStringLiteral("198.18.0.2-15");
    });
    dialog->findChild<QPushButton *>(QStringLiteral("add_address_button"))->click();
    DeviceAddressPrompt::set_asker(nullptr);
    QTest::qWait(500);
    QCOMPARE(engine.device_count(), devices_heard);
    const int slow_index = engine.find_device(QHostAddress(QStringLiteral("198.18.0.15")));
    QVERIFY(slow_index >= 0);

    dialog->findChild<QSpinBox *>(QStringLiteral("parallel_box"))->setValue(parallel);
    dialog->findChild<QSpinBox *>(QStringLiteral("timeout_box"))->setValue(timeout_seconds);
    dialog->findChild<QSpinBox *>(QStringLiteral("retries_box"))->setValue(0);
    int most_active = 0;
    connect(&engine, &FleetEngine::state_changed, this,
            [&] { most_active = qMax(most_active, engine.active_count()); });
    // Each time SLOW-1 says what it has read, its row is looked at.
    int last_read = -1;
    int samples = 0;
    int farthest = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        const int read = slow_read_percent();
        if (read == last_read || engine.device(slow_index).state != FleetDevice::State::Downloading)
            return;
        last_read = read;
        ++samples;
        farthest = qMax(farthest, qAbs(engine.device(slow_index).percent - read));
    });
    watch.start(20);
    dialog->findChild<QPushButton *>(QStringLiteral("select_all_button"))->click();
    dialog->findChild<QPushButton *>(QStringLiteral("file_system_button"))->click();
    auto *run_status = dialog->findChild<QLabel *>(QStringLiteral("run_status"));
    QTRY_VERIFY_WITH_TIMEOUT(run_status->toolTip().startsWith(QStringLiteral("成功")), run_limit);
    watch.stop();

    QVERIFY2(run_status->toolTip().startsWith(QStringLiteral("成功 13 台, 失败 1 台: IGN-1 (")),
            qPrintable(run_status->toolTip()));
    QVERIFY2(samples >= 3 && farthest <= percent_tolerance,
            qPrintable(QStringLiteral("%1 looks, %2 points apart").arg(samples).arg(farthest)));
    QVERIFY2(most_active == parallel, qPrintable(QString::number(most_active)));
    const QAbstractItemModel *rows =
            dialog->findChild<QTableView *>(QStringLiteral("device_table_view"))->model();
    QCOMPARE(rows->rowCount(), devices_heard);
    for (int row = 0; row < rows->rowCount(); ++row) {
        const QString serial_number =
                rows->index(row, FleetTableModel::SerialColumn).data().toString();
        const QString state = rows->index(row, FleetTableModel::StateColumn).data().toString();
        const QString progress =
                rows->index(row, FleetTableModel::ProgressColumn).data().toString();
        if (serial_number == QLatin1String("IGN-1")) {
            QCOMPARE(state, QStringLiteral("无响应"));
            continue;
        }
        QVERIFY2(state == QStringLiteral("已发送") && progress == QLatin1String("100%"),
                qPrintable(serial_number + QLatin1Char(' ') + state + QLatin1Char(' ') + progress));
        // "已发送" means the server handed the last byte to the system; the
        // device may still be reading it.
        const QString saved = serial_number == QLatin1String("SLOW-1")
                ? path("slow/minifs_rom.img")
                : path("fleet/") + serial_number + QStringLiteral("/minifs_rom.img");
        QTRY_VERIFY2_WITH_TIMEOUT(readFile(saved) == image, qPrintable(saved), search_limit);
    }
    QVERIFY(ignoring->log().contains("command type=fs sn=IGN-1"));

    // The window kept its contract: the same ten rows, and its bar and
    // status show the last download event.
    for (int row = 2; row < list->count(); ++row)
        QCOMPARE(list->item(row)->text(), window_rows.at(row - 2));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("status"))->text(), QStringLiteral("完成"));
    QCOMPARE(window.findChild<QProgressBar *>(QStringLiteral("download_progress"))->value(), 100);

    stopLeavesNotStarted(dialog);
    QVERIFY2(boxes.boxes().isEmpty(), qPrintable(boxes.texts().join(QLatin1Char('|'))));
}

void tst_FleetDialogNetns::stopLeavesNotStarted(FleetDialog *dialog)
{
    dialog->findChild<QPushButton *>(QStringLiteral("select_all_button"))->click();
    dialog->findChild<QPushButton *>(QStringLiteral("file_system_button"))->click();
    dialog->findChild<QPushButton *>(QStringLiteral("stop_button"))->click();
    const QAbstractItemModel *rows =
            dialog->findChild<QTableView *>(QStringLiteral("device_table_view"))->model();
    const auto count_shown = [rows](const QString &state) {
        int count = 0;
        for (int row = 0; row < rows->rowCount(); ++row)
            count += rows->index(row, FleetTableModel::StateColumn).data().toString() == state;
        return count;
    };
    // At once, not when the devices under way have ended.
    QCOMPARE(count_shown(QStringLiteral("未开始")), devices_heard - parallel);
    auto *run_status = dialog->findChild<QLabel *>(QStringLiteral("run_status"));
    QTRY_VERIFY_WITH_TIMEOUT(run_status->toolTip().startsWith(QStringLiteral("成功")), run_limit);
    const QString summary = run_status->toolTip();
    const QRegularExpression counts(
            QStringLiteral("^成功 (\\d+) 台, 失败 (\\d+) 台.*, 未开始 (\\d+) 台 \\(已停止, "));
    const QRegularExpressionMatch match = counts.match(summary);
    QVERIFY2(match.hasMatch(), qPrintable(summary));
    QCOMPARE(match.captured(1).toInt() + match.captured(2).toInt(), parallel);
    QCOMPARE(match.captured(3).toInt(), devices_heard - parallel);
    QCOMPARE(count_shown(QStringLiteral("未开始")), devices_heard - parallel);
}

QTEST_MAIN(tst_FleetDialogNetns)
#include "tst_fleetdialog_netns.moc"
