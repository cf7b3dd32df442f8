#ifndef SOUND_H
#define SOUND_H

#include "folderchooser.h"

#include <QWidget>

class QSettings;
class SPThread;

namespace Ui {
class sound;
}

// The audio compression window: chooses a folder and hands it to its worker
// thread, then shows the worker's lines and turns its status codes into
// message boxes. GUI thread only.
class sound : public QWidget
{
    Q_OBJECT

public:
    explicit sound(QWidget *parent = nullptr);
    // Stops and waits for the worker before anything it reports to is freed.
    ~sound() override;

    // Replaces the file dialog, so the chooser can be driven without a user.
    void setFolderChooser(FolderChooser chooser);

signals:
    void ExitWin();
    void start_code_proc(QString);

private slots:
    void on_sound_choice_clicked();
    void on_sound_start_clicked();
    void ui_string_debug(QString);
    void ui_code_stop(int);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QSettings *settings;
    Ui::sound *ui;
    SPThread *worker;
    FolderChooser choose_folder;
    // True while the "open failed" box is up: a folder of many unwritable
    // targets then raises one box, not one nested box per file.
    bool open_failure_box_shown = false;
    int open_failures_while_shown = 0;
};

#endif // SOUND_H
