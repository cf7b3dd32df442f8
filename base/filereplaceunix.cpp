// FileReplace on Unix: the rename alone.

#include "filereplace.h"

#include <QSaveFile>

FileReplace::Result FileReplace::commit(QSaveFile &file, QString *reason)
{
    if (file.commit())
        return Replaced;
    *reason = file.errorString();
    return Failed;
}
