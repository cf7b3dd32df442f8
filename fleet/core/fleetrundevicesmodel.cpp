#include "fleetrundevicesmodel.h"

#include "fleettablemodel.h"

FleetRunDevicesModel::FleetRunDevicesModel(QObject *parent) : QAbstractTableModel(parent) { }

void FleetRunDevicesModel::set_run(const FleetRunRecord &run)
{
    beginResetModel();
    devices = run.devices;
    endResetModel();
}

int FleetRunDevicesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : devices.size();
}

int FleetRunDevicesModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FleetRunDevicesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    const FleetRunRecord::Device &device = devices.at(index.row());
    switch (index.column()) {
    case SerialColumn:
        return device.serial_number;
    case AddressColumn:
        return device.address;
    case VersionColumn:
        return device.version_after.isEmpty()
                ? device.version_before
                : device.version_before + QStringLiteral(" → ") + device.version_after;
    case StateColumn:
        return state_text(device.state);
    case AttemptsColumn:
        return device.attempts;
    case BytesColumn:
        return QString::number(device.bytes);
    case SecondsColumn:
        return device.seconds < 0 ? QString() : QString::number(device.seconds, 'f', 1);
    default:
        return QVariant();
    }
}

QVariant FleetRunDevicesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case SerialColumn:
        return QStringLiteral("设备编号");
    case AddressColumn:
        return QStringLiteral("地址");
    case VersionColumn:
        return QStringLiteral("ver");
    case StateColumn:
        return QStringLiteral("状态");
    case AttemptsColumn:
        return QStringLiteral("次数");
    case BytesColumn:
        return QStringLiteral("字节");
    case SecondsColumn:
        return QStringLiteral("秒");
    default:
        return QVariant();
    }
}

QString FleetRunDevicesModel::state_text(const QString &state_name)
{
    // The states are numbered from 0 without gaps; state_name() of a number past the last is
    // empty. So states added later are found without a list to keep here.
    for (int value = 0;; ++value) {
        const auto state = FleetDevice::State(value);
        const QString name = FleetDevice::state_name(state);
        if (name.isEmpty())
            return state_name;
        if (name == state_name)
            return FleetTableModel::state_text(state);
    }
}
