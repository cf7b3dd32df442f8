#include "fleethistoryview.h"

#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// A size that shows a few runs and a screenful of devices, in pixels.
constexpr int initial_width = 760;
constexpr int initial_height = 520;

QTableView *make_table(QAbstractItemModel *model, const char *name, QWidget *parent)
{
    auto *view = new QTableView(parent);
    view->setObjectName(QLatin1String(name));
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

} // namespace

FleetHistoryView::FleetHistoryView(const FleetHistory &history, QWidget *parent)
    : QWidget(parent, Qt::Window), history(history)
{
    setWindowTitle(QStringLiteral("历史记录"));
    file_label = new QLabel(this);
    file_label->setObjectName(QStringLiteral("history_file_label"));
    file_label->setWordWrap(true);
    file_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *splitter = new QSplitter(Qt::Vertical, this);
    run_table_view = make_table(&runs, "run_table_view", splitter);
    run_device_table_view = make_table(&devices, "run_device_table_view", splitter);
    splitter->addWidget(run_table_view);
    splitter->addWidget(run_device_table_view);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(file_label);
    layout->addWidget(splitter, 1);
    resize(initial_width, initial_height);

    connect(run_table_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { show_run(current.row()); });
    reload();
}

void FleetHistoryView::reload()
{
    const FleetHistory::Reading reading = history.read();
    runs.set_runs(reading.runs);
    QString text = QDir::toNativeSeparators(history.path());
    if (!reading.error.isEmpty())
        text = QStringLiteral("无法读取: ") + reading.error;
    else if (reading.runs.isEmpty())
        text += QStringLiteral(" (还没有记录)");
    if (reading.skipped_lines > 0)
        text += QStringLiteral(" (跳过 %1 行无法读取的记录)").arg(reading.skipped_lines);
    file_label->setText(text);
    if (runs.rowCount() > 0)
        run_table_view->selectRow(0);
    else
        devices.set_run(FleetRunRecord());
}

void FleetHistoryView::show_run(int row)
{
    devices.set_run(row >= 0 && row < runs.rowCount() ? runs.run(row) : FleetRunRecord());
}
