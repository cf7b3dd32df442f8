#include "foldercompressor.h"

#include "adpcm.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryFile>
#include <QtEndian>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

Q_LOGGING_CATEGORY(soundLog, "ondaspa.sound")

namespace {

// Field offsets of the canonical 44-byte header.
constexpr int chunkSizeOffset = 4;
constexpr int formatOffset = 8;
constexpr int formatChunkSizeOffset = 16;
constexpr int formatTagOffset = 20;
constexpr int channelsOffset = 22;
constexpr int sampleRateOffset = 24;
constexpr int bitsPerSampleOffset = 34;
constexpr int dataIdOffset = 36;
constexpr int dataSizeOffset = 40;

constexpr quint16 pcmFormatTag = 1;
constexpr quint16 imaAdpcmFormatTag = 0x0011;
// What the written format chunk size says, though only 16 bytes follow it.
constexpr quint32 outputFormatChunkSize = 20;
// Chunk size = data bytes + the header bytes after the chunk size field.
constexpr int chunkSizeExtra = 36;
constexpr quint16 acceptedBitsPerSample = 16;

const QDir::Filters listFilter = QDir::Files | QDir::Hidden | QDir::NoSymLinks;
const QDir::SortFlags listOrder = QDir::Name | QDir::IgnoreCase;

quint16 read16(const char *header, int offset)
{
    return qFromLittleEndian<quint16>(header + offset);
}

quint32 read32(const char *header, int offset)
{
    return qFromLittleEndian<quint32>(header + offset);
}

bool hasBytes(const char *header, int offset, const char (&text)[5])
{
    return memcmp(header + offset, text, 4) == 0;
}

const QFileDevice::Permissions newFilePermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner
        | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ReadGroup
        | QFileDevice::ReadOther;

// Replaces to by from in one step, whether or not to exists. QFile::rename
// refuses an existing target, and removing it first would leave a moment
// with neither file. No sync to disk: it would cost more than encoding the
// file, and the replacement alone already keeps a failed write from
// touching the earlier file.
bool replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                   reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                   MOVEFILE_REPLACE_EXISTING)
            != 0;
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
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
    // The size is known before anything is read, so a huge file never costs
    // more than one buffer; reading one byte past the limit also catches a
    // file that grew after its size was taken.
    if (file.size() > maxInputBytes) {
        reporter->line(QStringLiteral("压缩音频大于1Mbytes,请裁剪!"));
        return;
    }
    const qint64 length = file.read(input.data(), maxInputBytes + 1);
    file.close();
    if (length < 0)
        return;
    if (length > maxInputBytes) {
        reporter->line(QStringLiteral("压缩音频大于1Mbytes,请裁剪!"));
        return;
    }
    if (length <= headerBytes) {
        fail(QStringLiteral("压缩:%1(%2bytes) 失败").arg(name).arg(length));
        return;
    }

    const char *header = input.data();
    // Samples are always read as 16-bit values straight after a 44-byte
    // header, so anything else would be encoded as noise and reported as done.
    if (!hasBytes(header, 0, "RIFF") || !hasBytes(header, formatOffset, "WAVE")
            || read16(header, formatTagOffset) != pcmFormatTag
            || read16(header, bitsPerSampleOffset) != acceptedBitsPerSample
            || !hasBytes(header, dataIdOffset, "data")) {
        fail(QStringLiteral("压缩:%1失败:格式不支持!").arg(name));
        return;
    }
    if (read16(header, channelsOffset) != 1) {
        fail(QStringLiteral("压缩:%1失败:非单声道音频!").arg(name));
        return;
    }
    if (read32(header, sampleRateOffset) > maxSampleRate) {
        fail(QStringLiteral("压缩:%1失败:采样率大于16Khz!").arg(name));
        return;
    }

    // The declared size is trusted only up to the bytes present; an odd
    // trailing byte is not a sample.
    const quint32 declared = read32(header, dataSizeOffset);
    const qint64 present = length - headerBytes;
    const int sampleCount = static_cast<int>(qMin<qint64>(declared, present) / 2);
    qCDebug(soundLog) << name << "Subchunk2Size:" << declared;
    output.resize(headerBytes + (sampleCount + 1) / 2);
    AdpcmState state = { 0, 0 };
    const int dataBytes = adpcm_coder(reinterpret_cast<const qint16 *>(header + headerBytes),
            sampleCount, reinterpret_cast<unsigned char *>(output.data() + headerBytes), &state);
    qCDebug(soundLog) << name << "Subchunk2Size OK";

    char *out = output.data();
    memcpy(out, header, headerBytes);
    qToLittleEndian<quint32>(dataBytes + chunkSizeExtra, out + chunkSizeOffset);
    qToLittleEndian<quint32>(outputFormatChunkSize, out + formatChunkSizeOffset);
    qToLittleEndian<quint16>(imaAdpcmFormatTag, out + formatTagOffset);
    qToLittleEndian<quint32>(dataBytes, out + dataSizeOffset);

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

bool FolderCompressor::writeOutput(const QString &targetPath, const QString &name, int dataBytes)
{
    // The new content goes to a temporary file beside the target and replaces
    // it only once complete, so a failed write never destroys the earlier file
    // (the user's original WAV when the input folder is the output folder).
    // That replacement would also pass over a read-only target, so the
    // target's own permission is checked first.
    const QFileInfo target(targetPath);
    QTemporaryFile file(output_folder + QStringLiteral("/.") + name + QStringLiteral(".XXXXXX"));
    if ((target.exists() && (target.isDir() || !target.isWritable())) || !file.open()) {
        reporter->code(CodeOpenFailed, targetPath);
        ++failure_count;
        return false;
    }
    // A flush that writes only part (a full disk) is not always reported, so
    // the size on disk is the proof.
    const qint64 total = headerBytes + dataBytes;
    const bool written =
            file.write(output.data(), total) == total && file.flush() && file.size() == total;
    file.close();
    // A temporary file is private to its owner; the output gets the earlier
    // file's permissions, or those of an ordinary new file.
    if (!written
            || !file.setPermissions(target.exists() ? target.permissions() : newFilePermissions)
            || !replaceFile(file.fileName(), targetPath)) {
        fail(QStringLiteral("压缩:%1失败:写入失败!").arg(name));
        return false;
    }
    file.setAutoRemove(false);
    return true;
}
