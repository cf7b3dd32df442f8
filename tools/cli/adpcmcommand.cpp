#include "commands.h"

#include <QTextStream>

int adpcmCommand(const QStringList &)
{
    QTextStream(stderr) << "ondaspa-cli: the adpcm commands are not built yet\n";
    return 2;
}
