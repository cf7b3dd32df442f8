#include "fleetsortmodel.h"
#include "fleettablemodel.h"

#include <QHostAddress>
#include <QLocale>

// Not the system's locale: the "C" locale compares digits as characters.
FleetSortModel::FleetSortModel(QObject *parent)
    : QSortFilterProxyModel(parent), collator(QLocale(QLocale::Chinese, QLocale::China))
{
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
}

int FleetSortModel::device(int row) const
{
    return mapToSource(index(row, 0)).row();
}

bool FleetSortModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    switch (left.column()) {
    case FleetTableModel::StateColumn:
        return left.data(FleetTableModel::StateRole).toInt()
                < right.data(FleetTableModel::StateRole).toInt();
    case FleetTableModel::AddressColumn:
        return QHostAddress(left.data().toString()).toIPv4Address()
                < QHostAddress(right.data().toString()).toIPv4Address();
    case FleetTableModel::ProgressColumn:
        return left.data(FleetTableModel::PercentRole).toInt()
                < right.data(FleetTableModel::PercentRole).toInt();
    default:
        return collator.compare(left.data().toString(), right.data().toString()) < 0;
    }
}
