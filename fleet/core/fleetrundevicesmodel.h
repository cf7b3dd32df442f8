#ifndef FLEETRUNDEVICESMODEL_H
#define FLEETRUNDEVICESMODEL_H

#include "fleetrunrecord.h"

#include <QAbstractTableModel>

// The devices of one recorded run as table rows: serial number, address, "ver" before and
// after, the state it ended in (in Chinese, as the fleet table words it), attempts, bytes and
// seconds. Thread of its view.
class FleetRunDevicesModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        SerialColumn,
        AddressColumn,
        VersionColumn,
        StateColumn,
        AttemptsColumn,
        BytesColumn,
        SecondsColumn,
        ColumnCount
    };

    explicit FleetRunDevicesModel(QObject *parent = nullptr);

    void set_run(const FleetRunRecord &run);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A recorded state name in the fleet table's words; a name this build does not know
    // stays as it was recorded.
    static QString state_text(const QString &state_name);

private:
    QVector<FleetRunRecord::Device> devices;
};

#endif // FLEETRUNDEVICESMODEL_H
