#include "widget.h"
#include "ui_widget.h"

#include "windowcodec.h"

Widget::Widget(QWidget *parent) : QWidget(parent), ui(new Ui::Widget)
{
    set_window_codec();
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Ondaspa v1.0.9"));
    setWindowFlags(Qt::WindowCloseButtonHint);
}

Widget::~Widget()
{
    delete ui;
}

void Widget::on_minifs_on_start_clicked()
{
    show_tool(minifs_window);
}

void Widget::on_sound_chg_start_clicked()
{
    show_tool(sound_window);
}

void Widget::on_update_on_start_clicked()
{
    show_tool(upgrade_window);
}

// Connected anew on every press (as the tool contract expects); a repeated
// show() of the visible launcher does nothing.
void Widget::show_tool(QWidget &tool_window)
{
    tool_window.show();
    hide();
    connect(&tool_window, SIGNAL(ExitWin()), this, SLOT(show()));
}
