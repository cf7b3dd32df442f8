#include "sound.h"
#include "ui_sound.h"

#include "foldercompressor.h"
#include "logboxmenu.h"
#include "noticebox.h"
#include "programpaths.h"
#include "soundlogging.h"
#include "spthread.h"
#include "windowcodec.h"

#include <QCloseEvent>
#include <QSettings>

sound::sound(QWidget *parent)
    : QWidget(parent), settings(nullptr), ui(new Ui::sound), worker(nullptr),
      choose_folder(&choose_folder_in_dialog)
{
    set_window_codec();
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("音频压缩工具"));
    setWindowFlags(Qt::WindowCloseButtonHint);

    settings = new QSettings(ProgramPaths::settings_file(), QSettings::IniFormat);
    ui->path_sound->setText(settings->value(QStringLiteral("SOUND_PATH")).toString());
    LogBoxMenu::attach(ui->sound_debug_box);

    worker = new SPThread(this);
    connect(worker, SIGNAL(ui_string_debug(QString)), this, SLOT(ui_string_debug(QString)));
    connect(worker, SIGNAL(ui_code_stop(int)), this, SLOT(ui_code_stop(int)));
    connect(this, SIGNAL(start_code_proc(QString)), worker, SLOT(start_code_proc(QString)));
    worker->start(QThread::InheritPriority);
}

sound::~sound()
{
    delete worker;
    delete ui;
    delete settings;
}

void sound::setFolderChooser(FolderChooser chooser)
{
    choose_folder = std::move(chooser);
}

void sound::closeEvent(QCloseEvent *event)
{
    emit ExitWin();
    event->accept();
}

void sound::on_sound_choice_clicked()
{
    const QString folder =
            choose_folder(this, QStringLiteral("请选择目标文件夹位置..."), ui->path_sound->text());
    if (folder.isEmpty())
        return;
    ui->path_sound->setText(folder);
    settings->setValue(QStringLiteral("SOUND_PATH"), folder);
}

void sound::on_sound_start_clicked()
{
    ui->sound_start->setEnabled(false);
    emit start_code_proc(ui->path_sound->text());
}

// By value, as the window's slot is declared to match the worker's signal.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void sound::ui_string_debug(QString text)
{
    if (text == QStringLiteral("开始压缩:"))
        ui->sound_debug_box->clear();
    ui->sound_debug_box->appendPlainText(text);
}

void sound::ui_code_stop(int code)
{
    switch (code) {
    case SPThread::code_run_over:
        ui->sound_start->setEnabled(true);
        break;
    case FolderCompressor::CodePathEmpty:
        NoticeBox::warning(this, QStringLiteral("<font size=16>当前路径未设置！</font>"));
        break;
    case FolderCompressor::CodeOpenFailed:
        if (open_failure_box_shown) {
            ++open_failures_while_shown;
            qCDebug(soundLog) << "open failed, box already shown:" << open_failures_while_shown;
            break;
        }
        open_failure_box_shown = true;
        open_failures_while_shown = 0;
        NoticeBox::warning(this, QStringLiteral("<font size=16>打开失败!</font>"));
        open_failure_box_shown = false;
        break;
    case FolderCompressor::CodeFinished:
        NoticeBox::information(this, QStringLiteral("<font size=16>压缩结束!</font>"));
        break;
    default:
        break;
    }
}
