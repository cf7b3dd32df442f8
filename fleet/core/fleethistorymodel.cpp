#include "fleethistorymodel.h"

#include "devicemessages.h"

#include <algorithm>

FleetHistoryModel::FleetHistoryModel(QObject *parent) : QAbstractTableModel(parent) { }

void FleetHistoryModel::set_runs(const QVector<FleetRunRecord> &runs)
{
    beginResetModel();
    newest_first = runs;
    std::reverse(newest_first.begin(), newest_first.end());
    endResetModel();
}

const FleetRunRecord &FleetHistoryModel::run(int row) const
{
    return newest_first.at(row);
}

int FleetHistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : newest_first.size();
}

int FleetHistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FleetHistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return QVariant();
    const FleetRunRecord &record = newest_first.at(index.row());
    switch (index.column()) {
    case StartedColumn:
        return record.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case TypeColumn:
        return record.type == DeviceMessages::firmware_type() ? QStringLiteral("固件升级")
                                                              : QStringLiteral("文件更新");
    case FileColumn:
        return record.file_name;
    case DevicesColumn:
        return record.devices.size();
    case SucceededColumn:
        return record.succeeded;
    case FailedColumn:
        return record.failed;
    case NotStartedColumn:
        return record.not_started;
    default:
        return QVariant();
    }
}

QVariant FleetHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case StartedColumn:
        return QStringLiteral("开始时间");
    case TypeColumn:
        return QStringLiteral("类型");
    case FileColumn:
        return QStringLiteral("文件");
    case DevicesColumn:
        return QStringLiteral("设备");
    case SucceededColumn:
        return QStringLiteral("成功");
    case FailedColumn:
        return QStringLiteral("失败");
    case NotStartedColumn:
        return QStringLiteral("未开始");
    default:
        return QVariant();
    }
}
