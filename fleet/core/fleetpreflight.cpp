#include "fleetpreflight.h"
#include "servedfolder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {

// Bytes read per step while hashing; the file is never held whole.
constexpr qint64 hash_block_size = 65536;

} // namespace

FleetPreflight FleetPreflight::check(const QString &folder, const QString &file_name)
{
    FleetPreflight result;
    result.folder = folder;
    result.file_name = file_name.startsWith(QLatin1Char('/')) ? file_name.mid(1) : file_name;
    result.path = folder + QLatin1Char('/') + result.file_name;
    const auto refuse = [&result](Problem problem, const QString &reason = QString()) {
        result.problem = problem;
        result.reason = reason;
        return result;
    };
    if (result.file_name.isEmpty())
        return refuse(Problem::NoName);
    // The devices' request path is the name below the served folder: the
    // file service would refuse one that climbs out of it.
    if (!ServedFolder::holds(folder, QLatin1Char('/') + result.file_name))
        return refuse(Problem::LeavesFolder);
    if (!QFileInfo(folder).isDir())
        return refuse(Problem::NoFolder);
    const QFileInfo info(result.path);
    if (!info.exists())
        return refuse(Problem::NoSuchFile);
    // Opening a FIFO or a device could block or never end.
    if (!info.isFile())
        return refuse(Problem::NotRegularFile);
    QFile file(result.path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(Problem::Unreadable, file.errorString());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 total = 0;
    while (!file.atEnd()) {
        const QByteArray block = file.read(hash_block_size);
        if (block.isEmpty() && file.error() != QFileDevice::NoError)
            return refuse(Problem::Unreadable, file.errorString());
        if (block.isEmpty())
            break;
        hash.addData(block);
        total += block.size();
    }
    result.ok = true;
    result.size = total;
    result.sha256 = hash.result().toHex();
    result.modified = info.lastModified();
    return result;
}

QString FleetPreflight::problem_text() const
{
    switch (problem) {
    case Problem::None:
        break;
    case Problem::NoName:
        return QStringLiteral("no file named");
    case Problem::LeavesFolder:
        return QStringLiteral("%1: the name leaves the served folder").arg(file_name);
    case Problem::NoFolder:
        if (QFileInfo::exists(folder))
            return QStringLiteral("%1: not a folder").arg(folder);
        return QStringLiteral("%1: the served folder does not exist").arg(folder);
    case Problem::NoSuchFile:
        return QStringLiteral("%1: no such file").arg(path);
    case Problem::NotRegularFile:
        return QStringLiteral("%1: not a regular file").arg(path);
    case Problem::Unreadable:
        return QStringLiteral("%1: cannot be read: %2").arg(path, reason);
    }
    return QString();
}
