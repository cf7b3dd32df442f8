#include "settingsfolder.h"

#include "programpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

bool SettingsFolder::is_writable(const QString &folder)
{
    const QString name = QFileInfo(ProgramPaths::settings_file()).fileName();
    const QString path = QDir(folder).filePath(name);
    if (QFileInfo::exists(path)) {
        // Opened for writing without truncation: the settings stay as they are.
        QFile file(path);
        return file.open(QIODevice::ReadWrite);
    }
    QTemporaryFile probe(path + QStringLiteral(".XXXXXX"));
    return probe.open();
}

QString SettingsFolder::choose(const QString &working, const QString &per_user)
{
    if (is_writable(working))
        return working;
    if (!per_user.isEmpty() && QDir().mkpath(per_user) && is_writable(per_user))
        return per_user;
    return working;
}

QString SettingsFolder::per_user_folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
}

QString SettingsFolder::apply()
{
    if (!moves_when_unwritable)
        return QString();
    QString working = QDir::currentPath();
    const QString chosen = choose(working, per_user_folder());
    if (QDir::cleanPath(chosen) == QDir::cleanPath(working) || !QDir::setCurrent(chosen))
        return QString();
    return working;
}
