#include "sound.h"

#include <QCloseEvent>

sound::sound(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("音频压缩工具"));
    setWindowFlags(Qt::WindowCloseButtonHint);
    resize(423, 574);
}

void sound::closeEvent(QCloseEvent *event)
{
    emit ExitWin();
    event->accept();
}
