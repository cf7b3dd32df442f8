#include "fleethistory.h"

#include "filereplace.h"
#include "regularfile.h"
#include "wholewrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QStandardPaths>

namespace {

// How long an append waits for another program's append, in ms; each takes milliseconds.
constexpr int lock_wait_ms = 5000;

QString write_error(const QString &path, const QString &reason)
{
    return QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

// The complete lines of content, oldest first; a last line without its line feed is torn.
QList<QByteArray> complete_lines(const QByteArray &content)
{
    QList<QByteArray> lines = content.split('\n');
    lines.removeLast();
    return lines;
}

} // namespace

FleetHistory::FleetHistory(const QString &path) : file_path(path) { }

QString FleetHistory::default_path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/ondaspa/fleet-history.jsonl");
}

bool FleetHistory::append(const FleetRunRecord &record, QString *error) const
{
    const QString folder = QFileInfo(file_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = write_error(file_path, QStringLiteral("cannot create the folder ") + folder);
        return false;
    }
    QLockFile lock(file_path + QStringLiteral(".lock"));
    if (!lock.tryLock(lock_wait_ms)) {
        *error = write_error(file_path,
                lock.error() == QLockFile::LockFailedError
                        ? QStringLiteral("another program holds its lock")
                        : QStringLiteral("cannot create its lock file"));
        return false;
    }

    QByteArray content;
    QFile existing;
    if (QFileInfo::exists(file_path)) {
        if (!RegularFile::open(existing, file_path)) {
            *error = write_error(file_path, existing.errorString());
            return false;
        }
        content = existing.readAll();
        existing.close();
    }
    const QByteArray line = QJsonDocument(record.to_json()).toJson(QJsonDocument::Compact) + '\n';
    const QList<QByteArray> lines = complete_lines(content);

    if (lines.size() < max_runs && content.size() + 1 + line.size() <= max_bytes) {
        QFile file(file_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            *error = write_error(file_path, file.errorString());
            return false;
        }
        // After a torn line the record starts a line of its own.
        const QByteArray written = content.isEmpty() || content.endsWith('\n') ? line : '\n' + line;
        if (!WholeWrite::write(&file, written.constData(), written.size())) {
            *error = write_error(file_path, file.errorString());
            return false;
        }
        return true;
    }

    // The newest runs that fit beside the new one; torn lines go.
    QByteArray kept = line;
    int runs = 1;
    for (int at = lines.size() - 1; at >= 0 && runs < max_runs; --at) {
        const QByteArray &older = lines.at(at);
        if (!QJsonDocument::fromJson(older).isObject())
            continue;
        if (kept.size() + older.size() + 1 > max_bytes)
            break;
        kept.prepend(older + '\n');
        ++runs;
    }
    QString reason;
    if (!FileReplace::write_whole(file_path, kept, &reason)) {
        *error = write_error(file_path, reason);
        return false;
    }
    return true;
}

FleetHistory::Reading FleetHistory::read() const
{
    Reading reading;
    if (!QFileInfo::exists(file_path))
        return reading;
    QFile file;
    if (!RegularFile::open(file, file_path)) {
        reading.error = QStringLiteral("cannot read %1: %2")
                                .arg(QDir::toNativeSeparators(file_path), file.errorString());
        return reading;
    }
    const QByteArray content = file.readAll();
    for (const QByteArray &line : content.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        FleetRunRecord record;
        if (FleetRunRecord::from_json(QJsonDocument::fromJson(line).object(), &record))
            reading.runs.append(record);
        else
            ++reading.skipped_lines;
    }
    return reading;
}
