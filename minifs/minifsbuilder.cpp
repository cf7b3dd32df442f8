#include "minifsbuilder.h"

#include "filereplace.h"
#include "minifsbuildlistener.h"
#include "minifsimage.h"
#include "outsidetext.h"
#include "programpaths.h"
#include "regularfile.h"
#include "wholewrite.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSaveFile>

#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <unistd.h>
#endif

namespace {

// Contents pass through one buffer of this size: large enough that big files
// cost few system calls and small files are written many at a time, small
// enough to keep the build's memory low whatever the file sizes.
constexpr int copyBufferSize = 1 << 20;

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

std::unique_ptr<QIODevice> openFile(const QString &path)
{
    // Unbuffered: contents are read straight into the copy buffer. A name
    // the listing found as a regular file may have been swapped for a link
    // or a pipe since: neither is opened.
    auto file = std::make_unique<QFile>(path);
    if (!RegularFile::open_listed(*file, path))
        return nullptr;
    return file;
}

// Reads what input yields at once, up to size bytes. QFile repeats a read
// until it is filled or reaches the end, which costs every small file a
// second system call; one read of a regular file ends short only at its end.
qint64 readSome(QIODevice &input, char *data, qint64 size)
{
#ifdef Q_OS_UNIX
    auto *file = qobject_cast<QFileDevice *>(&input);
    if (file && file->handle() >= 0) {
        for (;;) {
            const ssize_t got = ::read(file->handle(), data, size_t(size));
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }
#endif
    return input.read(data, size);
}

// Names in folder the system's encoding cannot carry into a QString and back
// (not UTF-8): the listing cannot open them, so they are reported by their
// bytes, escaped.
QStringList unnamedFiles(const QString &folder)
{
    QStringList names;
#ifdef Q_OS_UNIX
    DIR *directory = ::opendir(QFile::encodeName(folder).constData());
    if (!directory)
        return names;
    while (const dirent *entry = ::readdir(directory)) {
        const QByteArray name(entry->d_name);
        if (QFile::encodeName(QFile::decodeName(name)) != name)
            names.append(OutsideText::escaped_name(name));
    }
    ::closedir(directory);
#else
    Q_UNUSED(folder)
#endif
    return names;
}

// The old image may lie in the folder itself; packing it while it is being
// replaced would make no sense.
QFileInfoList withoutImage(QFileInfoList files, const QFileInfo &image)
{
    const QString imageCanonical = image.canonicalFilePath();
    if (imageCanonical.isEmpty())
        return files;
    // Names first: resolving every path costs system calls.
    files.erase(std::remove_if(files.begin(), files.end(),
                        [&](const QFileInfo &file) {
                            return file.fileName() == image.fileName()
                                    && file.canonicalFilePath() == imageCanonical;
                        }),
            files.end());
    return files;
}

// Gathers contents in one buffer and writes them to the image in large
// pieces, sequentially from the end of the table.
class ContentWriter
{
public:
    enum Result { Copied, ReadFailed, WriteFailed, TooLarge };

    ContentWriter(QFileDevice &output, qint64 start)
        : output(output), buffer(copyBufferSize, Qt::Uninitialized), flushedEnd(start)
    {
    }

    // Image offset just after the last content byte taken in.
    qint64 end() const { return flushedEnd + fill; }

    // Appends everything input yields until its end. Files read on until
    // their end or an error, so a short read that reaches the listed size
    // marks the end, which spares a system call per file; a short read
    // before it is checked by reading again, which reports an error or the
    // end of a file that shrank.
    Result copyFrom(QIODevice &input, qint64 listedSize)
    {
        qint64 copied = 0;
        for (;;) {
            const qint64 wanted = buffer.size() - fill;
            const qint64 got = readSome(input, buffer.data() + fill, wanted);
            if (got < 0)
                return ReadFailed;
            fill += got;
            copied += got;
            if (quint64(end()) >= MiniFsImage::sizeLimit)
                return TooLarge;
            if (fill == buffer.size() && !flush())
                return WriteFailed;
            if (got == 0 || (got < wanted && copied >= listedSize))
                return Copied;
        }
    }

    // Forgets every byte taken in after position; later contents overwrite
    // what was already written there.
    bool rewindTo(qint64 position)
    {
        if (position >= flushedEnd) {
            fill = position - flushedEnd;
            return true;
        }
        fill = 0;
        flushedEnd = position;
        return output.seek(position);
    }

    bool flush()
    {
        if (!WholeWrite::write(&output, buffer.constData(), fill))
            return false;
        flushedEnd += fill;
        fill = 0;
        return true;
    }

private:
    QFileDevice &output;
    QByteArray buffer;
    qint64 flushedEnd;
    qint64 fill = 0;
};

} // namespace

const QString MiniFsBuilder::imageFileName = QStringLiteral("minifs_rom.img");

MiniFsBuilder::MiniFsBuilder(MiniFsBuildListener &listener)
    : listener(listener), clock(&QDateTime::currentDateTime), openInput(&openFile),
      list(&MiniFsBuilder::listFolder)
{
}

void MiniFsBuilder::setClock(Clock clock)
{
    this->clock = std::move(clock);
}

void MiniFsBuilder::setInputOpener(InputOpener opener)
{
    openInput = std::move(opener);
}

void MiniFsBuilder::setLister(Lister lister)
{
    list = std::move(lister);
}

QFileInfoList MiniFsBuilder::listFolder(const QString &folder)
{
    // QDirIterator keeps the file system's order; QDir sorts even with NoSort.
    QFileInfoList files;
    QDirIterator iterator(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    while (iterator.hasNext()) {
        iterator.next();
        files.append(iterator.fileInfo());
    }
    return files;
}

QString MiniFsBuilder::defaultImagePath(const QString &programFolder)
{
    return ProgramPaths::html_folder(programFolder) + QLatin1Char('/') + imageFileName;
}

QString MiniFsBuilder::warningText(Outcome outcome)
{
    switch (outcome) {
    case FolderNotSet:
        return QStringLiteral("当前路径未设置！");
    case OpenFailed:
        return QStringLiteral("打开失败!");
    case TooLarge:
        return QStringLiteral("文件总大小超过4GB!");
    case WriteFailed:
        return QStringLiteral("写入失败!");
    case Built:
    case FolderMissing:
    case ImageFolderNotCreated:
        break;
    }
    return QString();
}

MiniFsBuilder::Outcome MiniFsBuilder::build(
        const QString &folder, const QString &version, const QString &imagePath)
{
    lastError.clear();
    const auto created = quint32(clock().toSecsSinceEpoch());
    const QByteArray versionField = MiniFsImage::versionField(version);
    if (!version.isEmpty())
        listener.debugLine(QStringLiteral("minifs version: ") + quoted(version));
    if (!QDir(folder).exists())
        return FolderMissing;

    const QFileInfo image(imagePath);
    const QString imageFolder = image.absolutePath();
    listener.debugLine(QStringLiteral("path: ") + quoted(imageFolder));
    if (!QDir(imageFolder).exists()) {
        const bool made = QDir().mkpath(imageFolder);
        listener.debugLine(QStringLiteral("新建目录是否成功 ")
                + (made ? QStringLiteral("true") : QStringLiteral("false")));
        if (!made)
            return ImageFolderNotCreated;
    }
    // An empty path names the working directory, which exists; refuse it here.
    if (folder.isEmpty())
        return FolderNotSet;

    const QFileInfoList files = withoutImage(list(folder), image);
    listener.debugLine(QStringLiteral("current applicationDirPath: ")
            + quoted(QCoreApplication::applicationDirPath()));
    listener.debugLine(QStringLiteral("current currentPath: ") + quoted(QDir::currentPath()));

    quint64 listedBytes = 0;
    for (const QFileInfo &file : files)
        listedBytes += quint64(file.size());
    const quint64 tableBytes = quint64(MiniFsImage::entrySize) * quint64(files.size());
    // The table is kept in memory, so it must also fit in one byte array.
    if (MiniFsImage::imageSize(quint64(files.size()), listedBytes, !files.isEmpty())
                    >= MiniFsImage::sizeLimit
            || tableBytes > quint64(std::numeric_limits<int>::max()))
        return TooLarge;

    QSaveFile output(imagePath);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        lastError = output.errorString();
        listener.debugLine(QStringLiteral("open failed: ") + quoted(imagePath)
                + QStringLiteral(": ") + lastError);
        return OpenFailed;
    }
    listener.logCleared();
    listener.logLine(QStringLiteral("开始合成文件："));
    const QString storedVersion = QString::fromLatin1(
            versionField.constData(), int(qstrnlen(versionField.constData(), versionField.size())));
    if (storedVersion != version)
        listener.logLine(
                QStringLiteral("注意:版本\"%1\"已存为\"%2\"(只存%3个Latin-1字符,其他字符记作?)")
                        .arg(version, storedVersion)
                        .arg(MiniFsImage::versionCapacity));
    for (const QString &name : unnamedFiles(folder))
        listener.logLine(QStringLiteral("跳过:") + name + QStringLiteral("(文件名不是UTF-8)"));
    return pack(output, files, created, versionField);
}

MiniFsBuilder::Outcome MiniFsBuilder::pack(QSaveFile &output, const QFileInfoList &files,
        quint32 created, const QByteArray &versionField)
{
    Contents contents;
    const Outcome written = writeContents(output, files, contents);
    if (written != Built)
        return written;
    // With nothing packed the image is the header alone; the reserved
    // table space and any bytes of unreadable files are cut off.
    const qint64 imageSize = contents.count > 0 ? contents.end : qint64(MiniFsImage::headerSize);
    QByteArray start = MiniFsImage::header(created, quint32(contents.count), versionField);
    if (contents.count > 0)
        start += contents.table;
    const Outcome committed = commitImage(output, start, imageSize);
    if (committed != Built)
        return committed;

    listener.logLine(QStringLiteral("文件合成完成，共添加") + QString::number(contents.count)
            + QStringLiteral("个文件！"));
    listener.logLine(QStringLiteral("合成IMG文件大小：") + QString::number(imageSize)
            + QStringLiteral(" bytes"));
    listener.logLine(
            QStringLiteral("IMG文件位置：%1 (%2 bytes)")
                    .arg(QDir::toNativeSeparators(QFileInfo(output.fileName()).absoluteFilePath()))
                    .arg(imageSize));
    return Built;
}

MiniFsBuilder::Outcome MiniFsBuilder::writeContents(
        QSaveFile &output, const QFileInfoList &files, Contents &contents)
{
    // Contents are written first, in one sequential stream after the space
    // reserved for the table; header and table follow in one write at the
    // start once every entry is known.
    const int tableBytes = MiniFsImage::entrySize * files.size();
    const qint64 contentStart = MiniFsImage::headerSize + qint64(tableBytes);
    contents.table = QByteArray(tableBytes, '\0');
    if (!output.seek(contentStart))
        return writeFailed(output, output.errorString());
    ContentWriter writer(output, contentStart);
    for (const QFileInfo &file : files) {
        const QString name = file.fileName();
        const std::unique_ptr<QIODevice> input = openInput(file.filePath());
        if (!input) {
            listener.logLine(QStringLiteral("跳过:") + name + QStringLiteral("(无法打开)"));
            continue;
        }
        const qint64 start = writer.end();
        switch (writer.copyFrom(*input, file.size())) {
        case ContentWriter::Copied:
            break;
        case ContentWriter::ReadFailed:
            if (!writer.rewindTo(start))
                return writeFailed(output, output.errorString());
            listener.logLine(QStringLiteral("跳过:") + name + QStringLiteral("(无法读取)"));
            continue;
        case ContentWriter::WriteFailed:
            return writeFailed(output, output.errorString());
        case ContentWriter::TooLarge:
            output.cancelWriting();
            return TooLarge;
        }
        addEntry(name, quint32(start), quint32(writer.end() - start), contents);
    }
    if (!writer.flush())
        return writeFailed(output, output.errorString());
    contents.end = writer.end();
    return Built;
}

void MiniFsBuilder::addEntry(const QString &name, quint32 offset, quint32 size, Contents &contents)
{
    const QByteArray utf8 = name.toUtf8();
    const QByteArray stored = utf8.left(MiniFsImage::nameCapacity);
    listener.debugLine(quoted(name) + QStringLiteral(" len: ") + QString::number(stored.size()));
    contents.table.replace(contents.count * MiniFsImage::entrySize, MiniFsImage::entrySize,
            MiniFsImage::entry(stored, size, offset));
    ++contents.count;
    listener.logLine(QStringLiteral("添加:") + name + QLatin1Char('(') + QString::number(size)
            + QStringLiteral("bytes)"));
    if (stored.size() < utf8.size())
        listener.logLine(
                QStringLiteral("注意:") + name + QStringLiteral(" 文件名超过32字节,已截断"));
    if (contents.storedNames.contains(stored))
        listener.logLine(QStringLiteral("注意:") + QString::fromUtf8(stored)
                + QStringLiteral(" 文件名重复"));
    contents.storedNames.insert(stored);
}

MiniFsBuilder::Outcome MiniFsBuilder::commitImage(
        QSaveFile &output, const QByteArray &start, qint64 imageSize)
{
    if (!output.seek(0) || !WholeWrite::write(&output, start.constData(), start.size()))
        return writeFailed(output, output.errorString());
    if (output.size() > imageSize && !output.resize(imageSize))
        return writeFailed(output, output.errorString());
#ifdef Q_OS_UNIX
    // QSaveFile ignores a failed sync, where some file systems report a full
    // disk, and would put the incomplete image in place.
    if (::fsync(output.handle()) != 0)
        return writeFailed(output, qt_error_string(errno));
#endif
    QString reason;
    switch (FileReplace::commit(output, &reason)) {
    case FileReplace::Replaced:
        return Built;
    case FileReplace::InUse:
        // Windows: a program other than this one's file service reads the image.
        listener.logLine(QStringLiteral("文件正在使用：%1 (%2)，旧文件未改变")
                                 .arg(QDir::toNativeSeparators(output.fileName()), reason));
        return writeFailed(output,
                QStringLiteral("in use by another program (%1); the old image is unchanged")
                        .arg(reason));
    case FileReplace::Failed:
        break;
    }
    return writeFailed(output, reason);
}

MiniFsBuilder::Outcome MiniFsBuilder::writeFailed(QSaveFile &output, const QString &reason)
{
    lastError = reason;
    output.cancelWriting();
    listener.debugLine(QStringLiteral("write failed: ") + quoted(output.fileName())
            + QStringLiteral(": ") + reason);
    listener.logLine(QStringLiteral("写入失败!"));
    return WriteFailed;
}
