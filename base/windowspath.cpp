#include "windowspath.h"

#include <QDir>
#include <QFileInfo>

std::wstring WindowsPath::long_name(const QString &path)
{
    // The prefix turns off the system's own clean-up of the name, so it is done here.
    const QString native =
            QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith(QLatin1String("\\\\")))
        return (QLatin1String("\\\\?\\UNC\\") + native.midRef(2)).toStdWString();
    return (QLatin1String("\\\\?\\") + native).toStdWString();
}
