#include "fleettabledelegate.h"
#include "fleetdevice.h"
#include "fleettablemodel.h"

#include <QApplication>
#include <QPainter>

namespace {

// Space around the bar inside its cell, in pixels, so rows stay apart.
constexpr int bar_margin = 2;

// Darker than the upgrade window's status colours: these are read as text on
// a white table, not as a large label.
const QColor success_colour(0, 150, 0);
const QColor failure_colour(210, 0, 0);
// Neither: a stop came first.
const QColor not_started_colour(120, 120, 120);
// How much lighter a selected state cell's background is than other
// selected cells (QColor::lighter's factor, in percent).
constexpr int selection_lightness = 170;

} // namespace

void FleetTableDelegate::paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int percent = index.data(FleetTableModel::PercentRole).toInt();
    if (index.column() != FleetTableModel::ProgressColumn || percent < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The row's selection background first, then the bar on top of it.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    QWidget *view = const_cast<QWidget *>(option.widget);
    QStyle *style = view ? view->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, view);

    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(bar_margin, bar_margin, -bar_margin, -bar_margin);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.direction = option.direction;
    bar.fontMetrics = option.fontMetrics;
    bar.palette = option.palette;
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent;
    bar.text = index.data().toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, view);
}

void FleetTableDelegate::initStyleOption(
        QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != FleetTableModel::StateColumn)
        return;
    const QColor colour = state_colour(index);
    if (!colour.isValid())
        return;
    option->palette.setColor(QPalette::Text, colour);
    // Selected rows (全选 for a whole run) keep their state readable: the
    // colour on a light selection.
    option->palette.setColor(QPalette::HighlightedText, colour);
    option->palette.setColor(QPalette::Highlight,
            option->palette.color(QPalette::Highlight).lighter(selection_lightness));
}

QColor FleetTableDelegate::state_colour(const QModelIndex &index)
{
    switch (FleetDevice::State(index.data(FleetTableModel::StateRole).toInt())) {
    case FleetDevice::State::FileSent:
    case FleetDevice::State::Back:
    case FleetDevice::State::UpToDate:
        return success_colour;
    case FleetDevice::State::Interrupted:
    case FleetDevice::State::NoAnswer:
    case FleetDevice::State::NotFound:
    case FleetDevice::State::NotBack:
    case FleetDevice::State::NotUpgraded:
        return failure_colour;
    case FleetDevice::State::NotStarted:
        return not_started_colour;
    default:
        return QColor();
    }
}
