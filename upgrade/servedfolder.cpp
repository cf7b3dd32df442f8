#include "servedfolder.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSettings>

namespace {

// Inside a macOS bundle the program's folder ends in this; the served folder
// lies beside the bundle, not inside it.
const QLatin1String bundle_name("/tavirex_tools.app");

QMutex provider_lock;

ServedFolder::Provider &provider()
{
    static ServedFolder::Provider current;
    return current;
}

QString from_settings()
{
    QSettings settings(QStringLiteral("./config.ini"), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("UPDATE"));
    return ServedFolder::beside_program(settings.value(QStringLiteral("QZPATH")).toString());
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

QString ServedFolder::beside_program(const QString &program_folder)
{
    const int bundle = program_folder.indexOf(bundle_name);
    return (bundle < 0 ? program_folder : program_folder.left(bundle)) + QStringLiteral("/html");
}

void ServedFolder::set_provider(Provider chosen)
{
    QMutexLocker locker(&provider_lock);
    provider() = std::move(chosen);
}
