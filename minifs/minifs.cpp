#include "minifs.h"
#include "ui_minifs.h"

#include "logboxmenu.h"
#include "minifsbuilder.h"
#include "minifsbuildlistener.h"
#include "minifslogging.h"
#include "noticebox.h"
#include "programpaths.h"
#include "windowcodec.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTimer>

namespace {

// Delay between the press of the start button and the build, so the
// disabled button is painted before the build blocks the event loop.
constexpr int startDelayMilliseconds = 100;

const char pathKey[] = "MINIFS_PATH";

// Shows the build's progress in the window's log box.
class LogBox : public MiniFsBuildListener
{
public:
    explicit LogBox(QPlainTextEdit *box) : box(box) { }

    void logCleared() override { box->clear(); }
    void logLine(const QString &line) override { box->appendPlainText(line); }
    void debugLine(const QString &line) override { qCDebug(minifsLog).noquote() << line; }

private:
    QPlainTextEdit *box;
};

QString boxText(const QString &text)
{
    return QStringLiteral("<font size=16>") + text + QStringLiteral("</font>");
}

} // namespace

minifs::minifs(QWidget *parent)
    : QWidget(parent), settings(nullptr), ui(new Ui::minifs), timer(nullptr),
      choose_folder(&choose_folder_in_dialog)
{
    set_window_codec();
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("MiniFs合成工具"));
    setWindowFlags(Qt::WindowCloseButtonHint);
    settings = new QSettings(ProgramPaths::settings_file(), QSettings::IniFormat);
    ui->path_minifs->setText(settings->value(QLatin1String(pathKey)).toString());
    LogBoxMenu::attach(ui->minifs_debug_box);
    timer = new QTimer(this);
    timer->setInterval(startDelayMilliseconds);
    connect(timer, SIGNAL(timeout()), this, SLOT(minifs_start()));
    timer->stop();
}

minifs::~minifs()
{
    delete settings;
    delete ui;
}

void minifs::setFolderChooser(FolderChooser chooser)
{
    choose_folder = std::move(chooser);
}

void minifs::closeEvent(QCloseEvent *event)
{
    emit ExitWin();
    event->accept();
}

void minifs::on_minifs_choice_clicked()
{
    const QString folder =
            choose_folder(this, QStringLiteral("请选择目标文件夹位置..."), ui->path_minifs->text());
    if (folder.isEmpty())
        return;
    ui->path_minifs->setText(folder);
    settings->setValue(QLatin1String(pathKey), folder);
}

void minifs::on_minifs_start_clicked()
{
    timer->start();
    ui->minifs_start->setEnabled(false);
}

void minifs::minifs_start()
{
    timer->stop();
    LogBox log(ui->minifs_debug_box);
    MiniFsBuilder builder(log);
    const QString folder = ui->path_minifs->text();
    const QString imagePath =
            MiniFsBuilder::defaultImagePath(QCoreApplication::applicationDirPath());
    const MiniFsBuilder::Outcome outcome =
            builder.build(folder, ui->minifs_version->text(), imagePath);
    if (outcome == MiniFsBuilder::FolderMissing)
        log.logLine(QStringLiteral("文件夹不存在：") + QDir::toNativeSeparators(folder));
    if (outcome == MiniFsBuilder::Built)
        NoticeBox::information(this, boxText(QStringLiteral("合成成功!")));
    else if (!MiniFsBuilder::warningText(outcome).isEmpty())
        NoticeBox::warning(this, boxText(MiniFsBuilder::warningText(outcome)));
    ui->minifs_start->setEnabled(true);
}
