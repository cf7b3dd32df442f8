#include "fleetengine.h"
#include "fleettablemodel.h"
#include "fleettestsupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Outcome = DownloadReport::Outcome;

// Time-out and confirmation time of the runs below, in ms.
constexpr int timeout = 10000;
constexpr int confirm = 30000;
constexpr qint64 image_size = fleet_image_size;

} // namespace

class tst_FleetTableModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void rowFollowsEvents_data();
    void rowFollowsEvents();
    void stoppedRunCountsNotStartedApart();
    void rowsNameTheirRun();
    void haltedRunSaysWhy_data();
    void haltedRunSaysWhy();

private:
    QString cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return model->data(model->index(row, column), role).toString();
    }
    // Runs a step of rowFollowsEvents on device 0.
    void step(const QString &what);
    // A file-system run of image.bin, one device at a time, no retries.
    static FleetEngine::Run one_at_a_time(bool confirmed);

    QTemporaryDir folder;
    std::unique_ptr<FleetEngineRig> fleet;
    std::unique_ptr<FleetTableModel> model;
};

void tst_FleetTableModel::initTestCase()
{
    QVERIFY(serve_fleet_image(folder));
}

void tst_FleetTableModel::init()
{
    // The model reads the engine and the clock till its end.
    model.reset();
    fleet.reset(new FleetEngineRig);
    model.reset(new FleetTableModel(fleet->engine, fleet->clock));
}

FleetEngine::Run tst_FleetTableModel::one_at_a_time(bool confirmed)
{
    FleetEngine::Run run;
    run.type = QStringLiteral("fs");
    run.file_name = QStringLiteral("image.bin");
    run.parallel = 1;
    run.timeout_ms = timeout;
    run.retries = 0;
    run.confirm_ms = confirmed ? confirm : 0;
    return run;
}

void tst_FleetTableModel::step(const QString &what)
{
    const QString verb = what.section(QLatin1Char(':'), 0, 0);
    const QString value = what.section(QLatin1Char(':'), 1);
    if (verb == QLatin1String("start")) {
        QVERIFY(fleet->engine.start(one_at_a_time(value == QLatin1String("confirm")), { 0, 1 }));
        model->run_started({ 0, 1 });
    } else if (verb == QLatin1String("wait")) {
        fleet->clock.advance(value.toInt());
    } else if (verb == QLatin1String("head")) {
        fleet->engine.take_report(report(0, "HEAD", Outcome::Complete));
    } else if (verb == QLatin1String("get")) {
        fleet->engine.take_report(report(0, "GET", Outcome::InProgress, value.toULongLong()));
    } else if (verb == QLatin1String("done")) {
        fleet->engine.take_report(report(0, "GET", Outcome::Complete, image_size));
    } else if (verb == QLatin1String("cut")) {
        fleet->engine.take_report(report(0, "GET", Outcome::Interrupted, value.toULongLong()));
    } else if (verb == QLatin1String("missing")) {
        fleet->engine.take_report(report(0, "GET", Outcome::NotFound));
    } else if (verb == QLatin1String("reply")) {
        fleet->engine.take_datagram(reply(QStringLiteral("A"), value), device_address(0));
    }
}

void tst_FleetTableModel::rowFollowsEvents_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("progress");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("elapsed");
    QTest::addColumn<QString>("version");

    QTest::newRow("listed") << QStringList() << "就绪"
                            << "" << -1 << ""
                            << "1.0";
    QTest::newRow("commandSent") << QStringList{ "start", "wait:4000" } << "等待"
                                 << "" << -1 << "0:04"
                                 << "1.0";
    QTest::newRow("headersAsked") << QStringList{ "start", "head" } << "擦除"
                                  << "" << -1 << "0:00"
                                  << "1.0";
    QTest::newRow("downloading") << QStringList{ "start", "wait:1500", "get:420" } << "下载"
                                 << "42%" << 42 << "0:01"
                                 << "1.0";
    // The time stops with the device's end.
    QTest::newRow("fileSent") << QStringList{ "start", "get:0", "wait:65000", "done", "wait:9000" }
                              << "已发送"
                              << "100%" << 100 << "1:05"
                              << "1.0";
    QTest::newRow("interrupted") << QStringList{ "start", "get:370", "cut:370", "wait:5000" }
                                 << "中断"
                                 << "37%" << 37 << "0:00"
                                 << "1.0";
    QTest::newRow("noAnswer") << QStringList{ "start", "wait:10000" } << "无响应"
                              << "" << -1 << "0:10"
                              << "1.0";
    QTest::newRow("notFound") << QStringList{ "start", "missing" } << "未找到"
                              << "" << -1 << "0:00"
                              << "1.0";
    QTest::newRow("waitingForReboot")
            << QStringList{ "start:confirm", "done", "wait:2000" } << "等待重启"
            << "100%" << 100 << "0:02"
            << "1.0";
    QTest::newRow("back") << QStringList{ "start:confirm", "done", "wait:2000", "reply:2.0" }
                          << "已重启"
                          << "100%" << 100 << "0:02"
                          << "1.0 → 2.0";
    QTest::newRow("notBack") << QStringList{ "start:confirm", "done", "wait:30000" } << "未重启"
                             << "100%" << 100 << "0:30"
                             << "1.0";
}

void tst_FleetTableModel::rowFollowsEvents()
{
    QFETCH(QStringList, steps);
    fleet->engine.take_datagram(
            reply(QStringLiteral("A"), QStringLiteral("1.0")), device_address(0));
    fleet->engine.take_datagram(
            reply(QStringLiteral("B"), QStringLiteral("1.0")), device_address(1));
    QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
    for (const QString &what : qAsConst(steps))
        step(what);

    QTEST(cell(0, FleetTableModel::StateColumn), "state");
    QTEST(cell(0, FleetTableModel::ProgressColumn), "progress");
    QTEST(model->data(model->index(0, FleetTableModel::ProgressColumn),
                       FleetTableModel::PercentRole)
                    .toInt(),
            "percent");
    QTEST(cell(0, FleetTableModel::ElapsedColumn), "elapsed");
    QTEST(cell(0, FleetTableModel::VersionColumn), "version");
    QCOMPARE(changed.isEmpty(), steps.isEmpty());
    // With a parallel limit of one, the second device waits its turn.
    if (steps.value(0).startsWith(QLatin1String("start")) && fleet->engine.is_running()
            && fleet->engine.device(1).state == FleetDevice::State::Listed)
        QCOMPARE(cell(1, FleetTableModel::StateColumn), QStringLiteral("排队"));
}

// Devices a stop kept from their command are neither failed nor waiting.
void tst_FleetTableModel::stoppedRunCountsNotStartedApart()
{
    for (int device = 0; device < 3; ++device)
        fleet->engine.add_device(QStringLiteral("SN-%1").arg(device), QStringLiteral("1.0"),
                QString(), device_address(device));
    QVERIFY(fleet->engine.start(one_at_a_time(false), { 0, 1, 2 }));
    model->run_started({ 0, 1, 2 });
    QCOMPARE(cell(1, FleetTableModel::StateColumn), QStringLiteral("排队"));
    fleet->engine.stop();
    QCOMPARE(cell(1, FleetTableModel::StateColumn), QStringLiteral("未开始"));
    QCOMPARE(model->state_line(2), QStringLiteral("SN-2 (198.18.0.12) 未开始"));
    QCOMPARE(cell(2, FleetTableModel::ElapsedColumn), QString());

    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    fleet->clock.advance(timeout);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(model->summary_line(finished.first().first().value<FleetEngine::Summary>()),
            QStringLiteral("成功 0 台, 失败 1 台: SN-0, 未开始 2 台 (已停止, 用时 0:10)"));
    // After the run too: not "就绪", which would read as never chosen.
    QCOMPARE(cell(1, FleetTableModel::StateColumn), QStringLiteral("未开始"));
}

void tst_FleetTableModel::rowsNameTheirRun()
{
    fleet->engine.take_datagram(reply(QStringLiteral("A")), device_address(0));
    fleet->engine.take_datagram(reply(QStringLiteral("B")), device_address(1));
    step(QStringLiteral("start"));
    step(QStringLiteral("done"));
    fleet->clock.advance(timeout);
    QVERIFY(!fleet->engine.is_running());
    FleetEngine::Run run = fleet->engine.run();
    QVERIFY(fleet->engine.start(run, { 1 }));
    model->run_started({ 1 });
    QCOMPARE(model->run_count(), 2);
    QCOMPARE(cell(0, FleetTableModel::StateColumn, Qt::ToolTipRole),
            QStringLiteral("第 1 次升级 (image.bin), 第 1 次命令, /image.bin, 1000 字节"));
    QCOMPARE(cell(1, FleetTableModel::StateColumn, Qt::ToolTipRole),
            QStringLiteral("第 2 次升级 (image.bin), 第 1 次命令"));
}

void tst_FleetTableModel::haltedRunSaysWhy_data()
{
    QTest::addColumn<int>("canary");
    QTest::addColumn<QString>("budget");
    QTest::addColumn<QString>("summary");
    QTest::newRow("canaryFailed") << 1 << ""
                                  << "成功 0 台, 失败 1 台: SN-0, 未开始 2 台, 已是最新 1 台, "
                                     "已中止: 先试设备 SN-0 无响应 (用时 0:10)";
    QTest::newRow("budgetSpent") << 0 << "0"
                                 << "成功 0 台, 失败 1 台: SN-0, 未开始 2 台, 已是最新 1 台, "
                                    "已中止: 失败超过上限 0 台 (用时 0:10)";
}

// The up-to-date device is counted apart; the others never got their command.
void tst_FleetTableModel::haltedRunSaysWhy()
{
    QFETCH(int, canary);
    QFETCH(QString, budget);
    for (int device = 0; device < 4; ++device)
        fleet->engine.add_device(QStringLiteral("SN-%1").arg(device),
                device == 3 ? QStringLiteral("2.0") : QStringLiteral("1.0"), QString(),
                device_address(device));
    FleetEngine::Run run = one_at_a_time(false);
    run.canary = canary;
    FailureBudget::parse(budget, &run.max_failures);
    run.skip_version = QStringLiteral("2.0");
    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    QVERIFY(fleet->engine.start(run, { 0, 1, 2, 3 }));
    QCOMPARE(cell(3, FleetTableModel::StateColumn), QStringLiteral("已是最新"));
    fleet->clock.advance(timeout);
    QCOMPARE(finished.count(), 1);
    QTEST(model->summary_line(finished.first().first().value<FleetEngine::Summary>()), "summary");
}

QTEST_GUILESS_MAIN(tst_FleetTableModel)
#include "tst_fleettablemodel.moc"
