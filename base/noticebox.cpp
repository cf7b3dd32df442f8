#include "noticebox.h"

#include <QMessageBox>

namespace {

QString title()
{
    return QStringLiteral("提示");
}

} // namespace

void NoticeBox::warning(QWidget *parent, const QString &text)
{
    QMessageBox::warning(parent, title(), text);
}

void NoticeBox::information(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, title(), text);
}
