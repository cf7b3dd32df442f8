#include "regularfile.h"

#include <QFile>
#include <QFileInfo>

bool RegularFile::open(QFile &file, const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    // The name may have been replaced since the check; an open that cannot
    // block, checked afterwards, closes that gap.
    return open_native(file, path, true);
}

bool RegularFile::open_listed(QFile &file, const QString &path)
{
    return open_native(file, path, false);
}
