#include "servedfolder.h"

#include "programpaths.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QVector>

namespace {

QMutex provider_lock;

ServedFolder::Provider &provider()
{
    static ServedFolder::Provider current;
    return current;
}

QString from_settings()
{
    QSettings settings(ProgramPaths::settings_file(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("UPDATE"));
    return ProgramPaths::html_folder(settings.value(QStringLiteral("QZPATH")).toString());
}

} // namespace

QString ServedFolder::current()
{
    // Called outside the lock: the provider may be slow (it reads a file).
    Provider chosen;
    {
        QMutexLocker locker(&provider_lock);
        chosen = provider();
    }
    return chosen ? chosen() : from_settings();
}

void ServedFolder::set_provider(Provider chosen)
{
    QMutexLocker locker(&provider_lock);
    provider() = std::move(chosen);
}

bool ServedFolder::holds(const QString &folder, const QString &path)
{
    if (path.contains(QLatin1Char('\\')))
        return false;
    const QVector<QStringRef> segments = path.splitRef(QLatin1Char('/'));
    for (const QStringRef &segment : segments) {
        if (segment == QLatin1String(".."))
            return false;
    }
    const QString root = QDir::cleanPath(folder);
    const QString target = QDir::cleanPath(folder + path);
    return target == root || target.startsWith(root + QLatin1Char('/'));
}
