#ifndef MINIFS_H
#define MINIFS_H

#include "folderchooser.h"

#include <QWidget>

class QSettings;
class QTimer;

namespace Ui {
class minifs;
}

// The MiniFs builder window: a folder, a version text and a start button,
// with the build's progress in a log box. A top-level tool window that
// emits ExitWin() on every close; closing only hides it. GUI thread only.
class minifs : public QWidget
{
    Q_OBJECT

public:
    explicit minifs(QWidget *parent = nullptr);
    ~minifs() override;

    // Replaces the native directory chooser.
    void setFolderChooser(FolderChooser chooser);

signals:
    void ExitWin();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_minifs_choice_clicked();
    void on_minifs_start_clicked();
    void minifs_start();

private:
    QSettings *settings;
    Ui::minifs *ui;
    QTimer *timer;
    FolderChooser choose_folder;
};

#endif // MINIFS_H
