#ifndef FLEETSORTMODEL_H
#define FLEETSORTMODEL_H

#include <QCollator>
#include <QSortFilterProxyModel>

// The fleet table in the order of the column the user chose: the state in
// the order of an upgrade, the address by value, the rest as text with
// digits compared as numbers (FLT-2 before FLT-10, "ver" 1.9 before 1.10).
// Until a column is chosen, rows stay in the order the devices were found.
// Lives on the thread of its source, a FleetTableModel.
class FleetSortModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit FleetSortModel(QObject *parent = nullptr);

    // The engine's index of the device shown in row.
    int device(int row) const;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    QCollator collator;
};

#endif // FLEETSORTMODEL_H
