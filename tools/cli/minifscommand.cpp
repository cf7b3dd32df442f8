#include "commands.h"

#include <QTextStream>

int minifsCommand(const QStringList &)
{
    QTextStream(stderr) << "ondaspa-cli: the minifs commands are not built yet\n";
    return 2;
}
