#include "eventline.h"

#include <QString>
#include <QTextStream>

void print_event(const QString &line)
{
    static QTextStream out(stdout);
    out << line << Qt::endl;
}
