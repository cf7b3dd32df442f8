#ifndef FLEETTABLEDELEGATE_H
#define FLEETTABLEDELEGATE_H

#include <QStyledItemDelegate>

// Draws the fleet table's rows: a progress bar in the progress column and
// the state in green for success, red for failure, grey for not started,
// selected rows too. GUI thread.
class FleetTableDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
            const QModelIndex &index) const override;

    // The text colour of the state in index's row; invalid for states shown
    // plainly.
    static QColor state_colour(const QModelIndex &index);

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

#endif // FLEETTABLEDELEGATE_H
