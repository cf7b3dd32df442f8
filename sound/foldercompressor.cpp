#include "foldercompressor.h"

#include "adpcm.h"
#include "soundlogging.h"
#include "wavheader.h"
#include "wholewrite.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#ifdef Q_OS_LINUX
#include <sched.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Files coded side by side on one core: enough to keep it busy while each
// file's samples wait on the one before.
constexpr int filesPerCore = 4;
// Most cores a run codes on; more would only hold more files in memory.
constexpr int maxCodingCores = 4;

// The cores this thread may run on.
int usableCores()
{
#ifdef Q_OS_LINUX
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        return CPU_COUNT(&allowed);
#endif
    return QThread::idealThreadCount();
}

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

    coding_cores = qBound(1, usableCores(), maxCodingCores);
    batch_capacity = filesPerCore * coding_cores;
    inputs.assign(size_t(batch_capacity), std::vector<char>(maxInputBytes + 1));
    outputs.resize(size_t(batch_capacity));
    batch.clear();
    batch_accepted = 0;
    for (const QString &name : names) {
        if (reporter->stopRequested())
            return Stopped;
        readFile(folder.filePath(name));
        if (batch_accepted == batch_capacity && !finishBatch())
            return Stopped;
    }
    if (!finishBatch())
        return Stopped;
    inputs = std::vector<std::vector<char>>();
    outputs = std::vector<std::vector<char>>();

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

void FolderCompressor::readFile(const QString &filePath)
{
    const QString name = QFileInfo(filePath).fileName();
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        unreadable(filePath, name, QStringLiteral("无法打开"), file.errorString());
        return;
    }
    std::vector<char> &input = inputs[size_t(batch_accepted)];
    // However large the file, at most one buffer is read: enough to tell a
    // refused file's format, and one byte past the limit also catches a file
    // that grew after its size was taken.
    const qint64 size = file.size();
    const qint64 length = file.read(input.data(), maxInputBytes + 1);
    const QString readError = file.errorString();
    file.close();
    Pending pending;
    pending.name = name;
    if (size > maxInputBytes || length > maxInputBytes) {
        pending.refusal = QStringLiteral("压缩音频大于1Mbytes,请裁剪!");
        pending.size = qMax(size, length);
        pending.layout = WavHeader::locate(input.data(), qMax<qint64>(length, 0));
        batch.push_back(pending);
        return;
    }
    if (length < 0) {
        unreadable(filePath, name, QStringLiteral("无法读取"), readError);
        return;
    }
    const WavHeader::PcmVerdict verdict =
            WavHeader::checkPcm(input.data(), length, &pending.layout);
    if (verdict != WavHeader::PcmAccepted) {
        pending.refusal = refusalLine(verdict, name, length);
        pending.refusalCounts = true;
        pending.size = length;
        batch.push_back(pending);
        return;
    }
    pending.slot = batch_accepted++;
    batch.push_back(pending);
}

void FolderCompressor::unreadable(
        const QString &filePath, const QString &name, const QString &what, const QString &reason)
{
    // A file that vanishes unreported would read as a success of the run.
    Pending pending;
    pending.name = name;
    pending.refusal = QStringLiteral("跳过:%1(%2)").arg(name, what);
    pending.refusalCounts = true;
    pending.path = filePath;
    pending.readError = reason;
    batch.push_back(pending);
}

bool FolderCompressor::finishBatch()
{
    std::vector<AdpcmState> states(size_t(batch_accepted), AdpcmState{ 0, 0 });
    std::vector<AdpcmStream> streams;
    for (const Pending &file : batch) {
        if (file.slot < 0)
            continue;
        const int sampleCount = file.layout.sampleCount();
        qCDebug(soundLog) << file.name << "Subchunk2Size:" << file.layout.declaredDataBytes;
        std::vector<char> &output = outputs[file.slot];
        output.resize(headerBytes + (sampleCount + 1) / 2);
        // The samples are coded in place: little-endian, as on every host the
        // program is built for, and aligned, as every chunk starts at an even
        // offset.
        streams.push_back({ reinterpret_cast<const qint16 *>(
                                    inputs[size_t(file.slot)].data() + file.layout.dataOffset),
                sampleCount, reinterpret_cast<unsigned char *>(output.data() + headerBytes),
                &states[size_t(file.slot)] });
    }
    codeOnCores(streams);

    // Reading ahead is not seen from outside: a stop still ends the run
    // after the last file written and reported.
    for (const Pending &file : batch) {
        if (reporter->stopRequested())
            return false;
        if (file.slot >= 0) {
            writeFile(file);
        } else {
            if (file.refusalCounts)
                fail(file.refusal);
            else
                reporter->line(file.refusal);
            if (file.path.isEmpty())
                reporter->refused(file.name, file.size, file.layout);
            else
                reporter->readFailed(file.path, file.readError);
        }
    }
    batch.clear();
    batch_accepted = 0;
    return true;
}

void FolderCompressor::codeOnCores(const std::vector<AdpcmStream> &streams) const
{
    // Each core takes a share of the files; the outputs are written and
    // reported afterwards in listing order, whichever core finished first.
    const int count = int(streams.size());
    const int share = (count + coding_cores - 1) / qMax(1, coding_cores);
    std::vector<std::thread> helpers;
    for (int first = share; first < count; first += share)
        helpers.emplace_back(
                adpcm_coder_streams, streams.data() + first, qMin(share, count - first));
    adpcm_coder_streams(streams.data(), qMin(share, count));
    for (std::thread &helper : helpers)
        helper.join();
}

void FolderCompressor::writeFile(const Pending &file)
{
    std::vector<char> &output = outputs[file.slot];
    const int dataBytes = int(output.size()) - headerBytes;
    qCDebug(soundLog) << file.name << "Subchunk2Size OK";
    WavHeader::writeCompressed(file.layout.format, static_cast<quint32>(dataBytes), output.data());

    const QString targetPath = output_folder + QLatin1Char('/') + file.name;
    qCDebug(soundLog) << "path:" << targetPath;
    if (!writeOutput(targetPath, file.name, output))
        return;
    ++success_count;
    const QString done =
            QStringLiteral("压缩:%1 >> %2bytes 成功").arg(file.name).arg(output.size());
    qCDebug(soundLog) << done;
    reporter->line(done);
}

bool FolderCompressor::writeOutput(
        const QString &targetPath, const QString &name, const std::vector<char> &data)
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
    const auto total = qint64(data.size());
    if (!WholeWrite::write_and_flush(file, data.data(), total))
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
