#include "fleetpreflight.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {

// Bytes read per step while hashing; the file is never held whole.
constexpr qint64 hash_block_size = 65536;

// The devices' request path is the name below the served folder: a name that
// climbs out of it or holds a backslash names nothing the service would send.
bool stays_inside(const QString &name)
{
    if (name.contains(QLatin1Char('\\')))
        return false;
    const QStringList segments = name.split(QLatin1Char('/'));
    for (const QString &segment : segments) {
        if (segment == QLatin1String(".."))
            return false;
    }
    return true;
}

} // namespace

FleetPreflight FleetPreflight::check(const QString &folder, const QString &file_name)
{
    FleetPreflight result;
    result.folder = folder;
    result.file_name = file_name.startsWith(QLatin1Char('/')) ? file_name.mid(1) : file_name;
    result.path = folder + QLatin1Char('/') + result.file_name;
    if (result.file_name.isEmpty()) {
        result.error = QStringLiteral("no file named");
        return result;
    }
    if (!stays_inside(result.file_name)) {
        result.error = QStringLiteral("%1: the name leaves the served folder").arg(file_name);
        return result;
    }
    if (!QFileInfo(folder).isDir()) {
        result.error = QStringLiteral("%1: the served folder does not exist").arg(folder);
        return result;
    }
    const QFileInfo info(result.path);
    if (!info.exists()) {
        result.error = QStringLiteral("%1: no such file").arg(result.path);
        return result;
    }
    // Opening a FIFO or a device could block or never end.
    if (!info.isFile()) {
        result.error = QStringLiteral("%1: not a regular file").arg(result.path);
        return result;
    }
    QFile file(result.path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error =
                QStringLiteral("%1: cannot be read: %2").arg(result.path, file.errorString());
        return result;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 total = 0;
    while (!file.atEnd()) {
        const QByteArray block = file.read(hash_block_size);
        if (block.isEmpty() && file.error() != QFileDevice::NoError) {
            result.error =
                    QStringLiteral("%1: cannot be read: %2").arg(result.path, file.errorString());
            return result;
        }
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
