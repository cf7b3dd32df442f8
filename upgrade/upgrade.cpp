#include "upgrade.h"

#include <QCloseEvent>

upgrade::upgrade(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("文件系统及固件升级工具"));
    setWindowFlags(Qt::WindowCloseButtonHint);
    resize(423, 574);
}

void upgrade::closeEvent(QCloseEvent *event)
{
    emit ExitWin();
    event->accept();
}
