#include "minifs.h"

#include <QCloseEvent>

minifs::minifs(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("MiniFs合成工具"));
    setWindowFlags(Qt::WindowCloseButtonHint);
    resize(423, 574);
}

void minifs::closeEvent(QCloseEvent *event)
{
    emit ExitWin();
    event->accept();
}
