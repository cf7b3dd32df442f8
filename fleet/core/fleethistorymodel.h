#ifndef FLEETHISTORYMODEL_H
#define FLEETHISTORYMODEL_H

#include "fleetrunrecord.h"

#include <QAbstractTableModel>
#include <QVector>

// The runs of the history as table rows, newest first: start time, command type, file and
// the counts. Thread of its view.
class FleetHistoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        StartedColumn,
        TypeColumn,
        FileColumn,
        DevicesColumn,
        SucceededColumn,
        FailedColumn,
        NotStartedColumn,
        ColumnCount
    };

    explicit FleetHistoryModel(QObject *parent = nullptr);

    // runs oldest first, as FleetHistory reads them.
    void set_runs(const QVector<FleetRunRecord> &runs);
    // The run of a row.
    const FleetRunRecord &run(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVector<FleetRunRecord> newest_first;
};

#endif // FLEETHISTORYMODEL_H
