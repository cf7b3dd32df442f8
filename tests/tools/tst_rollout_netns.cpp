#include "namespacesimulator.h"
#include "privatenetwork.h"
#include "testfiles.h"
#include "upgraderun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Twenty devices from 198.18.0.2: CANARY-1 first, then ROLL-001 to ROLL-019; IGN-1 after them.
constexpr int fleet_size = 19;
constexpr int image_size = 300000;
// The canary cuts its first two downloads after this many body bytes.
constexpr int drop_after = 50000;
// Longest wait for one run of the command line, and for the simulators to save, in ms.
constexpr int run_limit = 60000;
constexpr int save_limit = 10000;

QString rolled(int number)
{
    return QStringLiteral("ROLL-%1").arg(number, 3, 10, QLatin1Char('0'));
}

} // namespace

// Runs only under fleet-netns-e2e.sh, like the fleet check: a rollout that a
// failed canary halts, then one whose failure budget lets a silent device fail.
class tst_RolloutNetns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void failedCanaryHaltsRollout();
    void budgetLetsOneDeviceFail();
    void historyAndReportMatchTheDevices();

private:
    QString path(const QString &name) const { return work.filePath(name); }
    QStringList served() const { return { QStringLiteral("--folder"), path("html") }; }
    QByteArray logs() const { return canary->log() + fleet->log() + ignoring->log(); }
    // Waits until the simulators have saved count images; false when they did not in time.
    bool saved(int count) const;

    QTemporaryDir work;
    QByteArray image;
    std::unique_ptr<NamespaceSimulator> canary;
    std::unique_ptr<NamespaceSimulator> fleet;
    std::unique_ptr<NamespaceSimulator> ignoring;
    CliRun last_run;
    bool failed = false;
};

void tst_RolloutNetns::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("ONDASPA_DEVICES_NS"))
        QFAIL("run through fleet-netns-e2e.sh: the devices live in a private namespace");
    const QString guard = broadcast_guard_error();
    QVERIFY2(guard.isEmpty(), qPrintable(guard));
    QVERIFY(work.isValid());
    // The runs' history goes to the test's own folder, inherited by the command line.
    qputenv("XDG_DATA_HOME", path("data").toUtf8());
    QVERIFY(QDir().mkpath(path("html")));
    image = randomBytes(image_size);
    QVERIFY(writeFile(path("html/minifs_rom.img"), image));
    canary.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("canary.log")));
    QVERIFY(canary->start({ "--sn", "CANARY-1", "--bind", "198.18.0.2", "--drop-after",
            QString::number(drop_after), "--drops", "2", "--save", path("canary") }));
    fleet.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("fleet.log")));
    QVERIFY(fleet->start({ "--count", QString::number(fleet_size), "--sn", "ROLL", "--bind",
            "198.18.0.3", "--save", path("fleet") }));
    ignoring.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("ignoring.log")));
    QVERIFY(ignoring->start({ "--sn", "IGN-1", "--bind", "198.18.0.22", "--ignore-commands" }));
}

void tst_RolloutNetns::cleanup()
{
    failed = failed || QTest::currentTestFailed();
}

void tst_RolloutNetns::cleanupTestCase()
{
    if (failed && canary && fleet && ignoring)
        qInfo().noquote() << "--- command line\n"
                          << last_run.errors << "--- simulators\n"
                          << logs().right(20000);
    ignoring.reset();
    fleet.reset();
    canary.reset();
}

bool tst_RolloutNetns::saved(int count) const
{
    const QDeadlineTimer deadline(save_limit);
    while (logs().count("saved ") < count && !deadline.hasExpired())
        QTest::qWait(50);
    return logs().count("saved ") >= count;
}

// The canary's download breaks off twice (retries 1): the run halts and no other device
// but the second canary hears a command.
void tst_RolloutNetns::failedCanaryHaltsRollout()
{
    last_run = CliRun::of(QStringLiteral(CLI_PATH),
            QStringList{
                    "fs", "--ip", "198.18.0.2-21", "--canary", "2", "--retries", "1", "--json" }
                    + served(),
            run_limit);

    QCOMPARE(last_run.exit_code, 1);
    const QJsonObject summary = last_run.summary();
    QCOMPARE(summary[QStringLiteral("halted")].toString(),
            QStringLiteral("canary CANARY-1 failed: interrupted"));
    QCOMPARE(summary[QStringLiteral("succeeded")].toInt(), 1);
    QCOMPARE(summary[QStringLiteral("failed")].toInt(), 1);
    QCOMPARE(summary[QStringLiteral("not_started")].toInt(), fleet_size - 1);
    QVERIFY2(summary[QStringLiteral("retry")].toString().endsWith(
                     QStringLiteral("--canary 2 --retries 1 --json --folder %1 --ip 198.18.0.2")
                             .arg(path("html"))),
            qPrintable(summary[QStringLiteral("retry")].toString()));
    QVERIFY(last_run.errors.contains(QStringLiteral("halted: canary CANARY-1 failed")));

    QCOMPARE(canary->log().count("command type=fs sn=CANARY-1"), 2);
    QCOMPARE(canary->log().count("dropped"), 2);
    QVERIFY(saved(1));
    QCOMPARE(readFile(path("fleet/ROLL-001/minifs_rom.img")), image);
    for (int number = 2; number <= fleet_size; ++number)
        QVERIFY2(!fleet->log().contains((rolled(number) + QStringLiteral(": command")).toUtf8()),
                qPrintable(rolled(number)));
}

// Twenty devices succeed and the one that ignores commands fails, within a budget of one.
void tst_RolloutNetns::budgetLetsOneDeviceFail()
{
    const int before = logs().count("saved ");
    last_run = CliRun::of(QStringLiteral(CLI_PATH),
            QStringList{ "fs", "--ip", "198.18.0.2-22", "--canary", "2", "--max-failures", "1",
                    "--retries", "0", "--timeout", "3", "--json", "--report", path("report.csv") }
                    + served(),
            run_limit);

    QCOMPARE(last_run.exit_code, 1);
    const QJsonObject summary = last_run.summary();
    QVERIFY(summary[QStringLiteral("halted")].isNull());
    QCOMPARE(summary[QStringLiteral("succeeded")].toInt(), fleet_size + 1);
    QCOMPARE(summary[QStringLiteral("failed")].toInt(), 1);
    QCOMPARE(summary[QStringLiteral("not_started")].toInt(), 0);
    QCOMPARE(last_run.devices().value(QStringLiteral("IGN-1"))[QStringLiteral("state")].toString(),
            QStringLiteral("no answer"));
    QVERIFY2(summary[QStringLiteral("retry")].toString().endsWith(
                     QStringLiteral(" --ip 198.18.0.22")),
            qPrintable(summary[QStringLiteral("retry")].toString()));

    QVERIFY(saved(before + fleet_size + 1));
    QCOMPARE(readFile(path("canary/minifs_rom.img")), image);
    for (int number = 1; number <= fleet_size; ++number)
        QCOMPARE(readFile(path("fleet/%1/minifs_rom.img").arg(rolled(number))), image);
}

// The report of the second run and the history of both agree with what the simulators
// saved: a row per device with its state and bytes, the halted run first.
void tst_RolloutNetns::historyAndReportMatchTheDevices()
{
    const QByteArray report = readFile(path("report.csv"));
    QVERIFY(report.startsWith("\xEF\xBB\xBFstarted,type,file,sha256,sn,"));
    const QList<QByteArray> rows = report.trimmed().split('\n').mid(1);
    QCOMPARE(rows.size(), fleet_size + 2);
    const QByteArray sha256 = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
    for (const QByteArray &row : rows) {
        const QList<QByteArray> cells = row.trimmed().split(',');
        QCOMPARE(cells.size(), 12);
        QCOMPARE(cells.at(3), sha256);
        const QByteArray state = cells.at(4) == "IGN-1" ? "no answer" : "file sent";
        QCOMPARE(cells.at(8), state);
        QCOMPARE(cells.at(10), state == "file sent" ? QByteArray::number(image_size) : "0");
    }

    QProcess history;
    history.start(QStringLiteral(CLI_PATH), { "history", "--json" });
    QVERIFY(history.waitForFinished(run_limit));
    QCOMPARE(history.exitCode(), 0);
    const QList<QByteArray> lines = history.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject halted = QJsonDocument::fromJson(lines.at(0)).object();
    const QJsonObject budget = QJsonDocument::fromJson(lines.at(1)).object();
    QCOMPARE(halted[QStringLiteral("halted")].toString(),
            QStringLiteral("canary CANARY-1 failed: interrupted"));
    QCOMPARE(halted[QStringLiteral("settings")][QStringLiteral("canary")].toInt(), 2);
    QCOMPARE(budget[QStringLiteral("settings")][QStringLiteral("max_failures")].toString(),
            QStringLiteral("1"));
    QCOMPARE(budget[QStringLiteral("sha256")].toString().toLatin1(), sha256);
    QCOMPARE(budget[QStringLiteral("devices")].toArray().size(), fleet_size + 2);
    QCOMPARE(budget[QStringLiteral("succeeded")].toInt(), fleet_size + 1);

    QProcess device;
    device.start(QStringLiteral(CLI_PATH), { "history", "--sn", "CANARY-1" });
    QVERIFY(device.waitForFinished(run_limit));
    const QList<QByteArray> upgrades = device.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(upgrades.size(), 2);
    QVERIFY2(upgrades.at(0).contains("interrupted") && upgrades.at(1).contains("file sent"),
            upgrades.join('\n').constData());
}

QTEST_GUILESS_MAIN(tst_RolloutNetns)
#include "tst_rollout_netns.moc"
