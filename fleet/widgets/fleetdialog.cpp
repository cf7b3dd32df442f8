#include "fleetdialog.h"
#include "deviceaddressprompt.h"
#include "devicemessages.h"
#include "fleetchecklist.h"
#include "fleethistoryview.h"
#include "fleetreport.h"
#include "fleettabledelegate.h"
#include "fleettransport.h"
#include "logboxmenu.h"
#include "noticebox.h"
#include "programpaths.h"
#include "servedfolder.h"
#include "systemfleetclock.h"
#include "ui_fleetdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QScreen>

namespace {

// The elapsed times of devices under way are redrawn this often, in ms.
constexpr int elapsed_refresh_ms = 1000;
// Lines the log keeps; a run over hundreds of devices writes several each.
constexpr int max_log_lines = 20000;
// The time that leads every line of the log as shown.
const QString log_time_format = QStringLiteral("HH:mm:ss");

// failure_unit_box's entry for a percentage.
constexpr int percent_unit = 1;

// Starting widths of the table's columns, in pixels (the state column
// stretches).
constexpr int column_widths[FleetTableModel::ColumnCount] = { 120, 90, 60, 120, 70, 160, 60 };

} // namespace

FleetDialog::FleetDialog(FleetTransport &transport, const Services &services,
        FleetClock *given_clock, QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui::FleetDialog), services(services),
      transport(transport), own_clock(given_clock ? nullptr : new SystemFleetClock),
      clock(given_clock ? given_clock : own_clock.get()), fleet(transport, clock),
      model(fleet, *clock), recorder(fleet)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("批量升级"));

    sorted.setSourceModel(&model);
    ui->device_table_view->setModel(&sorted);
    ui->device_table_view->setItemDelegate(new FleetTableDelegate(ui->device_table_view));
    QHeaderView *header = ui->device_table_view->horizontalHeader();
    for (int column = 0; column < FleetTableModel::ColumnCount; ++column)
        header->resizeSection(column, column_widths[column]);
    header->setSectionResizeMode(FleetTableModel::StateColumn, QHeaderView::Stretch);
    // In the order found until a column is clicked.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    ui->device_table_view->setSortingEnabled(true);
    ui->device_table_view->verticalHeader()->setDefaultSectionSize(
            ui->device_table_view->fontMetrics().height() + 10);

    ui->parallel_box->setRange(1, FleetSettings::max_parallel);
    ui->timeout_box->setRange(1, FleetSettings::max_seconds);
    ui->retries_box->setRange(0, FleetSettings::max_retries);
    ui->confirm_box->setRange(0, FleetSettings::max_seconds);
    ui->canary_box->setRange(0, FleetSettings::max_canary);
    ui->failure_budget_box->setRange(-1, FailureBudget::max_value);
    load_settings();
    for (QSpinBox *box : { ui->parallel_box, ui->timeout_box, ui->retries_box, ui->confirm_box,
                 ui->canary_box, ui->failure_budget_box })
        connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this,
                [this] { save_settings(); });
    connect(ui->failure_unit_box, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] {
                bound_failure_budget();
                save_settings();
            });
    connect(ui->skip_version_check, &QCheckBox::toggled, this, [this] {
        update_controls();
        save_settings();
    });
    connect(ui->skip_version_edit, &QLineEdit::textChanged, this, [this] { save_settings(); });

    ui->log_box->setMaximumBlockCount(max_log_lines);
    log_menu = LogBoxMenu::attach(ui->log_box);
    log_menu->setLineTimeFormat(log_time_format);

    connect(&fleet, &FleetEngine::device_added, this,
            [this](int index) { log(model.found_line(index)); });
    connect(&fleet, &FleetEngine::state_changed, this,
            [this](int index) { log(model.state_line(index)); });
    connect(&fleet, &FleetEngine::preflight_checked, this, [this](const FleetPreflight &checked) {
        log(checked.ok ? QStringLiteral("检查 %1: %2 字节, SHA-256 %3")
                                 .arg(checked.path)
                                 .arg(checked.size)
                                 .arg(QString::fromLatin1(checked.sha256))
                       : QStringLiteral("检查失败: ") + FleetChecklist::refusal(checked));
    });
    connect(&fleet, &FleetEngine::run_finished, this, &FleetDialog::run_finished);
    probe_timer.setSingleShot(true);
    probe_timer.setInterval(ProbeTally::answer_time_ms);
    connect(&probe_timer, &QTimer::timeout, this, [this] { log(probe_tally.finish()); });
    elapsed_timer.setInterval(elapsed_refresh_ms);
    connect(&elapsed_timer, &QTimer::timeout, &model, &FleetTableModel::refresh_elapsed);

    refresh_checklist();
    ui->device_table_view->setFocus();
}

FleetDialog::~FleetDialog()
{
    delete ui;
}

void FleetDialog::take_datagram(
        const QByteArray &datagram, const QHostAddress &sender, const QDateTime &heard)
{
    line_time = heard;
    const int known = fleet.find_device(sender);
    if (fleet.take_datagram(datagram, sender)) {
        probe_tally.take(sender);
        if (known >= 0)
            model.refresh_device(known);
    }
    line_time = QDateTime();
}

void FleetDialog::refresh_checklist()
{
    const FleetPreflight file_system =
            FleetEngine::preflight(DeviceMessages::file_for(DeviceMessages::file_system_type()));
    const FleetPreflight firmware =
            FleetEngine::preflight(DeviceMessages::file_for(DeviceMessages::firmware_type()));
    ui->folder_label->setText(file_system.folder);
    ui->file_system_file_label->setText(FleetChecklist::file_text(file_system));
    ui->firmware_file_label->setText(FleetChecklist::file_text(firmware));
    const QStringList addresses = FleetChecklist::local_addresses(transport.address_entries());
    ui->addresses_label->setText(addresses.isEmpty() ? QStringLiteral("无 (没有IPv4网络)")
                                                     : addresses.join(QLatin1Char('\n')));

    const quint16 http_port = services.http_port ? services.http_port() : 0;
    const bool listening = !services.http_listening || services.http_listening();
    const bool bound = !services.udp_bound || services.udp_bound();
    ui->ports_label->setText(
            QStringLiteral("UDP %1 %2\nHTTP %3 %4")
                    .arg(DeviceMessages::local_port)
                    .arg(bound ? QStringLiteral("已绑定") : QStringLiteral("未绑定"))
                    .arg(http_port)
                    .arg(listening ? QStringLiteral("正在监听") : QStringLiteral("未监听")));
    ui->firewall_text->setPlainText(
            FleetChecklist::firewall_lines(DeviceMessages::local_port, http_port));

    const QString server_refusal =
            listening ? QString() : QStringLiteral("HTTP服务未启动(端口%1)").arg(http_port);
    file_system_refusal =
            server_refusal.isEmpty() ? FleetChecklist::refusal(file_system) : server_refusal;
    firmware_refusal =
            server_refusal.isEmpty() ? FleetChecklist::refusal(firmware) : server_refusal;
    update_controls();
}

void FleetDialog::showEvent(QShowEvent *event)
{
    refresh_checklist();
    QWidget::showEvent(event);
    keep_on_screen();
}

// Coming back from the MiniFs window, the image may be new.
void FleetDialog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refresh_checklist();
    QWidget::changeEvent(event);
}

void FleetDialog::on_search_button_clicked()
{
    const int networks = fleet.search();
    if (networks == 0)
        log(QStringLiteral("没有可广播的IPv4网络, 请按IP添加设备"));
    else
        log(QStringLiteral("搜索设备: %1 个网络").arg(networks));
}

void FleetDialog::on_add_address_button_clicked()
{
    const QList<QHostAddress> addresses = DeviceAddressPrompt::ask(this);
    if (addresses.isEmpty())
        return;
    fleet.probe(addresses);
    log(QStringLiteral("探测 %1 个地址").arg(addresses.size()));
    if (probe_tally.is_open())
        log(probe_tally.finish());
    probe_tally.start(addresses);
    probe_timer.start();
}

void FleetDialog::on_select_all_button_clicked()
{
    ui->device_table_view->selectAll();
    ui->device_table_view->setFocus();
}

void FleetDialog::on_retry_failed_button_clicked()
{
    QItemSelection rows;
    for (int device : qAsConst(last_failed)) {
        const QModelIndex row = sorted.mapFromSource(model.index(device, 0));
        rows.select(row, row);
    }
    ui->device_table_view->selectionModel()->select(
            rows, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ui->device_table_view->setFocus();
}

void FleetDialog::on_firmware_button_clicked()
{
    start_run(DeviceMessages::firmware_type());
}

void FleetDialog::on_file_system_button_clicked()
{
    start_run(DeviceMessages::file_system_type());
}

void FleetDialog::on_stop_button_clicked()
{
    log(QStringLiteral("停止: 不再发送新命令, 正在下载的设备照常结束"));
    stopping = true;
    fleet.stop();
    if (fleet.is_running())
        ui->run_status->set_full_text(QStringLiteral("停止中: 等待进行中的设备结束…"));
    update_controls();
}

void FleetDialog::on_save_log_button_clicked()
{
    log_menu->saveChosen();
}

void FleetDialog::on_history_button_clicked()
{
    if (!history_view)
        history_view.reset(new FleetHistoryView(recorder.history(), this));
    history_view->reload();
    history_view->show();
    history_view->raise();
    history_view->activateWindow();
}

void FleetDialog::on_report_button_clicked()
{
    const FleetRunRecord &record = recorder.last();
    const QString suggested = QDir::home().filePath(
            QStringLiteral("升级报告-%1.csv")
                    .arg(record.started.toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path = choose_report
            ? choose_report(this, suggested)
            : QFileDialog::getSaveFileName(this, QStringLiteral("导出报告"), suggested,
                    QStringLiteral("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!FleetReport::write(path, record, &error)) {
        log(QStringLiteral("导出报告失败: ") + error);
        show_warning(
                QStringLiteral("<font size=16>导出报告失败!</font><br>") + error.toHtmlEscaped());
        return;
    }
    log(QStringLiteral("报告已导出: %1 (%2 台)")
                    .arg(QDir::toNativeSeparators(path))
                    .arg(record.devices.size()));
}

void FleetDialog::on_refresh_button_clicked()
{
    refresh_checklist();
}

void FleetDialog::start_run(const QString &type)
{
    const QVector<int> devices = selected_devices();
    if (devices.isEmpty()) {
        show_warning(QStringLiteral("<font size=16>请选择设备!</font>"));
        return;
    }
    const FleetSettings settings = settings_from_boxes();
    FleetEngine::Run run;
    run.type = type;
    run.http_port = services.http_port ? services.http_port() : 0;
    run.file_name = DeviceMessages::file_for(type);
    settings.apply_to(&run);
    log(QStringLiteral("第 %1 次: ").arg(model.run_count() + 1)
            + QStringLiteral("%1 %2 台: %3, 并行 %4, 超时 %5 秒, 重试 %6 次, 重启确认 %7")
                      .arg(type == DeviceMessages::firmware_type() ? QStringLiteral("固件升级")
                                                                   : QStringLiteral("文件更新"))
                      .arg(devices.size())
                      .arg(run.file_name)
                      .arg(run.parallel)
                      .arg(settings.timeout_seconds)
                      .arg(settings.retries)
                      .arg(settings.confirm_seconds > 0
                                      ? QStringLiteral("%1 秒").arg(settings.confirm_seconds)
                                      : QStringLiteral("关闭"))
            + rollout_text(run));
    QString error;
    starting = true;
    const bool started = fleet.start(run, devices, &error);
    starting = false;
    if (!started) {
        log(QStringLiteral("无法开始: ") + error);
        refresh_checklist();
        show_warning(QStringLiteral("<font size=16>无法开始!</font><br>") + error.toHtmlEscaped());
        return;
    }
    stopping = false;
    if (fleet.is_running()) {
        model.run_started(devices);
        elapsed_timer.start();
        ui->run_status->set_full_text(QStringLiteral("升级中…"));
    }
    update_controls();
}

QVector<int> FleetDialog::selected_devices() const
{
    QVector<int> devices;
    // In the table's order: the first rows are a run's canaries.
    QModelIndexList rows = ui->device_table_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
            [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    for (const QModelIndex &row : qAsConst(rows))
        devices << sorted.device(row.row());
    return devices;
}

FleetSettings FleetDialog::settings_from_boxes() const
{
    FleetSettings settings;
    settings.parallel = ui->parallel_box->value();
    settings.timeout_seconds = ui->timeout_box->value();
    settings.retries = ui->retries_box->value();
    settings.confirm_seconds = ui->confirm_box->value();
    settings.canary = ui->canary_box->value();
    settings.max_failures.value = ui->failure_budget_box->value();
    settings.max_failures.percent = ui->failure_unit_box->currentIndex() == percent_unit;
    settings.skip_version_on = ui->skip_version_check->isChecked();
    settings.skip_version = ui->skip_version_edit->text();
    return settings;
}

void FleetDialog::load_settings()
{
    const FleetSettings settings = FleetSettings::load(ProgramPaths::settings_file());
    ui->parallel_box->setValue(settings.parallel);
    ui->timeout_box->setValue(settings.timeout_seconds);
    ui->retries_box->setValue(settings.retries);
    ui->confirm_box->setValue(settings.confirm_seconds);
    ui->canary_box->setValue(settings.canary);
    ui->failure_unit_box->setCurrentIndex(settings.max_failures.percent ? percent_unit : 0);
    bound_failure_budget();
    ui->failure_budget_box->setValue(settings.max_failures.value);
    ui->skip_version_check->setChecked(settings.skip_version_on);
    ui->skip_version_edit->setText(settings.skip_version);
}

// A percentage goes up to 100.
void FleetDialog::bound_failure_budget()
{
    ui->failure_budget_box->setMaximum(ui->failure_unit_box->currentIndex() == percent_unit
                    ? FailureBudget::whole_percent
                    : FailureBudget::max_value);
}

// The run's rollout settings for its first log line; empty when none is on.
QString FleetDialog::rollout_text(const FleetEngine::Run &run)
{
    QString text;
    if (run.canary > 0)
        text += QStringLiteral(", 先试 %1 台").arg(run.canary);
    if (run.max_failures.is_on())
        text += QStringLiteral(", 失败上限 %1")
                        .arg(run.max_failures.percent
                                        ? run.max_failures.text()
                                        : QStringLiteral("%1 台").arg(run.max_failures.value));
    if (!run.skip_version.isEmpty())
        text += QStringLiteral(", 跳过 ver %1").arg(run.skip_version);
    return text;
}

void FleetDialog::save_settings() const
{
    settings_from_boxes().save(ProgramPaths::settings_file());
}

void FleetDialog::run_finished(const FleetEngine::Summary &summary)
{
    // Every device was up to date: the run ended before start() returned.
    if (starting)
        model.run_started(summary.devices);
    elapsed_timer.stop();
    model.refresh_elapsed();
    const QString line = model.summary_line(summary);
    log(QStringLiteral("第 %1 次: ").arg(model.run_count()) + line);
    ui->run_status->set_full_text(line);
    last_failed.clear();
    for (int device : summary.devices) {
        if (fleet.run().failed(fleet.device(device).state))
            last_failed << device;
    }
    // The run's result stands whether or not the history takes it.
    QString history_error;
    recorder.finish(summary, &history_error);
    if (!history_error.isEmpty())
        log(QStringLiteral("注意: 历史记录未保存: ") + history_error);
    if (history_view)
        history_view->reload();
    update_controls();
}

void FleetDialog::update_controls()
{
    const bool running = fleet.is_running();
    ui->firmware_button->setEnabled(!running && firmware_refusal.isEmpty());
    ui->file_system_button->setEnabled(!running && file_system_refusal.isEmpty());
    const QString fetch = QStringLiteral("选中的设备下载 ");
    ui->firmware_button->setToolTip(firmware_refusal.isEmpty()
                    ? fetch + DeviceMessages::file_for(DeviceMessages::firmware_type())
                    : firmware_refusal);
    ui->file_system_button->setToolTip(file_system_refusal.isEmpty()
                    ? fetch + DeviceMessages::file_for(DeviceMessages::file_system_type())
                    : file_system_refusal);
    ui->stop_button->setEnabled(running && !stopping);
    ui->report_button->setEnabled(!running && recorder.has_record());
    for (QWidget *box : std::initializer_list<QWidget *>{ ui->parallel_box, ui->timeout_box,
                 ui->retries_box, ui->confirm_box, ui->canary_box, ui->failure_budget_box,
                 ui->failure_unit_box, ui->skip_version_check })
        box->setEnabled(!running);
    ui->skip_version_edit->setEnabled(!running && ui->skip_version_check->isChecked());
    ui->retry_failed_button->setEnabled(!running && !last_failed.isEmpty());

    QStringList reasons;
    if (!file_system_refusal.isEmpty() && file_system_refusal == firmware_refusal) {
        reasons << QStringLiteral("无法升级: ") + file_system_refusal;
    } else {
        if (!file_system_refusal.isEmpty())
            reasons << QStringLiteral("文件更新不可用: ") + file_system_refusal;
        if (!firmware_refusal.isEmpty())
            reasons << QStringLiteral("固件升级不可用: ") + firmware_refusal;
    }
    ui->blocked_label->setText(reasons.join(QLatin1Char('\n')));
    ui->blocked_label->setVisible(!reasons.isEmpty());
}

// A window wider or taller than its screen hides its panel and buttons, and
// maximising would not bring them back.
void FleetDialog::keep_on_screen()
{
    const QRect available = screen()->availableGeometry();
    setMaximumSize(available.size());
    if (width() > available.width() || height() > available.height())
        resize(size().boundedTo(available.size()));
}

void FleetDialog::log(const QString &line)
{
    const QDateTime time = line_time.isValid() ? line_time : QDateTime::currentDateTime();
    ui->log_box->appendPlainText(time.toString(log_time_format) + QLatin1Char(' ') + line);
    if (line_time.isValid())
        log_menu->setLastLineTime(line_time);
}

void FleetDialog::show_warning(const QString &text)
{
    NoticeBox::warning(this, text);
}
