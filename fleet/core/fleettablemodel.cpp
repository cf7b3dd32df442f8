#include "fleettablemodel.h"
#include "fleetclock.h"

#include <QStringList>

namespace {

using State = FleetDevice::State;

// Seconds in a minute, for the elapsed column.
constexpr qint64 seconds_per_minute = 60;

} // namespace

FleetTableModel::FleetTableModel(
        const FleetEngine &engine, const FleetClock &clock, QObject *parent)
    : QAbstractTableModel(parent), engine(engine), clock(clock), rows(engine.device_count())
{
    connect(&engine, &FleetEngine::device_added, this, &FleetTableModel::device_added);
    connect(&engine, &FleetEngine::state_changed, this, [this](int index) { row_changed(index); });
    connect(&engine, &FleetEngine::progress_changed, this, [this](int index) {
        const QModelIndex cell = this->index(index, ProgressColumn);
        emit dataChanged(cell, cell);
    });
    connect(&engine, &FleetEngine::versions_known, this, [this](int index) { row_changed(index); });
    connect(&engine, &FleetEngine::run_finished, this, &FleetTableModel::run_finished);
}

int FleetTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows;
}

int FleetTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FleetTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows)
        return QVariant();
    const FleetDevice &device = engine.device(index.row());
    const bool queued = device.state == State::Listed && in_run.contains(index.row());
    // Sent, and the run waits for it to come back from its restart.
    const bool rebooting = device.state == State::FileSent && in_run.contains(index.row())
            && engine.run().confirm_ms > 0;
    if (role == StateRole)
        return int(device.state);
    // No bar until a download has begun: an empty one would read as stuck.
    const bool no_bar = device.state == State::Listed
            || (device.percent == 0 && device.state != State::Downloading);
    if (role == PercentRole && index.column() == ProgressColumn)
        return no_bar ? -1 : device.percent;
    if (role == Qt::TextAlignmentRole && index.column() >= ProgressColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole && index.column() == StateColumn
            && run_labels.contains(index.row())) {
        // Rows outside the latest run keep their results: say from which run.
        QString tip = run_labels.value(index.row());
        if (device.attempts > 0)
            tip += QStringLiteral(", 第 %1 次命令").arg(device.attempts);
        if (!device.path.isEmpty())
            tip += QStringLiteral(", %1, %2 字节").arg(device.path).arg(device.bytes);
        if (device.acknowledged >= 0)
            tip += QStringLiteral(", 设备已确认 %1 字节").arg(device.acknowledged);
        return tip;
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case SerialColumn:
        return device.serial_number;
    case VersionColumn:
        return device.version_after.isEmpty()
                ? device.version
                : device.version + QStringLiteral(" → ") + device.version_after;
    case SoundColumn:
        return device.sound_version;
    case AddressColumn:
        return device.address.toString();
    case StateColumn:
        return rebooting ? QStringLiteral("等待重启") : state_text(device.state, queued);
    case ProgressColumn:
        return no_bar ? QString() : QStringLiteral("%1%").arg(device.percent);
    case ElapsedColumn: {
        if (device.started_ms < 0)
            return QString();
        const qint64 end = device.ended_ms >= 0 ? device.ended_ms : clock.now();
        return elapsed_text(end - device.started_ms);
    }
    default:
        return QVariant();
    }
}

QVariant FleetTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case SerialColumn:
        return QStringLiteral("设备编号");
    case VersionColumn:
        return QStringLiteral("ver");
    case SoundColumn:
        return QStringLiteral("snd");
    case AddressColumn:
        return QStringLiteral("地址");
    case StateColumn:
        return QStringLiteral("状态");
    case ProgressColumn:
        return QStringLiteral("进度");
    case ElapsedColumn:
        return QStringLiteral("用时");
    default:
        return QVariant();
    }
}

void FleetTableModel::run_started(const QVector<int> &device_indexes)
{
    in_run = QSet<int>(device_indexes.cbegin(), device_indexes.cend());
    ++runs;
    for (int device : device_indexes)
        run_labels.insert(
                device, QStringLiteral("第 %1 次升级 (%2)").arg(runs).arg(engine.run().file_name));
    if (rows > 0)
        emit dataChanged(index(0, 0), index(rows - 1, ColumnCount - 1));
}

void FleetTableModel::refresh_device(int index)
{
    if (index >= 0 && index < rows)
        row_changed(index);
}

void FleetTableModel::refresh_elapsed()
{
    for (int row = 0; row < rows; ++row) {
        const FleetDevice &device = engine.device(row);
        if (device.started_ms >= 0 && device.ended_ms < 0) {
            const QModelIndex cell = index(row, ElapsedColumn);
            emit dataChanged(cell, cell);
        }
    }
}

QString FleetTableModel::state_text(FleetDevice::State state, bool queued)
{
    switch (state) {
    case State::Listed:
        return queued ? QStringLiteral("排队") : QStringLiteral("就绪");
    case State::CommandSent:
        return QStringLiteral("等待");
    case State::HeadersAsked:
        return QStringLiteral("擦除");
    case State::Downloading:
        return QStringLiteral("下载");
    case State::FileSent:
        return QStringLiteral("已发送");
    case State::Interrupted:
        return QStringLiteral("中断");
    case State::NoAnswer:
        return QStringLiteral("无响应");
    case State::NotFound:
        return QStringLiteral("未找到");
    case State::Back:
        return QStringLiteral("已重启");
    case State::NotBack:
        return QStringLiteral("未重启");
    case State::NotStarted:
        return QStringLiteral("未开始");
    case State::UpToDate:
        return QStringLiteral("已是最新");
    case State::NotUpgraded:
        return QStringLiteral("版本未变");
    }
    return QString();
}

QString FleetTableModel::elapsed_text(qint64 milliseconds)
{
    const qint64 seconds = qMax<qint64>(0, milliseconds) / FleetClock::milliseconds_per_second;
    return QStringLiteral("%1:%2")
            .arg(seconds / seconds_per_minute)
            .arg(seconds % seconds_per_minute, 2, 10, QLatin1Char('0'));
}

QString FleetTableModel::found_line(int index) const
{
    const FleetDevice &device = engine.device(index);
    QString line = QStringLiteral("发现设备 ") + label(index);
    if (!device.version.isEmpty())
        line += QStringLiteral(" ver ") + device.version;
    if (!device.sound_version.isEmpty())
        line += QStringLiteral(" snd ") + device.sound_version;
    return line;
}

QString FleetTableModel::state_line(int index) const
{
    const FleetDevice &device = engine.device(index);
    QString line = label(index) + QLatin1Char(' ') + state_text(device.state);
    switch (device.state) {
    case State::CommandSent:
        if (device.attempts > 1)
            line += QStringLiteral(" (第 %1 次命令)").arg(device.attempts);
        break;
    case State::FileSent:
    case State::Interrupted:
        line += QStringLiteral(" (%1, %2 字节)").arg(device.path).arg(device.bytes);
        if (device.state == State::FileSent && engine.run().confirm_ms > 0)
            line += QStringLiteral(", 等待重启");
        break;
    case State::NotFound:
        line += QStringLiteral(" (%1)").arg(device.path);
        break;
    case State::Back:
        line += QStringLiteral(", ver %1 → %2").arg(device.version, device.version_after);
        break;
    default:
        break;
    }
    return line;
}

QString FleetTableModel::summary_line(const FleetEngine::Summary &summary) const
{
    QString line =
            QStringLiteral("成功 %1 台, 失败 %2 台").arg(summary.succeeded).arg(summary.failed);
    QStringList failed;
    for (int index : summary.devices) {
        const State state = engine.device(index).state;
        if (engine.run().failed(state))
            failed << engine.device(index).serial_number;
    }
    if (!failed.isEmpty())
        line += QStringLiteral(": ") + failed.join(QStringLiteral(", "));
    if (summary.not_started > 0)
        line += QStringLiteral(", 未开始 %1 台").arg(summary.not_started);
    if (summary.up_to_date > 0)
        line += QStringLiteral(", 已是最新 %1 台").arg(summary.up_to_date);
    if (summary.halt == RolloutGate::Halt::CanaryFailed)
        line += QStringLiteral(", 已中止: 先试设备 %1 %2")
                        .arg(engine.device(summary.halt_device).serial_number,
                                state_text(engine.device(summary.halt_device).state));
    else if (summary.halt == RolloutGate::Halt::TooManyFailures)
        line += QStringLiteral(", 已中止: 失败超过上限 %1 台").arg(summary.allowed_failures);
    QStringList notes;
    if (summary.stopped)
        notes << QStringLiteral("已停止");
    if (summary.elapsed_ms >= 0)
        notes << QStringLiteral("用时 ") + elapsed_text(summary.elapsed_ms);
    if (!notes.isEmpty())
        line += QStringLiteral(" (") + notes.join(QStringLiteral(", ")) + QLatin1Char(')');
    return line;
}

void FleetTableModel::device_added(int index)
{
    beginInsertRows(QModelIndex(), rows, index);
    rows = index + 1;
    endInsertRows();
}

void FleetTableModel::run_finished()
{
    in_run.clear();
    if (rows > 0)
        emit dataChanged(index(0, 0), index(rows - 1, ColumnCount - 1));
}

void FleetTableModel::row_changed(int index)
{
    emit dataChanged(this->index(index, 0), this->index(index, ColumnCount - 1));
}

QString FleetTableModel::label(int index) const
{
    const FleetDevice &device = engine.device(index);
    return device.serial_number + QStringLiteral(" (") + device.address.toString()
            + QLatin1Char(')');
}
