#include "fleethistory.h"
#include "fleetrunrecorder.h"
#include "fleettestsupport.h"
#include "testfiles.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A run of count devices started at second `second` of a day.
FleetRunRecord sample_run(int second, int count = 1)
{
    FleetRunRecord run;
    run.started = QDateTime(
            QDate(2026, 3, 4), QTime(5, 6, 0).addSecs(second), Qt::OffsetFromUTC, 8 * 3600);
    run.ended = run.started.addSecs(30);
    run.type = QStringLiteral("fs");
    run.file_name = QStringLiteral("image.bin");
    run.file_size = 147;
    run.sha256 = QByteArray(64, 'a');
    run.settings = { { "parallel", 8 }, { "canary", 2 } };
    run.succeeded = count;
    for (int device = 0; device < count; ++device)
        run.devices.append({ QStringLiteral("喇叭-%1").arg(device), QStringLiteral("10.0.0.1"),
                QStringLiteral("1.0"), QStringLiteral("1.1"), QStringLiteral("back"), 1, 147,
                2.5 });
    return run;
}

QByteArray line_of(const FleetRunRecord &run)
{
    return QJsonDocument(run.to_json()).toJson(QJsonDocument::Compact) + '\n';
}

QVector<int> started_seconds(const FleetHistory::Reading &reading)
{
    QVector<int> seconds;
    for (const FleetRunRecord &run : reading.runs)
        seconds << QTime(5, 6).secsTo(run.started.time());
    return seconds;
}

} // namespace

// The run history file: appends, what a crash leaves, the bounds, a place that cannot be
// written, and the record a finished engine run makes.
class tst_FleetHistory : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void appendsAndReadsBack();
    void tornLastLineIsSkipped();
    void boundDropsOldestRuns_data();
    void boundDropsOldestRuns();
    void unwritablePlaceIsAnError();
    void recordsFinishedRun();
    void recordsHaltedRollout();

private:
    QString path() const { return work->filePath(QStringLiteral("sub/history.jsonl")); }
    std::unique_ptr<QTemporaryDir> work;
};

void tst_FleetHistory::init()
{
    work.reset(new QTemporaryDir);
    QVERIFY(work->isValid());
}

void tst_FleetHistory::appendsAndReadsBack()
{
    const FleetHistory history(path());
    QCOMPARE(history.read().runs.size(), 0);
    QVERIFY(history.read().error.isEmpty());
    QString error;
    QVERIFY2(history.append(sample_run(1, 2), &error), qPrintable(error));
    QVERIFY2(history.append(sample_run(2), &error), qPrintable(error));

    const FleetHistory::Reading reading = history.read();
    QCOMPARE(reading.skipped_lines, 0);
    QCOMPARE(started_seconds(reading), (QVector<int>{ 1, 2 }));
    const FleetRunRecord &first = reading.runs.first();
    QCOMPARE(first.started, sample_run(1).started);
    QCOMPARE(first.started.offsetFromUtc(), 8 * 3600);
    QCOMPARE(first.sha256, QByteArray(64, 'a'));
    QCOMPARE(first.file_size, qint64(147));
    // Keys this build does not know survive.
    QCOMPARE(first.settings.value("canary").toInt(), 2);
    QCOMPARE(first.devices.size(), 2);
    QCOMPARE(first.devices.at(1).serial_number, QStringLiteral("喇叭-1"));
    QCOMPARE(first.devices.at(1).version_after, QStringLiteral("1.1"));
    QCOMPARE(first.devices.at(1).seconds, 2.5);
    // One line per run, the offset written out.
    const QByteArray content = readFile(path());
    QCOMPARE(content.count('\n'), 2);
    QVERIFY(content.startsWith("{")
            && content.contains("\"started\":\"2026-03-04T05:06:01.000+08:00\""));
}

void tst_FleetHistory::tornLastLineIsSkipped()
{
    const FleetHistory history(path());
    QString error;
    QVERIFY(history.append(sample_run(1), &error));
    const QByteArray whole = line_of(sample_run(2));
    QFile file(path());
    QVERIFY(file.open(QIODevice::Append));
    QVERIFY(file.write(whole.left(whole.size() / 2)) > 0);
    file.close();
    QCOMPARE(started_seconds(history.read()), QVector<int>{ 1 });
    QCOMPARE(history.read().skipped_lines, 1);

    // The next run starts a line of its own.
    QVERIFY(history.append(sample_run(3), &error));
    const FleetHistory::Reading reading = history.read();
    QCOMPARE(started_seconds(reading), (QVector<int>{ 1, 3 }));
    QCOMPARE(reading.skipped_lines, 1);
}

void tst_FleetHistory::boundDropsOldestRuns_data()
{
    QTest::addColumn<int>("devices"); // per run
    QTest::addColumn<int>("runs"); // in the file before the append
    QTest::addColumn<bool>("rewritten");
    QTest::newRow("runs-belowBound") << 1 << FleetHistory::max_runs - 2 << false;
    QTest::newRow("runs-atBound") << 1 << FleetHistory::max_runs << true;
    // Some 1.7 MB a run: fewer than 12 fit.
    QTest::newRow("bytes") << 10000 << 12 << true;
}

void tst_FleetHistory::boundDropsOldestRuns()
{
    QFETCH(int, devices);
    QFETCH(int, runs);
    QVERIFY(QDir().mkpath(work->filePath(QStringLiteral("sub"))));
    QByteArray content;
    for (int run = 0; run < runs; ++run)
        content += line_of(sample_run(run, devices));
    // A line that holds no run counts against the bound and goes with a rewrite.
    content += "{\"torn\n";
    QVERIFY(writeFile(path(), content));

    const FleetHistory history(path());
    QString error;
    QVERIFY2(history.append(sample_run(runs, devices), &error), qPrintable(error));
    const FleetHistory::Reading reading = history.read();
    const int line_size = line_of(sample_run(runs, devices)).size();
    const int kept =
            qMin(qMin(runs + 1, FleetHistory::max_runs), int(FleetHistory::max_bytes / line_size));
    QCOMPARE(reading.runs.size(), kept);
    QCOMPARE(started_seconds(reading).last(), runs);
    QCOMPARE(started_seconds(reading).first(), runs + 1 - kept);
    QVERIFY(QFileInfo(path()).size() <= FleetHistory::max_bytes);
    QFETCH(bool, rewritten);
    QCOMPARE(reading.skipped_lines, rewritten ? 0 : 1);
}

void tst_FleetHistory::unwritablePlaceIsAnError()
{
    // A file where the folder should be: refused for root too.
    QVERIFY(writeFile(work->filePath(QStringLiteral("sub")), "x"));
    const FleetHistory history(path());
    QString error;
    QVERIFY(!history.append(sample_run(1), &error));
    QVERIFY2(error.startsWith(QStringLiteral("cannot write ") + QDir::toNativeSeparators(path())),
            qPrintable(error));
    QCOMPARE(history.read().runs.size(), 0);
}

void tst_FleetHistory::recordsFinishedRun()
{
    QVERIFY(serve_fleet_image(*work));
    FleetEngineRig fleet;
    FleetEngine &engine = fleet.engine;
    FleetRunRecorder recorder(engine, FleetHistory(path()));
    for (int device = 0; device < 3; ++device)
        engine.add_device(QStringLiteral("SN-%1").arg(device), QStringLiteral("1.0"), QString(),
                device_address(device));
    FleetEngine::Run run;
    run.type = QStringLiteral("fs");
    run.file_name = QStringLiteral("image.bin");
    run.parallel = 2;
    run.timeout_ms = 1000;
    run.retries = 0;
    QSignalSpy finished(&engine, &FleetEngine::run_finished);
    QVERIFY(engine.start(run, { 0, 1, 2 }));
    engine.stop();
    fleet.clock.advance(400);
    engine.take_report(report(0, "GET", DownloadReport::Outcome::Complete, fleet_image_size));
    fleet.clock.advance(1000);
    QCOMPARE(finished.size(), 1);

    QString error;
    const FleetRunRecord record =
            recorder.finish(finished.at(0).at(0).value<FleetEngine::Summary>(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(record.file_size, fleet_image_size);
    QCOMPARE(record.sha256.size(), 64);
    QCOMPARE(record.settings.value("parallel").toInt(), 2);
    QCOMPARE(record.settings.value("timeout_s").toDouble(), 1.0);
    QVERIFY(record.started.isValid() && record.ended >= record.started);
    QCOMPARE(record.devices.size(), 3);
    QCOMPARE(record.devices.at(0).state, QStringLiteral("file sent"));
    QCOMPARE(record.devices.at(0).bytes, quint64(fleet_image_size));
    QCOMPARE(record.devices.at(0).seconds, 0.4);
    QCOMPARE(record.devices.at(1).state, QStringLiteral("no answer"));
    QCOMPARE(record.devices.at(1).attempts, 1);
    // Kept from its command by the stop.
    QCOMPARE(record.devices.at(2).state, QStringLiteral("not started"));
    QCOMPARE(record.devices.at(2).seconds, -1.0);
    QCOMPARE(recorder.history().read().runs.size(), 1);
    ServedFolder::set_provider(nullptr);
}

// A canary's failure halts the run: the record keeps why, the up-to-date device and the
// rollout's settings, through its JSON form too.
void tst_FleetHistory::recordsHaltedRollout()
{
    QVERIFY(serve_fleet_image(*work));
    FleetEngineRig fleet;
    FleetEngine &engine = fleet.engine;
    FleetRunRecorder recorder(engine, FleetHistory(path()));
    const QStringList versions{ "1.0", "1.0", "1.3" };
    for (int device = 0; device < 3; ++device)
        engine.add_device(QStringLiteral("SN-%1").arg(device), versions.at(device), QString(),
                device_address(device));
    FleetEngine::Run run;
    run.type = QStringLiteral("fs");
    run.file_name = QStringLiteral("image.bin");
    run.timeout_ms = 1000;
    run.retries = 0;
    run.canary = 1;
    run.skip_version = QStringLiteral("1.3");
    QVERIFY(FailureBudget::parse(QStringLiteral("10%"), &run.max_failures));
    QSignalSpy finished(&engine, &FleetEngine::run_finished);
    QVERIFY(engine.start(run, { 0, 1, 2 }));
    fleet.clock.advance(1500);
    QCOMPARE(finished.size(), 1);

    QString error;
    const FleetRunRecord recorded =
            recorder.finish(finished.at(0).at(0).value<FleetEngine::Summary>(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    FleetRunRecord record;
    QVERIFY(FleetRunRecord::from_json(recorded.to_json(), &record));
    QVERIFY2(record.halt_reason.startsWith(QStringLiteral("canary SN-0 failed")),
            qPrintable(record.halt_reason));
    QCOMPARE(record.up_to_date, 1);
    QCOMPARE(record.not_started, 1);
    QCOMPARE(record.settings.value("canary").toInt(), 1);
    QCOMPARE(record.settings.value("max_failures").toString(), QStringLiteral("10%"));
    QCOMPARE(record.settings.value("skip_ver").toString(), QStringLiteral("1.3"));
    QCOMPARE(record.devices.at(2).state, QStringLiteral("up to date"));
    ServedFolder::set_provider(nullptr);
}

QTEST_GUILESS_MAIN(tst_FleetHistory)
#include "tst_fleethistory.moc"
