#include "minifsbuilder.h"
#include "minifsbuildlistener.h"
#include "minifsimage.h"
#include "testfiles.h"
#include "writelimit.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace {

class RecordingListener : public MiniFsBuildListener
{
public:
    void logCleared() override
    {
        ++clears;
        lines.clear();
    }
    void logLine(const QString &line) override { lines << line; }
    void debugLine(const QString &line) override { debug << line; }

    int clears = 0;
    QStringList lines;
    QStringList debug;
};

// Yields its bytes, then fails instead of reporting the end.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(QByteArray bytes) : bytes(std::move(bytes))
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (position == bytes.size())
            return -1;
        const qint64 size = std::min<qint64>(maxSize, bytes.size() - position);
        std::copy_n(bytes.constData() + position, size, data);
        position += size;
        return size;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray bytes;
    qint64 position = 0;
};

QFileInfoList sortedListing(const QString &folder)
{
    QFileInfoList files = MiniFsBuilder::listFolder(folder);
    std::sort(files.begin(), files.end(), [](const QFileInfo &left, const QFileInfo &right) {
        return left.fileName() < right.fileName();
    });
    return files;
}

QByteArray pattern(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int index = 0; index < size; ++index)
        bytes[index] = char(seed + index * 7);
    return bytes;
}

// Content of each packed entry of the image at path, by stored name.
QMap<QByteArray, QByteArray> contents(const QString &path)
{
    QMap<QByteArray, QByteArray> result;
    QFile file(path);
    MiniFsImage image;
    if (!file.open(QIODevice::ReadOnly) || !image.read(&file))
        return result;
    for (const MiniFsImage::Entry &entry : image.entries()) {
        QBuffer content;
        content.open(QIODevice::WriteOnly);
        MiniFsImage::copyContent(&file, entry, &content);
        result.insert(entry.name, content.data());
    }
    return result;
}

const quint32 exampleTime = 1600000000;

} // namespace

class tst_MiniFsBuilder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void workedExample();
    void names_data();
    void names();
    void chineseFolder();
    void listingTakesRegularFilesOnly();
    void emptyFileSharesOffset();
    void emptyFolder();
    void versionOutsideLatin1_data();
    void versionOutsideLatin1();
    void unopenableFiles_data();
    void unopenableFiles();
    void unreadableFile_data();
    void unreadableFile();
    void fileChangedAfterListing_data();
    void fileChangedAfterListing();
    void swappedAfterListing_data();
    void swappedAfterListing();
    void nonUtf8NameReported();
    void duplicateStoredNames();
    void oldImageInFolderNotPacked();
    void refusals_data();
    void refusals();
    void writeFailureKeepsOldImage_data();
    void writeFailureKeepsOldImage();
    void fourGibibytesRefused();
    void defaultImagePath_data();
    void defaultImagePath();

private:
    MiniFsBuilder::Outcome build(const QString &folder, const QString &version = QString());
    // The log's last line after a build of size bytes.
    QString location(int size) const
    {
        return QStringLiteral("IMG文件位置：%1 (%2 bytes)")
                .arg(QDir::toNativeSeparators(QFileInfo(imagePath).absoluteFilePath()))
                .arg(size);
    }

    std::unique_ptr<QTemporaryDir> work;
    QString source;
    QString imagePath;
    RecordingListener listener;
    MiniFsBuilder::InputOpener opener;
};

void tst_MiniFsBuilder::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    source = work->filePath(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(source));
    imagePath = work->filePath(QStringLiteral("html/minifs_rom.img"));
    listener = RecordingListener();
    opener = nullptr;
}

MiniFsBuilder::Outcome tst_MiniFsBuilder::build(const QString &folder, const QString &version)
{
    MiniFsBuilder builder(listener);
    builder.setClock([] { return QDateTime::fromSecsSinceEpoch(exampleTime, Qt::UTC); });
    builder.setLister(&sortedListing);
    if (opener)
        builder.setInputOpener(opener);
    return builder.build(folder, version, imagePath);
}

void tst_MiniFsBuilder::workedExample()
{
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "hello"));
    QVERIFY(writeFile(source + QStringLiteral("/index.html"), "0123456789"));
    QCOMPARE(build(source, QStringLiteral("V1.0")), MiniFsBuilder::Built);

    QByteArray expected = QByteArray::fromHex("4D302D4D494E494653 00"
                                              "000000000000"
                                              "5F5E1000"
                                              "00000002"
                                              "00007001"
                                              "56312E3000000000"
                                              "00050000 00000005 00000084 00000000");
    expected += QByteArray("a.txt") + QByteArray(27, '\0');
    expected += QByteArray::fromHex("000A0000 0000000A 00000089 00000000");
    expected += QByteArray("index.html") + QByteArray(22, '\0');
    expected += "hello0123456789";
    QCOMPARE(expected.size(), 147);
    QCOMPARE(readFile(imagePath), expected);

    QCOMPARE(listener.clears, 1);
    QCOMPARE(listener.lines,
            QStringList({ "开始合成文件：", "添加:a.txt(5bytes)", "添加:index.html(10bytes)",
                    "文件合成完成，共添加2个文件！", "合成IMG文件大小：147 bytes",
                    location(147) }));
    QVERIFY(listener.debug.contains(QStringLiteral("minifs version: \"V1.0\"")));
    QVERIFY(listener.debug.contains(QStringLiteral("\"index.html\" len: 10")));
    QVERIFY(listener.debug.contains(QStringLiteral("新建目录是否成功 true")));

    // Same folder, same second: the same image.
    QCOMPARE(build(source, QStringLiteral("V1.0")), MiniFsBuilder::Built);
    QCOMPARE(readFile(imagePath), expected);
}

void tst_MiniFsBuilder::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("storedLength");
    QTest::addColumn<bool>("cut");
    QTest::newRow("exactly-32-bytes") << QString(28, QLatin1Char('n')) + ".txt" << 32 << false;
    QTest::newRow("33-bytes") << QString(29, QLatin1Char('n')) + ".txt" << 32 << true;
    // Eleven three-byte characters: the cut falls inside the eleventh.
    QTest::newRow("cut-inside-character") << QString(11, QChar(0x6587)) << 32 << true;
    QTest::newRow("latin-accents") << QStringLiteral("café-ü.txt") << 12 << false;
    QTest::newRow("chinese") << QStringLiteral("网页首页.html") << 17 << false;
    QTest::newRow("hidden") << QStringLiteral(".config") << 7 << false;
}

void tst_MiniFsBuilder::names()
{
    QFETCH(QString, name);
    QFETCH(int, storedLength);
    QFETCH(bool, cut);
    QVERIFY(writeFile(source + QLatin1Char('/') + name, "content"));
    QCOMPARE(build(source), MiniFsBuilder::Built);

    QFile file(imagePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    MiniFsImage image;
    QVERIFY2(image.read(&file), qPrintable(image.errorString()));
    QCOMPARE(image.entries().size(), 1);
    QCOMPARE(image.entries().at(0).name, name.toUtf8().left(32));
    QCOMPARE(image.entries().at(0).name.size(), storedLength);
    const QString note =
            QStringLiteral("注意:") + name + QStringLiteral(" 文件名超过32字节,已截断");
    QCOMPARE(listener.lines.contains(note), cut);
    QVERIFY(listener.lines.contains(QStringLiteral("添加:") + name + QStringLiteral("(7bytes)")));
}

void tst_MiniFsBuilder::chineseFolder()
{
    const QString folder = work->filePath(QStringLiteral("网页资源"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(folder + QStringLiteral("/首页.html"), "<html>"));
    QVERIFY(writeFile(folder + QStringLiteral("/图片.png"), "png"));
    QCOMPARE(build(folder), MiniFsBuilder::Built);
    const auto packed = contents(imagePath);
    QCOMPARE(packed.value(QStringLiteral("首页.html").toUtf8()), QByteArray("<html>"));
    QCOMPARE(packed.value(QStringLiteral("图片.png").toUtf8()), QByteArray("png"));
}

void tst_MiniFsBuilder::listingTakesRegularFilesOnly()
{
#ifdef Q_OS_UNIX
    QVERIFY(writeFile(source + QStringLiteral("/plain.txt"), "plain"));
    QVERIFY(writeFile(source + QStringLiteral("/.hidden"), "hidden"));
    QVERIFY(QDir(source).mkdir(QStringLiteral("sub")));
    QVERIFY(writeFile(source + QStringLiteral("/sub/inner.txt"), "inner"));
    QVERIFY(QFile::link(
            source + QStringLiteral("/plain.txt"), source + QStringLiteral("/link.txt")));
    QVERIFY(QFile::link(source + QStringLiteral("/sub"), source + QStringLiteral("/linkdir")));
    QCOMPARE(mkfifo(QFile::encodeName(source + QStringLiteral("/pipe")).constData(), 0600), 0);

    QStringList names;
    for (const QFileInfo &file : MiniFsBuilder::listFolder(source))
        names << file.fileName();
    names.sort();
    QCOMPARE(names, QStringList({ ".hidden", "plain.txt" }));

    // A regular listing would also work here; the default one is used.
    MiniFsBuilder builder(listener);
    QCOMPARE(builder.build(source, QString(), imagePath), MiniFsBuilder::Built);
    QCOMPARE(contents(imagePath).keys(), QList<QByteArray>({ ".hidden", "plain.txt" }));
#else
    QSKIP("symbolic links and FIFOs are POSIX files");
#endif
}

void tst_MiniFsBuilder::emptyFileSharesOffset()
{
    QVERIFY(writeFile(source + QStringLiteral("/a.bin"), QByteArray()));
    QVERIFY(writeFile(source + QStringLiteral("/b.bin"), "bb"));
    QCOMPARE(build(source), MiniFsBuilder::Built);
    QFile file(imagePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    MiniFsImage image;
    QVERIFY2(image.read(&file), qPrintable(image.errorString()));
    QCOMPARE(image.entries().at(0).size, 0u);
    QCOMPARE(image.entries().at(0).offset, image.entries().at(1).offset);
    QCOMPARE(image.entries().at(1).offset, quint32(36 + 2 * 48));
    QVERIFY(listener.lines.contains(QStringLiteral("添加:a.bin(0bytes)")));
}

void tst_MiniFsBuilder::emptyFolder()
{
    QCOMPARE(build(source, QStringLiteral("12345678")), MiniFsBuilder::Built);
    QCOMPARE(readFile(imagePath), MiniFsImage::header(exampleTime, 0, "12345678"));
    // The size is the image's, the header alone.
    QCOMPARE(listener.lines,
            QStringList({ "开始合成文件：", "文件合成完成，共添加0个文件！",
                    "合成IMG文件大小：36 bytes", location(36) }));
}

void tst_MiniFsBuilder::versionOutsideLatin1_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("note"); // empty: none
    const QString note =
            QStringLiteral("注意:版本\"%1\"已存为\"%2\"(只存8个Latin-1字符,其他字符记作?)");
    QTest::newRow("latin1-kept") << QStringLiteral("Vé1.0")
                                 << QByteArray("V\xe9"
                                               "1.0")
                                 << QString();
    QTest::newRow("chinese-asQuestionMarks") << QStringLiteral("版本1") << QByteArray("??1")
                                             << note.arg(QStringLiteral("版本1"), "??1");
    QTest::newRow("nineCharacters-cut") << QStringLiteral("123456789") << QByteArray("12345678")
                                        << note.arg(QStringLiteral("123456789"), "12345678");
}

void tst_MiniFsBuilder::versionOutsideLatin1()
{
    QFETCH(QString, version);
    QFETCH(QByteArray, stored);
    QFETCH(QString, note);
    QCOMPARE(build(source, version), MiniFsBuilder::Built);
    QCOMPARE(readFile(imagePath).mid(28, 8), stored + QByteArray(8 - stored.size(), '\0'));
    // Right after the log is started afresh, so it stays in view.
    QCOMPARE(listener.lines.value(1),
            note.isEmpty() ? QStringLiteral("文件合成完成，共添加0个文件！") : note);
}

void tst_MiniFsBuilder::unopenableFiles_data()
{
    QTest::addColumn<QStringList>("refused");
    QTest::newRow("middle-of-three") << QStringList{ "b.txt" };
    QTest::newRow("all-three") << QStringList{ "a.txt", "b.txt", "c.txt" };
}

void tst_MiniFsBuilder::unopenableFiles()
{
    QFETCH(QStringList, refused);
    for (const char *name : { "a.txt", "b.txt", "c.txt" })
        QVERIFY(writeFile(source + QLatin1Char('/') + QLatin1String(name), name));
    opener = [refused](const QString &path) -> std::unique_ptr<QIODevice> {
        if (refused.contains(QFileInfo(path).fileName()))
            return nullptr;
        auto file = std::make_unique<QFile>(path);
        return file->open(QIODevice::ReadOnly) ? std::move(file) : nullptr;
    };
    QCOMPARE(build(source), MiniFsBuilder::Built);
    for (const QString &name : refused)
        QVERIFY(listener.lines.contains(
                QStringLiteral("跳过:") + name + QStringLiteral("(无法打开)")));

    const QByteArray image = readFile(imagePath);
    const int packed = 3 - refused.size();
    if (packed == 0) {
        QCOMPARE(image, MiniFsImage::header(exampleTime, 0, QByteArray()));
        QVERIFY(listener.lines.contains(QStringLiteral("合成IMG文件大小：36 bytes")));
        return;
    }
    // Three slots reserved; the refused file's slot is the zero one at the end.
    QCOMPARE(image.size(), 36 + 3 * 48 + packed * 5);
    QCOMPARE(image.mid(36 + packed * 48, (3 - packed) * 48), QByteArray((3 - packed) * 48, '\0'));
    QCOMPARE(contents(imagePath).keys(), QList<QByteArray>({ "a.txt", "c.txt" }));
    QCOMPARE(contents(imagePath).value("c.txt"), QByteArray("c.txt"));
}

void tst_MiniFsBuilder::unreadableFile_data()
{
    QTest::addColumn<int>("failingIndex");
    QTest::addColumn<int>("bytesBeforeFailure");
    QTest::newRow("first-small") << 0 << 100;
    QTest::newRow("middle-across-buffer") << 1 << 3 * 1024 * 1024 / 2;
    QTest::newRow("last-across-buffer") << 2 << 3 * 1024 * 1024 / 2;
    QTest::newRow("last-nothing-read") << 2 << 0;
}

void tst_MiniFsBuilder::unreadableFile()
{
    QFETCH(int, failingIndex);
    QFETCH(int, bytesBeforeFailure);
    const QStringList names{ "a.bin", "b.bin", "c.bin" };
    for (int index = 0; index < names.size(); ++index)
        QVERIFY(writeFile(source + QLatin1Char('/') + names.at(index),
                pattern(2 * 1024 * 1024 + index, char(index))));
    const QString &failing = names.at(failingIndex);
    opener = [&](const QString &path) -> std::unique_ptr<QIODevice> {
        if (QFileInfo(path).fileName() == failing)
            return std::make_unique<FailingDevice>(pattern(bytesBeforeFailure, 'x'));
        auto file = std::make_unique<QFile>(path);
        return file->open(QIODevice::ReadOnly) ? std::move(file) : nullptr;
    };
    QCOMPARE(build(source), MiniFsBuilder::Built);
    QVERIFY(listener.lines.contains(
            QStringLiteral("跳过:") + failing + QStringLiteral("(无法读取)")));
    QVERIFY(listener.lines.contains(QStringLiteral("文件合成完成，共添加2个文件！")));

    const auto packed = contents(imagePath);
    QCOMPARE(packed.size(), 2);
    for (int index = 0; index < names.size(); ++index) {
        if (index != failingIndex)
            QCOMPARE(packed.value(names.at(index).toUtf8()),
                    pattern(2 * 1024 * 1024 + index, char(index)));
    }
}

void tst_MiniFsBuilder::fileChangedAfterListing_data()
{
    QTest::addColumn<int>("listedSize");
    QTest::addColumn<QByteArray>("replacement");
    // Large files span several fillings of the copy buffer.
    const int large = 2 * 1024 * 1024;
    QTest::newRow("grew") << 1000 << pattern(5000, 'g');
    QTest::newRow("shrank") << 1000 << QByteArray("tiny");
    QTest::newRow("emptied") << 1000 << QByteArray();
    QTest::newRow("large-grew") << large << pattern(large + large / 2 + 5, 'g');
    QTest::newRow("large-shrank") << large << pattern(large / 2 + 3, 's');
    QTest::newRow("large-emptied") << large << QByteArray();
}

void tst_MiniFsBuilder::fileChangedAfterListing()
{
    QFETCH(int, listedSize);
    QFETCH(QByteArray, replacement);
    QVERIFY(writeFile(source + QStringLiteral("/a.bin"), pattern(listedSize, 'a')));
    QVERIFY(writeFile(source + QStringLiteral("/b.bin"), "after"));
    opener = [&](const QString &path) -> std::unique_ptr<QIODevice> {
        if (path.endsWith(QLatin1String("a.bin")) && !writeFile(path, replacement))
            return nullptr;
        auto file = std::make_unique<QFile>(path);
        return file->open(QIODevice::ReadOnly) ? std::move(file) : nullptr;
    };
    QCOMPARE(build(source), MiniFsBuilder::Built);
    const auto packed = contents(imagePath);
    QCOMPARE(packed.value("a.bin"), replacement);
    QCOMPARE(packed.value("b.bin"), QByteArray("after"));
    QVERIFY(listener.lines.contains(QStringLiteral("添加:a.bin(%1bytes)").arg(replacement.size())));
}

void tst_MiniFsBuilder::swappedAfterListing_data()
{
    QTest::addColumn<bool>("fifo");
    QTest::newRow("linkToOutsideFile") << false;
    QTest::newRow("fifo") << true;
}

// A name replaced between listing and reading is left out with a line; the
// link's target is never packed, and a FIFO neither hangs nor packs as empty.
void tst_MiniFsBuilder::swappedAfterListing()
{
#ifdef Q_OS_UNIX
    QFETCH(bool, fifo);
    const QString secret = work->filePath(QStringLiteral("secret.txt"));
    QVERIFY(writeFile(secret, "secret"));
    QVERIFY(writeFile(source + QStringLiteral("/a.bin"), "listed"));
    QVERIFY(writeFile(source + QStringLiteral("/b.bin"), "after"));
    MiniFsBuilder builder(listener);
    builder.setLister([&](const QString &folder) {
        const QFileInfoList files = sortedListing(folder);
        const QString swapped = folder + QStringLiteral("/a.bin");
        QFile::remove(swapped);
        if (fifo)
            ::mkfifo(QFile::encodeName(swapped).constData(), 0600);
        else
            QFile::link(secret, swapped);
        return files;
    });
    QCOMPARE(builder.build(source, QString(), imagePath), MiniFsBuilder::Built);
    QVERIFY(QFileInfo(source + QStringLiteral("/a.bin")).isSymLink() != fifo);
    QVERIFY2(listener.lines.contains(QStringLiteral("跳过:a.bin(无法打开)")),
            qPrintable(listener.lines.join(QLatin1Char('\n'))));
    const auto packed = contents(imagePath);
    QCOMPARE(packed.keys(), QList<QByteArray>({ "b.bin" }));
    QVERIFY(!readFile(imagePath).contains("secret"));
#else
    QSKIP("symbolic links and FIFOs are POSIX files");
#endif
}

void tst_MiniFsBuilder::nonUtf8NameReported()
{
#ifdef Q_OS_UNIX
    QVERIFY(writeFile(source + QStringLiteral("/ok.txt"), "ok"));
    const QByteArray raw = QFile::encodeName(source) + "/caf\xe9\n.txt";
    QFile file;
    QVERIFY(file.open(::open(raw.constData(), O_WRONLY | O_CREAT, 0600), QIODevice::WriteOnly,
            QFileDevice::AutoCloseHandle));
    file.close();
    QCOMPARE(build(source), MiniFsBuilder::Built);
    QVERIFY2(listener.lines.contains(QStringLiteral("跳过:caf\\xe9\\x0a.txt(文件名不是UTF-8)")),
            qPrintable(listener.lines.join(QLatin1Char('\n'))));
    QCOMPARE(contents(imagePath).keys(), QList<QByteArray>({ "ok.txt" }));
#else
    QSKIP("names that are not UTF-8 exist on POSIX file systems only");
#endif
}

void tst_MiniFsBuilder::duplicateStoredNames()
{
    const QString stem(32, QLatin1Char('d'));
    QVERIFY(writeFile(source + QLatin1Char('/') + stem + QStringLiteral("-1"), "one"));
    QVERIFY(writeFile(source + QLatin1Char('/') + stem + QStringLiteral("-2"), "two"));
    QCOMPARE(build(source), MiniFsBuilder::Built);
    QCOMPARE(listener.lines.filter(QStringLiteral("已截断")).size(), 2);
    QCOMPARE(listener.lines.filter(QStringLiteral("注意:") + stem + QStringLiteral(" 文件名重复"))
                     .size(),
            1);
    QFile file(imagePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    MiniFsImage image;
    QVERIFY(image.read(&file));
    QCOMPARE(image.entries().size(), 2);
}

void tst_MiniFsBuilder::oldImageInFolderNotPacked()
{
    imagePath = source + QStringLiteral("/minifs_rom.img");
    QVERIFY(writeFile(imagePath, "previous image"));
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "hello"));
    QCOMPARE(build(source), MiniFsBuilder::Built);
    QCOMPARE(readFile(imagePath).size(), 36 + 48 + 5);
    QCOMPARE(contents(imagePath).keys(), QList<QByteArray>({ "a.txt" }));
    QVERIFY(listener.lines.contains(QStringLiteral("文件合成完成，共添加1个文件！")));
}

void tst_MiniFsBuilder::refusals_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("debugLine");
    QTest::newRow("folder-missing")
            << "missing"
            << "html/minifs_rom.img" << int(MiniFsBuilder::FolderMissing) << QString();
    QTest::newRow("image-folder-not-created")
            << "source"
            << "blocker/html/minifs_rom.img" << int(MiniFsBuilder::ImageFolderNotCreated)
            << "新建目录是否成功 false";
    QTest::newRow("path-empty") << ""
                                << "html/minifs_rom.img" << int(MiniFsBuilder::FolderNotSet)
                                << "新建目录是否成功 true";
    QTest::newRow("image-not-openable")
            << "source"
            << "occupied" << int(MiniFsBuilder::OpenFailed) << QString();
}

void tst_MiniFsBuilder::refusals()
{
    QFETCH(QString, folder);
    QFETCH(QString, image);
    QFETCH(int, outcome);
    QFETCH(QString, debugLine);
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "hello"));
    QVERIFY(writeFile(work->filePath(QStringLiteral("blocker")), "a file, not a folder"));
    QVERIFY(QDir(work->path()).mkpath(QStringLiteral("occupied/inside")));
    imagePath = work->filePath(image);
    const QString folderPath = folder.isEmpty() ? QString() : work->filePath(folder);

    QCOMPARE(int(build(folderPath)), outcome);
    QCOMPARE(listener.clears, 0);
    QVERIFY(listener.lines.isEmpty());
    if (!debugLine.isEmpty())
        QVERIFY(listener.debug.contains(debugLine));
    QVERIFY(!QFileInfo(imagePath).isFile());
    QVERIFY(QFileInfo(work->filePath(QStringLiteral("occupied/inside"))).isDir());
    QCOMPARE(MiniFsBuilder::warningText(MiniFsBuilder::Outcome(outcome)).isEmpty(),
            outcome != MiniFsBuilder::FolderNotSet && outcome != MiniFsBuilder::OpenFailed);
}

void tst_MiniFsBuilder::writeFailureKeepsOldImage_data()
{
    QTest::addColumn<int>("fileSize");
    QTest::newRow("within-the-buffer") << 256 * 1024;
    QTest::newRow("larger-than-the-buffer") << 4 * 1024 * 1024;
}

void tst_MiniFsBuilder::writeFailureKeepsOldImage()
{
#ifdef Q_OS_UNIX
    QFETCH(int, fileSize);
    constexpr rlim_t fileSizeLimit = 64 * 1024;
    QVERIFY(writeFile(source + QStringLiteral("/big.bin"), pattern(fileSize, 'b')));
    QVERIFY(QDir().mkpath(QFileInfo(imagePath).path()));
    QVERIFY(writeFile(imagePath, "old image"));

    MiniFsBuilder builder(listener);
    MiniFsBuilder::Outcome outcome = MiniFsBuilder::Built;
    {
        WriteLimit limit(fileSizeLimit);
        QVERIFY(limit.active);
        outcome = builder.build(source, QString(), imagePath);
    }
    QCOMPARE(outcome, MiniFsBuilder::WriteFailed);
    QCOMPARE(builder.errorString(), qt_error_string(EFBIG));
    QCOMPARE(listener.debug.constLast(),
            "write failed: \"" + imagePath + "\": " + qt_error_string(EFBIG));
    QCOMPARE(listener.lines.constLast(), QStringLiteral("写入失败!"));
    QVERIFY(!listener.lines.contains(QStringLiteral("文件合成完成，共添加1个文件！")));
    QCOMPARE(readFile(imagePath), QByteArray("old image"));
    QCOMPARE(QDir(QFileInfo(imagePath).path()).entryList(QDir::Files | QDir::Hidden),
            QStringList({ "minifs_rom.img" }));
    QCOMPARE(MiniFsBuilder::warningText(outcome), QStringLiteral("写入失败!"));
#else
    QSKIP("file size limits (rlimits) are POSIX");
#endif
}

void tst_MiniFsBuilder::fourGibibytesRefused()
{
    // Sparse files: nothing of their size is stored or read.
    // 36 + 2 * 48 + 2 * half is exactly 4 GiB, the smallest size refused.
    const qint64 half = (qint64(1) << 31) - 66;
    for (const char *name : { "first.bin", "second.bin" }) {
        QFile file(source + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(half));
    }
    QVERIFY(QDir().mkpath(QFileInfo(imagePath).path()));
    QVERIFY(writeFile(imagePath, "old image"));
    QCOMPARE(build(source), MiniFsBuilder::TooLarge);
    QCOMPARE(readFile(imagePath), QByteArray("old image"));
    QVERIFY(listener.lines.isEmpty());
    QCOMPARE(MiniFsBuilder::warningText(MiniFsBuilder::TooLarge),
            QStringLiteral("文件总大小超过4GB!"));
}

void tst_MiniFsBuilder::defaultImagePath_data()
{
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("image");
    QTest::newRow("plain") << "/opt/ondaspa"
                           << "/opt/ondaspa/html/minifs_rom.img";
    QTest::newRow("bundle") << "/Applications/tavirex_tools.app/Contents/MacOS"
                            << "/Applications/html/minifs_rom.img";
    QTest::newRow("bundle-twice") << "/a/tavirex_tools.app/b/tavirex_tools.app/c"
                                  << "/a/html/minifs_rom.img";
    QTest::newRow("other-case") << "/a/Tavirex_tools.app/c"
                                << "/a/Tavirex_tools.app/c/html/minifs_rom.img";
}

void tst_MiniFsBuilder::defaultImagePath()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, image);
    QCOMPARE(MiniFsBuilder::defaultImagePath(programFolder), image);
}

QTEST_GUILESS_MAIN(tst_MiniFsBuilder)
#include "tst_minifsbuilder.moc"
