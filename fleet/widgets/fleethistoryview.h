#ifndef FLEETHISTORYVIEW_H
#define FLEETHISTORYVIEW_H

#include "fleethistory.h"
#include "fleethistorymodel.h"
#include "fleetrundevicesmodel.h"

#include <QWidget>

class QLabel;
class QTableView;

// "历史记录": the recorded fleet runs in a table, newest first, and the devices of the run
// selected below them. A thin window over the history's two models. GUI thread.
class FleetHistoryView : public QWidget
{
    Q_OBJECT

public:
    explicit FleetHistoryView(const FleetHistory &history, QWidget *parent = nullptr);

    // Reads the history file again and selects the newest run.
    void reload();

private:
    void show_run(int row);

    const FleetHistory history;
    FleetHistoryModel runs;
    FleetRunDevicesModel devices;
    QLabel *file_label;
    QTableView *run_table_view;
    QTableView *run_device_table_view;
};

#endif // FLEETHISTORYVIEW_H
