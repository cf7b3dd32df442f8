#include "foldercompressor.h"

#include "adpcm.h"
#include "soundlogging.h"
#include "wavheader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QDir::Filters listFilter = QDir::Files | QDir::Hidden | QDir::NoSymLinks;
const QDir::SortFlags listOrder = QDir::Name | QDir::IgnoreCase;

// Replaces to by from in one step, whether or not to exists. QFile::rename
// refuses an existing target, and removing it first would leave a moment
// with neither file. No sync to disk: it would cost more than encoding the
// file, and the replacement alone already keeps a failed write from
// touching the earlier file. Returns the system's reason on failure, else an
// empty text.
QString replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                MOVEFILE_REPLACE_EXISTING))
        return QString();
    return qt_error_string(int(GetLastError()));
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return QString();
    return qt_error_string(errno);
#endif
}

// Creates a new file with a short unique name in folder, the way any new file
// is created (mode 0666 less the umask, or the folder's default ACL), so an
// output that replaces nothing gets the permissions the user's other new
// files get: group-writable in a shared folder.
bool openNewUniqueFile(const QString &folder, QFile &file)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        file.setFileName(folder + QStringLiteral("/.ondaspa-")
                + QString::number(QRandomGenerator::global()->generate(), 36));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (!file.exists())
            return false; // not a name clash: the folder refuses new files
    }
    return false;
}

// The log line of a file that checkPcm() refused.
QString refusalLine(WavHeader::PcmVerdict verdict, const QString &name, qint64 length)
{
    switch (verdict) {
    case WavHeader::TooShort:
        return QStringLiteral("压缩:%1(%2bytes) 失败").arg(name).arg(length);
    case WavHeader::NotMono:
        return QStringLiteral("压缩:%1失败:非单声道音频!").arg(name);
    case WavHeader::RateTooHigh:
        return QStringLiteral("压缩:%1失败:采样率大于16Khz!").arg(name);
    case WavHeader::Unsupported:
    case WavHeader::PcmAccepted:
        break;
    }
    return QStringLiteral("压缩:%1失败:格式不支持!").arg(name);
}

} // namespace

FolderCompressor::FolderCompressor(const QString &outputFolder, Reporter *reporter)
    : output_folder(outputFolder), reporter(reporter)
{
}

QString FolderCompressor::defaultOutputFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/sound");
}

FolderCompressor::Outcome FolderCompressor::run(const QString &folderPath)
{
    qCDebug(soundLog) << "adpcm_coder_start";
    success_count = 0;
    failure_count = 0;
    if (folderPath.isEmpty()) {
        reporter->code(CodePathEmpty, QString());
        return PathEmpty;
    }
    const QDir folder(folderPath);
    if (!folder.exists())
        return FolderMissing;
    const QStringList names = folder.entryList(listFilter, listOrder);

    reporter->line(QStringLiteral("开始压缩:"));
    qCDebug(soundLog) << "path:" << output_folder;
    if (!QDir(output_folder).exists()) {
        const bool created = QDir().mkpath(output_folder);
        qCDebug(soundLog) << "新建目录是否成功" << created;
        if (!created)
            return OutputFolderFailed;
    }

    input.resize(maxInputBytes + 1);
    for (const QString &name : names) {
        if (reporter->stopRequested())
            return Stopped;
        compressFile(folder.filePath(name));
    }
    input = std::vector<char>();
    output = std::vector<char>();

    reporter->line(QStringLiteral("压缩结束:"));
    reporter->line(QStringLiteral("压缩成功文件数:%1个").arg(success_count));
    reporter->line(QStringLiteral("压缩失败文件数:%1个").arg(failure_count));
    const int present = QDir(output_folder).entryList(listFilter, listOrder).size();
    reporter->line(QStringLiteral("文件夹中文件数:%1个").arg(present));
    reporter->code(CodeFinished, QString());
    return Finished;
}

void FolderCompressor::fail(const QString &text)
{
    qCDebug(soundLog) << text;
    reporter->line(text);
    ++failure_count;
}

void FolderCompressor::compressFile(const QString &filePath)
{
    const QString name = QFileInfo(filePath).fileName();
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // However large the file, at most one buffer is read: enough to tell a
    // refused file's format, and one byte past the limit also catches a file
    // that grew after its size was taken.
    const qint64 size = file.size();
    const qint64 length = file.read(input.data(), maxInputBytes + 1);
    file.close();
    if (size > maxInputBytes || length > maxInputBytes) {
        reporter->line(QStringLiteral("压缩音频大于1Mbytes,请裁剪!"));
        reporter->refused(
                name, qMax(size, length), WavHeader::locate(input.data(), qMax<qint64>(length, 0)));
        return;
    }
    if (length < 0)
        return;
    WavHeader::Layout layout;
    const WavHeader::PcmVerdict verdict = WavHeader::checkPcm(input.data(), length, &layout);
    if (verdict != WavHeader::PcmAccepted) {
        fail(refusalLine(verdict, name, length));
        reporter->refused(name, length, layout);
        return;
    }

    const int sampleCount = layout.sampleCount();
    qCDebug(soundLog) << name << "Subchunk2Size:" << layout.declaredDataBytes;
    output.resize(headerBytes + (sampleCount + 1) / 2);
    AdpcmState state = { 0, 0 };
    // The samples are coded in place: little-endian, as on every host the
    // program is built for, and aligned, as every chunk starts at an even
    // offset.
    const int dataBytes = adpcm_coder(
            reinterpret_cast<const qint16 *>(input.data() + layout.dataOffset), sampleCount,
            reinterpret_cast<unsigned char *>(output.data() + headerBytes), &state);
    qCDebug(soundLog) << name << "Subchunk2Size OK";

    WavHeader::writeCompressed(layout.format, static_cast<quint32>(dataBytes), output.data());

    const QString targetPath = output_folder + QLatin1Char('/') + name;
    qCDebug(soundLog) << "path:" << targetPath;
    if (!writeOutput(targetPath, name, dataBytes))
        return;
    ++success_count;
    const QString done =
            QStringLiteral("压缩:%1 >> %2bytes 成功").arg(name).arg(headerBytes + dataBytes);
    qCDebug(soundLog) << done;
    reporter->line(done);
}

bool FolderCompressor::writeAndFlush(QFileDevice &file, const char *data, qint64 size)
{
    for (qint64 written = 0; written < size;) {
        const qint64 count = file.write(data + written, size - written);
        if (count <= 0)
            return false;
        written += count;
    }
    for (qint64 pending = file.bytesToWrite(); !file.flush();) {
        const qint64 left = file.bytesToWrite();
        if (left == 0 || left >= pending)
            return false;
        pending = left;
    }
    return true;
}

bool FolderCompressor::writeOutput(const QString &targetPath, const QString &name, int dataBytes)
{
    // The new content goes to a temporary file beside the target and replaces
    // it only once complete, so a failed write never destroys the earlier file
    // (the user's original WAV when the input folder is the output folder).
    // That replacement would also pass over a read-only target, so the
    // target's own permission is checked first.
    const QFileInfo target(targetPath);
    // A short name, so a target name near the length limit still fits.
    QFile file;
    // The C library's texts: qt_error_string() takes a system error code on
    // Windows, not an errno value.
    QString reason;
    if (target.exists() && target.isDir())
        reason = QString::fromLocal8Bit(std::strerror(EISDIR));
    else if (target.exists() && !target.isWritable())
        reason = QString::fromLocal8Bit(std::strerror(EACCES));
    else if (!openNewUniqueFile(output_folder, file))
        reason = file.errorString();
    if (!reason.isEmpty()) {
        reportWriteFailure(targetPath, reason);
        reporter->code(CodeOpenFailed, targetPath);
        ++failure_count;
        return false;
    }
    // A flush that writes only part (a full disk) is not always reported, so
    // the size on disk is the proof.
    const qint64 total = headerBytes + dataBytes;
    if (!writeAndFlush(file, output.data(), total))
        reason = file.errorString();
    else if (file.size() != total)
        reason = QStringLiteral("%1 of %2 bytes written").arg(file.size()).arg(total);
    file.close();
    // A replaced file keeps its permissions; a new one keeps those it was
    // created with.
    if (reason.isEmpty() && target.exists() && !file.setPermissions(target.permissions()))
        reason = file.errorString();
    if (reason.isEmpty())
        reason = replaceFile(file.fileName(), targetPath);
    if (!reason.isEmpty()) {
        file.remove();
        reportWriteFailure(targetPath, reason);
        fail(QStringLiteral("压缩:%1失败:写入失败!").arg(name));
        return false;
    }
    return true;
}

void FolderCompressor::reportWriteFailure(const QString &targetPath, const QString &reason)
{
    qCDebug(soundLog) << "write failed:" << targetPath << reason;
    reporter->writeFailed(targetPath, reason);
}
