#include "fleetsortmodel.h"
#include "fleettablemodel.h"
#include "fleettestsupport.h"

#include <QtTest>

// The devices below were found in this order.
class tst_FleetSortModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sortedByColumn_data();
    void sortedByColumn();

private:
    QTemporaryDir folder;
};

void tst_FleetSortModel::initTestCase()
{
    QVERIFY(serve_fleet_image(folder));
}

void tst_FleetSortModel::sortedByColumn_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("serial_numbers");
    QTest::newRow("found") << -1 << QStringList{ "FLT-10", "FLT-2", "flt-3", "FLT-1" };
    QTest::newRow("serialNumber") << int(FleetTableModel::SerialColumn)
                                  << QStringList{ "FLT-1", "FLT-2", "flt-3", "FLT-10" };
    QTest::newRow("version") << int(FleetTableModel::VersionColumn)
                             << QStringList{ "FLT-1", "FLT-2", "flt-3", "FLT-10" };
    QTest::newRow("address") << int(FleetTableModel::AddressColumn)
                             << QStringList{ "FLT-2", "FLT-1", "FLT-10", "flt-3" };
    // In the order of an upgrade: listed, downloading, file sent, no answer.
    QTest::newRow("state") << int(FleetTableModel::StateColumn)
                           << QStringList{ "FLT-10", "FLT-1", "FLT-2", "flt-3" };
}

void tst_FleetSortModel::sortedByColumn()
{
    FleetEngineRig fleet;
    const struct
    {
        const char *serial_number;
        const char *version;
        int address;
    } found[] = { { "FLT-10", "1.10", 100 }, { "FLT-2", "1.2", 9 }, { "flt-3", "1.9", 250 },
        { "FLT-1", "1.1", 10 } };
    for (const auto &device : found)
        fleet.engine.add_device(QString::fromLatin1(device.serial_number),
                QString::fromLatin1(device.version), QString(),
                QHostAddress(QStringLiteral("198.18.0.%1").arg(device.address)));
    FleetEngine::Run run;
    run.type = QStringLiteral("fs");
    run.file_name = QStringLiteral("image.bin");
    run.retries = 0;
    QVERIFY(fleet.engine.start(run, { 1, 2, 3 }));
    DownloadReport sent;
    sent.peer = QHostAddress(QStringLiteral("198.18.0.9"));
    sent.method = "GET";
    sent.path = QStringLiteral("/image.bin");
    sent.file_size = fleet_image_size;
    sent.bytes_sent = quint64(fleet_image_size);
    sent.outcome = DownloadReport::Outcome::Complete;
    fleet.engine.take_report(sent);
    sent.peer = QHostAddress(QStringLiteral("198.18.0.10"));
    sent.outcome = DownloadReport::Outcome::InProgress;
    fleet.engine.take_report(sent);
    fleet.clock.advance(run.timeout_ms);

    FleetTableModel table(fleet.engine, fleet.clock);
    FleetSortModel sorted;
    sorted.setSourceModel(&table);
    QFETCH(int, column);
    sorted.sort(column);
    QStringList order;
    for (int row = 0; row < sorted.rowCount(); ++row) {
        order << sorted.index(row, FleetTableModel::SerialColumn).data().toString();
        QCOMPARE(fleet.engine.device(sorted.device(row)).serial_number, order.last());
    }
    QTEST(order, "serial_numbers");
}

QTEST_GUILESS_MAIN(tst_FleetSortModel)
#include "tst_fleetsortmodel.moc"
