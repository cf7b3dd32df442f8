#include "devicemessages.h"
#include "fittedlabel.h"
#include "fleetdialog.h"
#include "fleethistory.h"
#include "fleethistoryview.h"
#include "fleettabledelegate.h"
#include "logboxmenu.h"
#include "logtime.h"
#include "manualfleetclock.h"
#include "modalboxcatcher.h"
#include "programpaths.h"
#include "recordingfleettransport.h"
#include "servedfolder.h"
#include "wiringguard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int image_size = 1000;

QHostAddress device_address(int device)
{
    return QHostAddress(QStringLiteral("198.18.0.%1").arg(10 + device));
}

// The file service's report of device's whole download of the image.
DownloadReport whole_download(int device)
{
    DownloadReport sent;
    sent.peer = device_address(device);
    sent.method = "GET";
    sent.path = QStringLiteral("/minifs_rom.img");
    sent.bytes_sent = image_size;
    sent.file_size = image_size;
    sent.outcome = DownloadReport::Outcome::Complete;
    return sent;
}

} // namespace

// The dialog without a network: commands go to a recording transport, the
// served folder and config.ini live in a temporary folder.
class tst_FleetDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void wiringHasNoWarnings();
    void preflightPanel_data();
    void preflightPanel();
    void settingsRoundTrip();
    void runOfSelectedDevicesEndsWithSummary();
    void summaryFitsItsLines_data();
    void summaryFitsItsLines();
    void longSummaryKeepsDialogWidth();
    void sortedRowsStartTheirDevices();
    void selectionKeepsStateColours();
    void historyAndReportOfRun();
    void rolloutSettingsRoundTrip();
    void retryFailedSelectsExactlyThem();

private:
    std::unique_ptr<FleetDialog> make_dialog(bool listening = true);
    // minifs_rom.img in the served folder; false when it cannot be written.
    bool write_image();
    // count devices, "ver" 1.0, named by name with their number.
    static void add_devices(FleetDialog &dialog, int count, const QString &name);
    template <typename T> T *child(FleetDialog &dialog, const char *name)
    {
        T *found = dialog.findChild<T *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }

    QTemporaryDir work;
    ModalBoxCatcher boxes;
    ManualFleetClock clock;
    RecordingFleetTransport transport;
};

void tst_FleetDialog::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY(QDir::setCurrent(work.path()));
    // The runs go to a history of the test's own.
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("data")).toUtf8());
    QNetworkAddressEntry lan;
    lan.setIp(QHostAddress(QStringLiteral("192.0.2.5")));
    lan.setPrefixLength(24);
    QNetworkAddressEntry loopback;
    loopback.setIp(QHostAddress(QHostAddress::LocalHost));
    loopback.setPrefixLength(8);
    transport.entries = { loopback, lan };
}

void tst_FleetDialog::init()
{
    QDir(work.filePath(QStringLiteral("html"))).removeRecursively();
    QVERIFY(QDir(work.path()).mkdir(QStringLiteral("html")));
    ServedFolder::set_provider([this] { return work.filePath(QStringLiteral("html")); });
    QFile::remove(ProgramPaths::settings_file());
    boxes.clear();
    transport.sent.clear();
}

void tst_FleetDialog::cleanup()
{
    ServedFolder::set_provider(nullptr);
}

std::unique_ptr<FleetDialog> tst_FleetDialog::make_dialog(bool listening)
{
    return std::unique_ptr<FleetDialog>(new FleetDialog(transport,
            { [] { return quint16(81); }, [listening] { return listening; }, [] { return true; } },
            &clock));
}

bool tst_FleetDialog::write_image()
{
    QFile image(work.filePath(QStringLiteral("html/minifs_rom.img")));
    return image.open(QIODevice::WriteOnly)
            && image.write(QByteArray(image_size, 'x')) == qint64(image_size);
}

void tst_FleetDialog::add_devices(FleetDialog &dialog, int count, const QString &name)
{
    for (int device = 0; device < count; ++device)
        dialog.engine().add_device(
                name.arg(device), QStringLiteral("1.0"), QString(), device_address(device));
}

void tst_FleetDialog::wiringHasNoWarnings()
{
    WiringGuard guard;
    const auto dialog = make_dialog();
    QVERIFY2(guard.problems().isEmpty(), qPrintable(guard.problems().join('\n')));
}

void tst_FleetDialog::preflightPanel_data()
{
    QTest::addColumn<QString>("image"); // "file", "folder" (unreadable) or "" (missing)
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("reason");

    QTest::newRow("present")
            << "file" << true
            << "minifs_rom.img: 1000 字节\nSHA-256 44f8354494a5ba03ba1792a8d3e9c534\n"
               "c47a9181980fde7a3f44b06ef2ae7c7f\n修改于 "
            << true << "";
    QTest::newRow("missing") << "" << true << "未找到 minifs_rom.img" << false
                             << "文件更新不可用: 未找到 minifs_rom.img";
    QTest::newRow("unreadable") << "folder" << true << "无法读取 minifs_rom.img (" << false
                                << "文件更新不可用: 无法读取 minifs_rom.img (";
    QTest::newRow("serverDown") << "file" << false << "minifs_rom.img: 1000 字节" << false
                                << "无法升级: HTTP服务未启动(端口81)";
}

void tst_FleetDialog::preflightPanel()
{
    QFETCH(QString, image);
    QFETCH(bool, listening);
    const QString path = work.filePath(QStringLiteral("html/minifs_rom.img"));
    if (image == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(QByteArray(image_size, 'x')), qint64(image_size));
    } else if (image == QLatin1String("folder")) {
        // Unreadable even for root, who reads files whatever their mode.
        QVERIFY(QDir().mkpath(path));
    }
    const auto dialog = make_dialog(listening);

    QFETCH(QString, shown);
    QVERIFY2(child<QLabel>(*dialog, "file_system_file_label")->text().startsWith(shown),
            qPrintable(child<QLabel>(*dialog, "file_system_file_label")->text()));
    QFETCH(bool, enabled);
    QCOMPARE(child<QPushButton>(*dialog, "file_system_button")->isEnabled(), enabled);
    QFETCH(QString, reason);
    const QString blocked = child<QLabel>(*dialog, "blocked_label")->text();
    QVERIFY2(blocked.startsWith(reason), qPrintable(blocked));
    // No firmware.bin in any case.
    QVERIFY(!child<QPushButton>(*dialog, "firmware_button")->isEnabled());
    QCOMPARE(child<QLabel>(*dialog, "firmware_file_label")->text(),
            QStringLiteral("未找到 firmware.bin"));

    QCOMPARE(child<QLabel>(*dialog, "folder_label")->text(), work.filePath("html"));
    QCOMPARE(child<QLabel>(*dialog, "addresses_label")->text(), QStringLiteral("192.0.2.5/24"));
    QCOMPARE(child<QLabel>(*dialog, "ports_label")->text(),
            listening ? QStringLiteral("UDP 15724 已绑定\nHTTP 81 正在监听")
                      : QStringLiteral("UDP 15724 已绑定\nHTTP 81 未监听"));
    const QString firewall = child<QPlainTextEdit>(*dialog, "firewall_text")->toPlainText();
#ifdef Q_OS_WIN
    QVERIFY(firewall.contains(QStringLiteral("netsh advfirewall firewall add rule name=\"Ondaspa "
                                             "UDP 15724\" dir=in action=allow protocol=UDP "
                                             "localport=15724\n")));
    QVERIFY(firewall.endsWith(QStringLiteral("protocol=TCP localport=81")));
#else
    QVERIFY(firewall.contains(QStringLiteral("ufw allow 15724/udp\nufw allow 81/tcp\n")));
    QVERIFY(firewall.contains(QStringLiteral("firewall-cmd --permanent --add-port=81/tcp")));
#endif
}

void tst_FleetDialog::settingsRoundTrip()
{
    {
        const auto dialog = make_dialog();
        QCOMPARE(child<QSpinBox>(*dialog, "parallel_box")->value(), 8);
        QCOMPARE(child<QSpinBox>(*dialog, "confirm_box")->text(), QStringLiteral("关闭"));
        child<QSpinBox>(*dialog, "parallel_box")->setValue(4);
        child<QSpinBox>(*dialog, "timeout_box")->setValue(5);
        child<QSpinBox>(*dialog, "retries_box")->setValue(0);
        child<QSpinBox>(*dialog, "confirm_box")->setValue(30);
    }
    {
        QSettings file(ProgramPaths::settings_file(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("FLEET/PARALLEL")).toInt(), 4);
        QCOMPARE(file.value(QStringLiteral("FLEET/TIMEOUT")).toInt(), 5);
        QCOMPARE(file.value(QStringLiteral("FLEET/RETRIES")).toInt(), 0);
        QCOMPARE(file.value(QStringLiteral("FLEET/CONFIRM")).toInt(), 30);
    }
    const auto again = make_dialog();
    QCOMPARE(child<QSpinBox>(*again, "parallel_box")->value(), 4);
    QCOMPARE(child<QSpinBox>(*again, "timeout_box")->value(), 5);
    QCOMPARE(child<QSpinBox>(*again, "retries_box")->value(), 0);
    QCOMPARE(child<QSpinBox>(*again, "confirm_box")->value(), 30);
    {
        // A hand-edited file cannot ask for more than the server can serve.
        QSettings file(ProgramPaths::settings_file(), QSettings::IniFormat);
        file.setValue(QStringLiteral("FLEET/PARALLEL"), 500);
        file.setValue(QStringLiteral("FLEET/TIMEOUT"), -3);
    }
    const auto edited = make_dialog();
    QCOMPARE(child<QSpinBox>(*edited, "parallel_box")->value(), FleetSettings::max_parallel);
    QCOMPARE(child<QSpinBox>(*edited, "timeout_box")->value(), 1);
}

void tst_FleetDialog::runOfSelectedDevicesEndsWithSummary()
{
    QVERIFY(write_image());
    const auto dialog = make_dialog();
    add_devices(*dialog, 3, QStringLiteral("SN-%1"));
    child<QSpinBox>(*dialog, "timeout_box")->setValue(5);
    child<QSpinBox>(*dialog, "retries_box")->setValue(0);
    auto *start = child<QPushButton>(*dialog, "file_system_button");

    start->click();
    QCOMPARE(boxes.texts(), QStringList{ QStringLiteral("<font size=16>请选择设备!</font>") });
    QVERIFY(transport.sent.isEmpty());

    auto *view = child<QTableView>(*dialog, "device_table_view");
    for (int row : { 0, 2 })
        view->selectionModel()->select(view->model()->index(row, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    start->click();
    QCOMPARE(transport.sent.size(), 2);
    QCOMPARE(transport.count_to(device_address(0), "\"type\": \"fs\""), 1);
    QCOMPARE(transport.count_to(device_address(2), "\"type\": \"fs\""), 1);
    QVERIFY(!start->isEnabled());
    QVERIFY(child<QPushButton>(*dialog, "stop_button")->isEnabled());
    QVERIFY(!child<QSpinBox>(*dialog, "parallel_box")->isEnabled());

    dialog->engine().take_report(whole_download(0));
    clock.advance(5000);

    const QString summary = QStringLiteral("成功 1 台, 失败 1 台: SN-2 (用时 0:05)");
    QCOMPARE(child<QLabel>(*dialog, "run_status")->toolTip(), summary);
    QVERIFY(start->isEnabled());
    QVERIFY(!child<QPushButton>(*dialog, "stop_button")->isEnabled());
    const QStringList lines =
            child<QPlainTextEdit>(*dialog, "log_box")->toPlainText().split(QLatin1Char('\n'));
    const QRegularExpression timed(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\S"));
    for (const QString &line : lines)
        QVERIFY2(timed.match(line).hasMatch(), qPrintable(line));
    QVERIFY(lines.last().endsWith(summary));
    QVERIFY(lines.filter(QStringLiteral("SN-2 (198.18.0.12) 无响应")).size() == 1);
    // A saved log says how the run was set.
    QCOMPARE(lines.filter(QStringLiteral("文件更新 2 台: minifs_rom.img, 并行 8, 超时 5 秒, 重试 0 "
                                         "次, 重启确认 关闭"))
                     .size(),
            1);

    const QString saved = work.filePath(QStringLiteral("fleet.txt"));
    dialog->findChild<LogBoxMenu *>()->setFileChooser(
            [&](QWidget *, const QString &, const QString &) { return saved; });
    child<QPushButton>(*dialog, "save_log_button")->click();
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // One full time per line, as the other windows save, in place of the one shown.
    const QStringList saved_lines = QString::fromUtf8(file.readAll()).trimmed().split('\n');
    QCOMPARE(saved_lines.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(saved_lines.at(i).mid(LogTime::format().size()), lines.at(i).mid(8));
    QCOMPARE(boxes.texts().size(), 1);
}

void tst_FleetDialog::summaryFitsItsLines_data()
{
    QTest::addColumn<int>("names");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("elided");
    QTest::newRow("short") << 1 << 1 << false;
    QTest::newRow("wraps") << 12 << 2 << false;
    QTest::newRow("elided") << 200 << FittedLabel::max_lines << true;
}

void tst_FleetDialog::summaryFitsItsLines()
{
    QFETCH(int, names);
    QStringList failed;
    for (int name = 0; name < names; ++name)
        failed << QStringLiteral("FLT-%1").arg(name, 2, 10, QLatin1Char('0'));
    const QString text = QStringLiteral("成功 5 台, 失败 %1 台: ").arg(names)
            + failed.join(QStringLiteral(", ")) + QStringLiteral(" (已停止, 用时 1:00)");
    const QFont font;
    const QFontMetrics metrics(font);
    // Room for some twelve names a line.
    const int width = metrics.horizontalAdvance(QStringLiteral("FLT-00, ")) * 12;
    const QStringList fitted =
            FittedLabel::fit(text, font, width, FittedLabel::max_lines).split(QLatin1Char('\n'));

    QFETCH(int, lines);
    QCOMPARE(fitted.size(), lines);
    for (const QString &line : fitted)
        QVERIFY2(metrics.horizontalAdvance(line) <= width, qPrintable(line));
    QFETCH(bool, elided);
    QCOMPARE(fitted.last().endsWith(QStringLiteral("…")), elided);
    // Broken at spaces, nothing lost.
    if (!elided)
        QCOMPARE(fitted.join(QString()).remove(QLatin1Char(' ')),
                QString(text).remove(QLatin1Char(' ')));
}

// A stopped run of many failures: the summary wraps and is cut in the dialog,
// whole in its tool tip and the log, and the dialog keeps its width.
void tst_FleetDialog::longSummaryKeepsDialogWidth()
{
    QVERIFY(write_image());
    const auto dialog = make_dialog();
    constexpr int fleet = 60;
    add_devices(*dialog, fleet, QStringLiteral("FLEET-DEVICE-%1"));
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    const int width = dialog->width();
    const int least = dialog->minimumSizeHint().width();
    child<QSpinBox>(*dialog, "parallel_box")->setValue(FleetSettings::max_parallel);
    child<QSpinBox>(*dialog, "timeout_box")->setValue(5);
    child<QSpinBox>(*dialog, "retries_box")->setValue(0);
    child<QPushButton>(*dialog, "select_all_button")->click();
    child<QPushButton>(*dialog, "file_system_button")->click();
    child<QPushButton>(*dialog, "stop_button")->click();
    clock.advance(5000);

    auto *status = child<FittedLabel>(*dialog, "run_status");
    const QString summary = status->toolTip();
    QVERIFY2(summary.startsWith(QStringLiteral("成功 0 台, 失败 32 台: FLEET-DEVICE-0, ")),
            qPrintable(summary));
    QVERIFY(summary.endsWith(QStringLiteral(", 未开始 28 台 (已停止, 用时 0:05)")));
    QVERIFY(status->text().split(QLatin1Char('\n')).size() <= FittedLabel::max_lines);
    QVERIFY(status->text().endsWith(QStringLiteral("…")));
    QVERIFY(child<QPlainTextEdit>(*dialog, "log_box")->toPlainText().endsWith(summary));
    QTest::qWait(50);
    QCOMPARE(dialog->width(), width);
    QVERIFY2(dialog->minimumSizeHint().width() <= least,
            qPrintable(QString::number(dialog->minimumSizeHint().width())));
    // Brought inside the screen as far as its content allows, and that fits
    // a screen 1280 pixels wide.
    const QRect available = dialog->screen()->availableGeometry();
    QVERIFY(dialog->height() <= available.height());
    QVERIFY(dialog->width() <= qMax(available.width(), least));
    QVERIFY2(least < 1280, qPrintable(QString::number(least)));
}

// A row chosen in a sorted table starts the device it shows.
void tst_FleetDialog::sortedRowsStartTheirDevices()
{
    QVERIFY(write_image());
    const auto dialog = make_dialog();
    add_devices(*dialog, 3, QStringLiteral("SN-%1"));
    auto *view = child<QTableView>(*dialog, "device_table_view");
    QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("SN-0"));
    view->sortByColumn(FleetTableModel::SerialColumn, Qt::DescendingOrder);
    QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("SN-2"));
    view->selectRow(0);
    child<QPushButton>(*dialog, "file_system_button")->click();
    QCOMPARE(transport.sent.size(), 1);
    QCOMPARE(transport.count_to(device_address(2), "\"type\": \"fs\""), 1);
}

namespace {

class OpenDelegate : public FleetTableDelegate
{
public:
    using FleetTableDelegate::FleetTableDelegate;
    using FleetTableDelegate::initStyleOption;
};

} // namespace

// 全选 selects a whole run: its states keep their colours.
void tst_FleetDialog::selectionKeepsStateColours()
{
    QStandardItemModel rows(2, FleetTableModel::ColumnCount);
    rows.setData(rows.index(0, FleetTableModel::StateColumn), int(FleetDevice::State::NoAnswer),
            FleetTableModel::StateRole);
    rows.setData(rows.index(1, FleetTableModel::StateColumn), int(FleetDevice::State::Listed),
            FleetTableModel::StateRole);
    OpenDelegate delegate;
    QStyleOptionViewItem failed;
    failed.state |= QStyle::State_Selected;
    const QColor selection = failed.palette.color(QPalette::Highlight);
    delegate.initStyleOption(&failed, rows.index(0, FleetTableModel::StateColumn));
    QCOMPARE(failed.palette.color(QPalette::HighlightedText),
            FleetTableDelegate::state_colour(rows.index(0, FleetTableModel::StateColumn)));
    QCOMPARE(failed.palette.color(QPalette::HighlightedText), QColor(210, 0, 0));
    QVERIFY(failed.palette.color(QPalette::Highlight).lightness() > selection.lightness());
    QStyleOptionViewItem listed;
    delegate.initStyleOption(&listed, rows.index(1, FleetTableModel::StateColumn));
    QCOMPARE(listed.palette.color(QPalette::Highlight), selection);
}

// Each run goes to the history, which 历史记录 shows with its devices; 导出报告… writes the
// latest run as CSV where the chooser says, and a place it cannot write is a warning box.
void tst_FleetDialog::historyAndReportOfRun()
{
    QFile::remove(FleetHistory::default_path());
    QVERIFY(write_image());
    const auto dialog = make_dialog();
    auto *report = child<QPushButton>(*dialog, "report_button");
    QVERIFY(!report->isEnabled());
    add_devices(*dialog, 2, QStringLiteral("报告-%1"));
    child<QSpinBox>(*dialog, "timeout_box")->setValue(5);
    child<QSpinBox>(*dialog, "retries_box")->setValue(0);
    child<QPushButton>(*dialog, "select_all_button")->click();
    child<QPushButton>(*dialog, "file_system_button")->click();
    QVERIFY(!report->isEnabled());
    clock.advance(5000);
    QVERIFY(report->isEnabled());
    QCOMPARE(FleetHistory().read().runs.size(), 1);

    child<QPushButton>(*dialog, "history_button")->click();
    auto *view = dialog->findChild<FleetHistoryView *>();
    QVERIFY(view && view->isVisible());
    auto *runs = view->findChild<QTableView *>(QStringLiteral("run_table_view"));
    auto *devices = view->findChild<QTableView *>(QStringLiteral("run_device_table_view"));
    QCOMPARE(runs->model()->rowCount(), 1);
    QCOMPARE(runs->model()->index(0, FleetHistoryModel::FailedColumn).data().toInt(), 2);
    QCOMPARE(devices->model()->rowCount(), 2);
    QCOMPARE(devices->model()->index(1, FleetRunDevicesModel::StateColumn).data().toString(),
            QStringLiteral("无响应"));

    QString suggested;
    QString chosen = work.filePath(QStringLiteral("报告.csv"));
    dialog->set_report_chooser([&](QWidget *, const QString &offered) {
        suggested = offered;
        return chosen;
    });
    report->click();
    QVERIFY(suggested.endsWith(QStringLiteral(".csv")));
    QFile file(chosen);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    QVERIFY(csv.startsWith("\xEF\xBB\xBFstarted,"));
    QCOMPARE(csv.count("\r\n"), 3);
    QVERIFY(QString::fromUtf8(csv).contains(QStringLiteral(",报告-1,198.18.0.11,1.0,,no answer,")));
    QVERIFY(boxes.texts().isEmpty());

    chosen = work.filePath(QStringLiteral("missing/报告.csv"));
    report->click();
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY2(boxes.texts().first().startsWith(QStringLiteral("<font size=16>导出报告失败!</font>")),
            qPrintable(boxes.texts().first()));

    // A second run shows in the open view at once, newest first.
    child<QPushButton>(*dialog, "file_system_button")->click();
    clock.advance(5000);
    QCOMPARE(runs->model()->rowCount(), 2);
}

void tst_FleetDialog::rolloutSettingsRoundTrip()
{
    {
        const auto dialog = make_dialog();
        QCOMPARE(child<QSpinBox>(*dialog, "canary_box")->text(), QStringLiteral("关闭"));
        QCOMPARE(child<QSpinBox>(*dialog, "failure_budget_box")->text(), QStringLiteral("不限"));
        QVERIFY(!child<QLineEdit>(*dialog, "skip_version_edit")->isEnabled());
        child<QSpinBox>(*dialog, "canary_box")->setValue(2);
        child<QComboBox>(*dialog, "failure_unit_box")->setCurrentIndex(1);
        // A percentage stops at 100.
        child<QSpinBox>(*dialog, "failure_budget_box")->setValue(250);
        child<QCheckBox>(*dialog, "skip_version_check")->setChecked(true);
        QVERIFY(child<QLineEdit>(*dialog, "skip_version_edit")->isEnabled());
        child<QLineEdit>(*dialog, "skip_version_edit")->setText(QStringLiteral("2.0"));
    }
    {
        QSettings file(ProgramPaths::settings_file(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("FLEET/CANARY")).toInt(), 2);
        QCOMPARE(file.value(QStringLiteral("FLEET/MAX_FAILURES")).toString(),
                QStringLiteral("100%"));
        QCOMPARE(file.value(QStringLiteral("FLEET/SKIP_VERSION_ON")).toBool(), true);
        QCOMPARE(
                file.value(QStringLiteral("FLEET/SKIP_VERSION")).toString(), QStringLiteral("2.0"));
    }
    const auto again = make_dialog();
    QCOMPARE(child<QSpinBox>(*again, "canary_box")->value(), 2);
    QCOMPARE(child<QSpinBox>(*again, "failure_budget_box")->value(), 100);
    QCOMPARE(child<QComboBox>(*again, "failure_unit_box")->currentIndex(), 1);
    QVERIFY(child<QCheckBox>(*again, "skip_version_check")->isChecked());
    QCOMPARE(child<QLineEdit>(*again, "skip_version_edit")->text(), QStringLiteral("2.0"));
}

// The table's order picks the canary; the device already at the version gets nothing, and
// 重试失败的设备 selects the two that did not answer, nothing else.
void tst_FleetDialog::retryFailedSelectsExactlyThem()
{
    QVERIFY(write_image());
    const auto dialog = make_dialog();
    add_devices(*dialog, 4, QStringLiteral("SN-%1"));
    dialog->engine().add_device(
            QStringLiteral("SN-4"), QStringLiteral("2.0"), QString(), device_address(4));
    child<QSpinBox>(*dialog, "timeout_box")->setValue(5);
    child<QSpinBox>(*dialog, "retries_box")->setValue(0);
    child<QSpinBox>(*dialog, "canary_box")->setValue(1);
    child<QCheckBox>(*dialog, "skip_version_check")->setChecked(true);
    child<QLineEdit>(*dialog, "skip_version_edit")->setText(QStringLiteral("2.0"));
    auto *retry = child<QPushButton>(*dialog, "retry_failed_button");
    QVERIFY(!retry->isEnabled());
    auto *view = child<QTableView>(*dialog, "device_table_view");
    view->sortByColumn(FleetTableModel::SerialColumn, Qt::DescendingOrder);
    view->selectAll();
    child<QPushButton>(*dialog, "file_system_button")->click();
    QCOMPARE(transport.sent.size(), 1);
    QCOMPARE(transport.count_to(device_address(3), "\"type\": \"fs\""), 1);

    const auto complete = [&dialog](int device) {
        dialog->engine().take_report(whole_download(device));
    };
    complete(3);
    QCOMPARE(transport.sent.size(), 4);
    complete(1);
    clock.advance(5000);
    QVERIFY(!dialog->engine().is_running());
    QVERIFY2(child<QLabel>(*dialog, "run_status")
                     ->toolTip()
                     .contains(QStringLiteral("已是最新 1 台")),
            qPrintable(child<QLabel>(*dialog, "run_status")->toolTip()));
    QCOMPARE(view->model()->index(0, FleetTableModel::StateColumn).data().toString(),
            QStringLiteral("已是最新"));

    QVERIFY(retry->isEnabled());
    retry->click();
    QStringList selected;
    for (const QModelIndex &row : view->selectionModel()->selectedRows())
        selected << row.data().toString();
    selected.sort();
    QCOMPARE(selected, (QStringList{ "SN-0", "SN-2" }));
}

QTEST_MAIN(tst_FleetDialog)
#include "tst_fleetdialog.moc"
