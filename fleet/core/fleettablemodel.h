#ifndef FLEETTABLEMODEL_H
#define FLEETTABLEMODEL_H

#include "fleetengine.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>

class FleetClock;

// The fleet engine's devices as table rows, one per device, not limited in
// number: serial number, "ver" (with the "ver" after confirmation), "snd",
// address, state in Chinese, download percentage and elapsed time. Reads the
// devices from the engine and follows its signals; keeps only which devices
// the current run holds. Also words the fleet log's lines. Lives on the
// engine's thread; the engine and the clock must outlive it.
class FleetTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        SerialColumn,
        VersionColumn,
        SoundColumn,
        AddressColumn,
        StateColumn,
        ProgressColumn,
        ElapsedColumn,
        ColumnCount
    };
    enum Role {
        // Progress column: the percentage, 0 to 100, or -1 while no
        // download has begun (int).
        PercentRole = Qt::UserRole,
        // Every column: the device's FleetDevice::State (int).
        StateRole,
    };

    FleetTableModel(const FleetEngine &engine, const FleetClock &clock, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A run of these devices was started: they show "排队" until their
    // command leaves, and every row is read again (the engine resets the
    // devices of a run without a signal).
    void run_started(const QVector<int> &device_indexes);
    // Runs started so far; the log names a run by its number.
    int run_count() const { return runs; }
    // Reads a device's row again, e.g. after a reply changed its "ver".
    void refresh_device(int index);
    // Reads the elapsed times again; the view calls it while a run goes on.
    void refresh_elapsed();

    // The state as the dialog shows it; a listed device is "就绪", or
    // "排队" while it waits in a run. (A row sent in a run with confirmation
    // shows "等待重启" till it is back.)
    static QString state_text(FleetDevice::State state, bool queued = false);
    // Minutes and seconds, "m:ss".
    static QString elapsed_text(qint64 milliseconds);

    // Log lines: a device was found, a device's state changed, a run ended
    // ("成功 N 台, 失败 M 台", the failed serial numbers, and "未开始 K 台"
    // for those a stop kept from starting).
    QString found_line(int index) const;
    QString state_line(int index) const;
    QString summary_line(const FleetEngine::Summary &summary) const;

private:
    void device_added(int index);
    void run_finished();
    void row_changed(int index);
    QString label(int index) const;

    const FleetEngine &engine;
    const FleetClock &clock;
    int rows = 0;
    QSet<int> in_run;
    // Runs started so far.
    int runs = 0;
    // The latest run of each device that was in one, as its tool tip names it.
    QHash<int, QString> run_labels;
};

#endif // FLEETTABLEMODEL_H
