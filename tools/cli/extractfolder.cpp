#include "extractfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Temporary names tried before giving up; each is taken by another file
// only when an earlier extract was cut short.
constexpr int temporaryAttempts = 100;

// Whether anything, a dangling link too, holds path.
bool taken(const QString &path)
{
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

} // namespace

ExtractFolder::ExtractFolder(const QString &path, bool force) : path(path), force(force) { }

QString ExtractFolder::refusal(const QString &name, int index)
{
    const auto earlier = seen.constFind(name);
    if (earlier != seen.constEnd())
        return QStringLiteral("the same name as entry %1").arg(earlier.value());
    seen.insert(name, index);
    const QString target = QDir(path).filePath(name);
    if (force || !taken(target))
        return QString();
    return QFileInfo(target).isSymLink()
            ? QStringLiteral("a link of that name exists in the folder (--force replaces the link)")
            : QStringLiteral("it exists (--force replaces it)");
}

bool ExtractFolder::open_temporary(QFile &file, QString *error)
{
    for (int attempt = 0; attempt < temporaryAttempts; ++attempt) {
        // New only: the open fails on any existing name, a link included.
        file.setFileName(QDir(path).filePath(QStringLiteral(".extract-%1-%2.part")
                                                     .arg(QCoreApplication::applicationPid())
                                                     .arg(attempt)));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return true;
        if (!taken(file.fileName()))
            break;
    }
    *error = file.errorString();
    return false;
}

bool ExtractFolder::place(QFile &file, const QString &name, QString *error)
{
    file.close();
    const QString target = QDir(path).filePath(name);
#ifdef Q_OS_UNIX
    const QByteArray from = QFile::encodeName(file.fileName());
    const QByteArray to = QFile::encodeName(target);
    // rename() replaces a link itself; link() refuses any existing name, so
    // a file that appeared since the check is not overwritten either.
    const bool placed = force
            ? std::rename(from.constData(), to.constData()) == 0
            : ::link(from.constData(), to.constData()) == 0 && ::unlink(from.constData()) == 0;
    if (placed)
        return true;
    *error = qt_error_string(errno);
#else
    // QFile::rename refuses an existing name, as link() does, and takes any name the system
    // can hold, where the C library would go through the ANSI code page.
    if (force)
        QFile::remove(target);
    if (file.rename(target))
        return true;
    *error = file.errorString();
#endif
    QFile::remove(file.fileName());
    return false;
}
