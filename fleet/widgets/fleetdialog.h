#ifndef FLEETDIALOG_H
#define FLEETDIALOG_H

#include "fleetengine.h"
#include "fleetrunrecorder.h"
#include "fleetsettings.h"
#include "fleetsortmodel.h"
#include "fleettablemodel.h"
#include "probetally.h"

#include <QDateTime>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class FleetClock;
class FleetHistoryView;
class FleetTransport;
class LogBoxMenu;

namespace Ui {
class FleetDialog;
}

// "批量升级": upgrades many devices at once with a state per device. A thin
// window over the fleet engine and its table model: a table of every device
// found (no limit of ten), search and add by address, firmware and
// file-system upgrades of the selected devices (canaries first, a failure
// budget, devices already at a version skipped), retrying the failed ones,
// stop, the run settings
// (remembered in config.ini, group FLEET), a pre-flight panel and a log.
// Sends through the given transport; its owner feeds the datagrams that
// arrive (take_datagram). Closing only hides it; a run goes on. GUI thread.
class FleetDialog : public QWidget
{
    Q_OBJECT

public:
    // What the dialog shows of the program around it.
    struct Services
    {
        // HTTP port of the file service, announced in the commands.
        std::function<quint16()> http_port;
        // Whether the file service's server listens; empty: it does.
        std::function<bool()> http_listening;
        // Whether the shared UDP socket is bound to its port; empty: it is.
        std::function<bool()> udp_bound;
    };

    // transport must outlive the dialog. Without a clock the dialog keeps a
    // system clock; a given one is not owned and must outlive it.
    FleetDialog(FleetTransport &transport, const Services &services,
            FleetClock *given_clock = nullptr, QWidget *parent = nullptr);
    ~FleetDialog() override;

    FleetEngine &engine() { return fleet; }
    // A datagram from the shared socket: replies add devices or update them.
    // heard, when given, is when it arrived, for the lines it causes; else now.
    void take_datagram(const QByteArray &datagram, const QHostAddress &sender,
            const QDateTime &heard = QDateTime());
    // Checks the files, addresses and ports again.
    void refresh_checklist();

    // Asks where 导出报告… writes, given the dialog and a suggested path; an empty text
    // cancels. Replaces the save dialog (tests).
    using ReportChooser = std::function<QString(QWidget *parent, const QString &suggested)>;
    void set_report_chooser(ReportChooser chooser) { choose_report = std::move(chooser); }

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void on_search_button_clicked();
    void on_add_address_button_clicked();
    void on_select_all_button_clicked();
    void on_retry_failed_button_clicked();
    void on_firmware_button_clicked();
    void on_file_system_button_clicked();
    void on_stop_button_clicked();
    void on_save_log_button_clicked();
    void on_history_button_clicked();
    void on_report_button_clicked();
    void on_refresh_button_clicked();

private:
    void start_run(const QString &type);
    QVector<int> selected_devices() const;
    FleetSettings settings_from_boxes() const;
    void load_settings();
    void bound_failure_budget();
    static QString rollout_text(const FleetEngine::Run &run);
    void save_settings() const;
    void run_finished(const FleetEngine::Summary &summary);
    void update_controls();
    void keep_on_screen();
    void log(const QString &line);
    void show_warning(const QString &text);

    Ui::FleetDialog *ui;
    const Services services;
    FleetTransport &transport;
    std::unique_ptr<FleetClock> own_clock;
    FleetClock *clock;
    FleetEngine fleet;
    FleetTableModel model;
    // Each run's record, appended to the user's history; the latest one is what 导出报告… writes.
    FleetRunRecorder recorder;
    std::unique_ptr<FleetHistoryView> history_view;
    ReportChooser choose_report;
    // The rows as the view shows them, sorted by the column clicked.
    FleetSortModel sorted;
    // Who answered the latest 按IP添加…, logged once the replies had their time.
    ProbeTally probe_tally;
    QTimer probe_timer;
    LogBoxMenu *log_menu = nullptr;
    QTimer elapsed_timer;
    // 停止 was pressed; the run ends once its downloads have.
    bool stopping = false;
    // Inside the engine's start().
    bool starting = false;
    // The time of the lines being logged, while a datagram heard earlier is
    // taken; invalid: now.
    QDateTime line_time;
    // Why each upgrade button is off; empty when it may start.
    QString firmware_refusal;
    QString file_system_refusal;
    // The devices that failed in the latest run, for 重试失败的设备.
    QVector<int> last_failed;
};

#endif // FLEETDIALOG_H
