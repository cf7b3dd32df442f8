#ifndef WIDGET_H
#define WIDGET_H

#include "minifs.h"
#include "sound.h"
#include "upgrade.h"

#include <QWidget>

namespace Ui {
class Widget;
}

// The launcher: owns the three tool windows for the whole run and shows one
// of them at a time. Tool windows are separate top-level windows, only hidden
// when closed, so their state survives.
class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

    // Constructed first: the HTTP server start-up needs its port and handler.
    upgrade upgrade_window;

private slots:
    void on_minifs_on_start_clicked();
    void on_sound_chg_start_clicked();
    void on_update_on_start_clicked();

private:
    void show_tool(QWidget &tool_window);

    Ui::Widget *ui;
    minifs minifs_window;
    sound sound_window;
};

#endif // WIDGET_H
