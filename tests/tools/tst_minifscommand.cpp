#include "commandrun.h"
#include "fulldisk.h"
#include "minifsimage.h"
#include "regularfile.h"
#include "testfiles.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <numeric>

namespace {

// An image holding names, one byte of content each.
QByteArray imageWith(const QList<QByteArray> &names)
{
    QByteArray bytes = MiniFsImage::header(1, quint32(names.size()), QByteArray());
    const auto contentStart = quint32(36 + 48 * names.size());
    for (int index = 0; index < names.size(); ++index)
        bytes += MiniFsImage::entry(names.at(index), 1, contentStart + quint32(index));
    return bytes + QByteArray("0123456789").left(names.size());
}

// prefix: what runs the tool, such as fullDiskPrefix().
CommandRun run(const QStringList &arguments, const QStringList &prefix = {})
{
    return CommandRun::of(prefix + QStringList{ CLI_PATH, "minifs" } + arguments);
}

// An image of one-byte entries under the given names: "0", "1", ...
QByteArray imageOf(const QList<QByteArray> &names)
{
    QByteArray bytes = MiniFsImage::header(1, quint32(names.size()), QByteArray());
    const auto contentStart = quint32(36 + 48 * names.size());
    for (int index = 0; index < names.size(); ++index)
        bytes += MiniFsImage::entry(names.at(index), 1, contentStart + quint32(index));
    for (int index = 0; index < names.size(); ++index)
        bytes += char('0' + index);
    return bytes;
}

} // namespace

class tst_MiniFsCommand : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void buildListExtract();
    void listAcceptsEveryBuiltImage_data();
    void listAcceptsEveryBuiltImage();
    void defaultOutputBesideTheTool();
    void buildFailures_data();
    void buildFailures();
    void buildFailureGivesTheSystemsReason_data();
    void buildFailureGivesTheSystemsReason();
    void listRejectsCorruptImages_data();
    void listRejectsCorruptImages();
    void extractRefusesUnsafeNames();
    void extractNeverFollowsLinks_data();
    void extractNeverFollowsLinks();
    void extractReplacesOnlyWithForce_data();
    void extractReplacesOnlyWithForce();
    void extractReportsRepeatedNames();
    void listEscapesNames();
    void extractNamesWindowsCannotHold();
    void rebuildWhileImageIsRead_data();
    void rebuildWhileImageIsRead();

private:
    std::unique_ptr<QTemporaryDir> work;
    QString source;
    QString image;
};

void tst_MiniFsCommand::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    source = work->filePath(QStringLiteral("源文件"));
    QVERIFY(QDir().mkpath(source));
    image = work->filePath(QStringLiteral("out/image.img"));
    QVERIFY(QDir().mkpath(QFileInfo(image).path()));
}

void tst_MiniFsCommand::buildListExtract()
{
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "hello"));
    QVERIFY(writeFile(source + QStringLiteral("/首页.html"), "0123456789"));
    const CommandRun built = run({ "build", source, "--image-version", "V1.0", "-o", image });
    QCOMPARE(built.exitCode, 0);
    QVERIFY(built.err.isEmpty());
    const QStringList lines = built.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.first(), QStringLiteral("开始合成文件："));
    QVERIFY(lines.contains(QStringLiteral("添加:a.txt(5bytes)")));
    QVERIFY(lines.contains(QStringLiteral("添加:首页.html(10bytes)")));
    QCOMPARE(lines.at(3), QStringLiteral("文件合成完成，共添加2个文件！"));
    QCOMPARE(lines.at(4), QStringLiteral("合成IMG文件大小：%1 bytes").arg(36 + 96 + 15));
    // Where the image went, as the window's log ends: in the system's own form.
    QCOMPARE(lines.at(5),
            QStringLiteral("IMG文件位置：%1 (%2 bytes)")
                    .arg(QDir::toNativeSeparators(image))
                    .arg(36 + 96 + 15));
    QCOMPARE(readFile(image).size(), 36 + 96 + 15);

    const CommandRun listed = run({ "list", image });
    QCOMPARE(listed.exitCode, 0);
    const QStringList listing = listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(listing.size(), 5);
    QCOMPARE(listing.at(0), QStringLiteral("version: V1.0"));
    QVERIFY2(QRegularExpression(
                     QStringLiteral("^created: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"))
                     .match(listing.at(1))
                     .hasMatch(),
            qPrintable(listing.at(1)));
    QCOMPARE(listing.at(2), QStringLiteral("files: 2"));
    const QString firstLine = listing.at(3).startsWith(QLatin1String("a.txt"))
            ? "a.txt\t5\t132"
            : "首页.html\t10\t132";
    QCOMPARE(listing.at(3), firstLine);

    const QString unpacked = work->filePath(QStringLiteral("解包"));
    const CommandRun extracted = run({ "extract", image, unpacked });
    QCOMPARE(extracted.exitCode, 0);
    QCOMPARE(readFile(unpacked + QStringLiteral("/a.txt")), QByteArray("hello"));
    QCOMPARE(readFile(unpacked + QStringLiteral("/首页.html")), QByteArray("0123456789"));

    const QString file = unpacked + QStringLiteral("/a.txt");
    const CommandRun intoFile = run({ "extract", image, file });
    QCOMPARE(intoFile.exitCode, 1);
    QCOMPARE(intoFile.err,
            QStringLiteral("ondaspa-cli minifs extract: %1: not a folder\n").arg(file));
}

void tst_MiniFsCommand::listAcceptsEveryBuiltImage_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("empty-folder") << QStringList() << QList<int>();
    QTest::newRow("empty-files") << QStringList{ "a", "b", ".c" } << QList<int>{ 0, 0, 0 };
    QTest::newRow("long-and-duplicate-names") << QStringList{ QString(40, QChar(0x6587)),
        QString(40, QChar(0x6587)) + "x" } << QList<int>{ 3, 2000000 };
}

void tst_MiniFsCommand::listAcceptsEveryBuiltImage()
{
    QFETCH(QStringList, names);
    QFETCH(QList<int>, sizes);
    for (int index = 0; index < names.size(); ++index)
        QVERIFY(writeFile(source + QLatin1Char('/') + names.at(index),
                QByteArray(sizes.at(index), char('0' + index))));
    const CommandRun built = run({ "build", source, "-o", image });
    QCOMPARE(built.exitCode, 0);
    // The size and location lines give the image's real size, 36 for the header alone.
    const int size = readFile(image).size();
    QCOMPARE(size,
            names.isEmpty() ? 36
                            : 36 + 48 * names.size()
                            + int(std::accumulate(sizes.cbegin(), sizes.cend(), 0)));
    QVERIFY2(built.out.endsWith(
                     QStringLiteral("合成IMG文件大小：%1 bytes\nIMG文件位置：%2 (%1 bytes)\n")
                             .arg(size)
                             .arg(QDir::toNativeSeparators(image))),
            qPrintable(built.out));
    // A folder with nothing to pack still builds, with a warning.
    QCOMPARE(
            built.err.contains(QStringLiteral("ondaspa-cli minifs build: warning: %1 holds no file")
                                       .arg(source)),
            names.isEmpty());
    const CommandRun listed = run({ "list", image });
    QCOMPARE(listed.exitCode, 0);
    QVERIFY(listed.out.contains(QStringLiteral("files: %1\n").arg(names.size())));
}

void tst_MiniFsCommand::defaultOutputBesideTheTool()
{
    const QString toolFolder = QFileInfo(QStringLiteral(CLI_PATH)).absolutePath();
    const QString html = toolFolder + QStringLiteral("/html");
    const bool htmlExisted = QFileInfo::exists(html);
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "hello"));
    const CommandRun built = run({ "build", source });
    const QByteArray written = readFile(html + QStringLiteral("/minifs_rom.img"));
    QFile::remove(html + QStringLiteral("/minifs_rom.img"));
    if (!htmlExisted)
        QDir(html).removeRecursively();
    QCOMPARE(built.exitCode, 0);
    QCOMPARE(written.size(), 36 + 48 + 5);
}

void tst_MiniFsCommand::buildFailures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("reason");
    QTest::newRow("folder-missing") << QStringList{ "build", "@/missing", "-o", "@/i.img" } << 1
                                    << QStringList{ "@/missing", "no such folder" };
    QTest::newRow("path-empty") << QStringList{ "build", "", "-o", "@/i.img" } << 1
                                << QStringList{ "the folder path is empty" };
    QTest::newRow("image-is-folder") << QStringList{ "build", "@/源文件", "-o", "@/源文件" } << 1
                                     << QStringList{ "cannot open @/源文件 for writing: " };
    QTest::newRow("image-folder-is-file") << QStringList{ "build", "@/源文件", "-o",
        "@/blocker/i.img" } << 1 << QStringList{ "@/blocker: not a folder" };
    QTest::newRow("folder-is-file") << QStringList{ "build", "@/blocker", "-o",
        "@/i.img" } << 1 << QStringList{ "ondaspa-cli minifs build: @/blocker: not a folder\n" };
    QTest::newRow("image-folder-missing")
            << QStringList{ "build", "@/源文件", "-o", "@/none/deeper/i.img" } << 1
            << QStringList{ "ondaspa-cli minifs build: @/none/deeper: no such folder\n" };
}

void tst_MiniFsCommand::buildFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, reason);
    QVERIFY(writeFile(work->filePath(QStringLiteral("blocker")), "a file"));
    arguments.replaceInStrings(QStringLiteral("@"), work->path());
    reason.replaceInStrings(QStringLiteral("@"), work->path());
    const CommandRun result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    for (const QString &part : reason)
        QVERIFY2(result.err.contains(part), qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(work->filePath(QStringLiteral("i.img"))));
    QVERIFY(!QFileInfo::exists(work->filePath(QStringLiteral("none"))));
}

void tst_MiniFsCommand::buildFailureGivesTheSystemsReason_data()
{
    addFullDiskRows();
}

void tst_MiniFsCommand::buildFailureGivesTheSystemsReason()
{
    QFETCH(QString, disk);
    QFETCH(QString, reason);
    const QString full = work->filePath(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(full));
    if (!fullDiskAvailable(disk, full))
        QSKIP("this kind of full disk cannot be made here");
    QVERIFY(writeFile(source + QStringLiteral("/big.bin"), QByteArray(256 * 1024, 'b')));

    const CommandRun result =
            run({ "build", source, "-o", full + "/i.img" }, fullDiskPrefix(disk, full));
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err,
            QStringLiteral("ondaspa-cli minifs build: cannot write %1/i.img: %2\n")
                    .arg(full, reason));
    QVERIFY(result.out.endsWith(QStringLiteral("\n写入失败!\n")));
}

void tst_MiniFsCommand::listRejectsCorruptImages_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("truncateTo");
    QTest::addColumn<QString>("rule");
    QTest::newRow("truncated") << -1 << 0 << 140 << "runs past the end";
    QTest::newRow("bad-magic") << 1 << int('1') << -1 << "bad magic";
    QTest::newRow("bad-fixed-word") << 26 << 0x71 << -1 << "bad fixed word";
    // Low byte of entry 1's offset: 137 becomes 138.
    QTest::newRow("offsets-out-of-order") << 95 << 0x8A << -1 << "entry 1: offset";
    // High byte of entry 0's offset: far beyond the file.
    QTest::newRow("offset-out-of-file") << 44 << 0x10 << -1 << "entry 0";
}

void tst_MiniFsCommand::listRejectsCorruptImages()
{
    QFETCH(int, offset);
    QFETCH(int, byte);
    QFETCH(int, truncateTo);
    QFETCH(QString, rule);
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "hello"));
    QVERIFY(writeFile(source + QStringLiteral("/index.html"), "0123456789"));
    QCOMPARE(run({ "build", source, "-o", image }).exitCode, 0);
    QByteArray bytes = readFile(image);
    QCOMPARE(bytes.size(), 147);
    if (offset >= 0)
        bytes[offset] = char(byte);
    if (truncateTo >= 0)
        bytes.truncate(truncateTo);
    QVERIFY(writeFile(image, bytes));
    const CommandRun result = run({ "list", image });
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(result.err.contains(image) && result.err.contains(QLatin1String("malformed image"))
                    && result.err.contains(rule),
            qPrintable(result.err));
    QCOMPARE(run({ "extract", image, work->filePath(QStringLiteral("x")) }).exitCode, 2);

    const CommandRun missing = run({ "list", work->filePath(QStringLiteral("none.img")) });
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(missing.err.contains(
            QLatin1String("cannot open ") + work->filePath("none.img") + ": "));
}

void tst_MiniFsCommand::extractRefusesUnsafeNames()
{
    QVERIFY(writeFile(image, imageWith({ "..", "ok.txt", "a/b", "..\\c", "." })));
    const QString target = work->filePath(QStringLiteral("deep/target"));
    const CommandRun result = run({ "extract", image, target });
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden), QStringList({ "ok.txt" }));
    QCOMPARE(readFile(target + QStringLiteral("/ok.txt")), QByteArray("1"));
    for (const char *refused : { "entry 0", "entry 2", "entry 3", "entry 4" })
        QVERIFY2(result.err.contains(QLatin1String(refused)), qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(work->filePath(QStringLiteral("deep/b"))));
}

void tst_MiniFsCommand::extractNeverFollowsLinks_data()
{
    QTest::addColumn<bool>("outsideExists");
    QTest::addColumn<bool>("force");
    QTest::newRow("linkToOutsideFile") << true << false;
    QTest::newRow("danglingLinkOutside") << false << false;
    QTest::newRow("linkToOutsideFileForced") << true << true;
    QTest::newRow("danglingLinkOutsideForced") << false << true;
}

// A link placed in DIR beforehand is refused, or with --force replaced
// itself: the file it points to is neither written nor created.
void tst_MiniFsCommand::extractNeverFollowsLinks()
{
#ifdef Q_OS_UNIX
    QFETCH(bool, outsideExists);
    QFETCH(bool, force);
    const QString outside = work->filePath(QStringLiteral("outside.txt"));
    if (outsideExists)
        QVERIFY(writeFile(outside, "keep"));
    const QString target = work->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QFile::link(outside, target + QStringLiteral("/a.txt")));
    QVERIFY(writeFile(image, imageOf({ "a.txt", "b.txt" })));
    QStringList arguments{ "extract", image, target };
    if (force)
        arguments.insert(1, QStringLiteral("--force"));
    const CommandRun result = run(arguments);
    QCOMPARE(result.exitCode, force ? 0 : 1);
    QCOMPARE(QFileInfo::exists(outside), outsideExists);
    if (outsideExists)
        QCOMPARE(readFile(outside), QByteArray("keep"));
    QCOMPARE(QFileInfo(target + QStringLiteral("/a.txt")).isSymLink(), !force);
    if (force)
        QCOMPARE(readFile(target + QStringLiteral("/a.txt")), QByteArray("0"));
    else
        QVERIFY2(result.err.contains(QLatin1String("entry 0 \"a.txt\" refused: a link")),
                qPrintable(result.err));
    QCOMPARE(readFile(target + QStringLiteral("/b.txt")), QByteArray("1"));
    QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden | QDir::System),
            QStringList({ "a.txt", "b.txt" }));
#else
    QSKIP("symbolic links and FIFOs are POSIX files");
#endif
}

void tst_MiniFsCommand::extractReplacesOnlyWithForce_data()
{
    QTest::addColumn<bool>("force");
    QTest::newRow("refusedWithoutForce") << false;
    QTest::newRow("replacedWithForce") << true;
}

void tst_MiniFsCommand::extractReplacesOnlyWithForce()
{
    QFETCH(bool, force);
    const QString target = work->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(writeFile(target + QStringLiteral("/a.txt"), "older"));
    QVERIFY(writeFile(image, imageOf({ "a.txt" })));
    QStringList arguments{ "extract", image, target };
    if (force)
        arguments.append(QStringLiteral("--force"));
    const CommandRun result = run(arguments);
    QCOMPARE(result.exitCode, force ? 0 : 1);
    QCOMPARE(readFile(target + QStringLiteral("/a.txt")), force ? QByteArray("0") : "older");
    QCOMPARE(
            result.err.contains(QLatin1String("refused: it exists (--force replaces it)")), !force);
    QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden), QStringList({ "a.txt" }));
}

// The same name twice, or two invalid names that decode alike: the first is
// written, the others reported.
void tst_MiniFsCommand::extractReportsRepeatedNames()
{
    QVERIFY(writeFile(image, imageOf({ "a", "a", "\xff", "\xfe" })));
    const QString target = work->filePath(QStringLiteral("target"));
    const CommandRun result = run({ "extract", image, target });
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(readFile(target + QStringLiteral("/a")), QByteArray("0"));
    QVERIFY2(result.err.contains(QLatin1String("entry 1 \"a\" refused: the same name as entry 0")),
            qPrintable(result.err));
    QVERIFY2(result.err.contains(
                     QLatin1String("entry 3 \"\\xfe\" refused: the same name as entry 2")),
            qPrintable(result.err));
    QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// A newline in a stored name cannot forge a row of the listing.
void tst_MiniFsCommand::listEscapesNames()
{
    QVERIFY(writeFile(image, imageOf({ "x\nforged\t9\t9", "\x1b[2J" })));
    const CommandRun listed = run({ "list", image });
    QCOMPARE(listed.exitCode, 0);
    const QStringList rows = listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 5);
    QVERIFY(rows.at(3).startsWith(QLatin1String("x\\x0aforged\\x099\\x099\t1\t")));
    QVERIFY(rows.at(4).startsWith(QLatin1String("\\x1b[2J\t1\t")));
}

// Windows cannot hold them, so it refuses them there; elsewhere they are
// written, with a warning for whoever takes them to Windows.
void tst_MiniFsCommand::extractNamesWindowsCannotHold()
{
    QVERIFY(writeFile(image, imageWith({ "con.txt", "ok.txt", "a:b", "end." })));
    const QString target = work->filePath(QStringLiteral("target"));
    const CommandRun result = run({ "extract", image, target });
    const QStringList unfit{ "entry 0 \"con.txt\"", "entry 2 \"a:b\"", "entry 3 \"end.\"" };
    for (const QString &entry : unfit)
        QVERIFY2(result.err.contains(entry), qPrintable(result.err));
#ifdef Q_OS_WIN
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(QLatin1String("refused: \"CON\" is a device name on Windows")),
            qPrintable(result.err));
    QCOMPARE(QDir(target).entryList(QDir::Files), QStringList({ "ok.txt" }));
#else
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err.count(QLatin1String(": warning: ")), 3);
    QVERIFY2(
            result.err.contains(QLatin1String("cannot be unpacked on Windows: the name holds ':'")),
            qPrintable(result.err));
    QCOMPARE(QDir(target).entryList(QDir::Files, QDir::Name),
            QStringList({ "a:b", "con.txt", "end.", "ok.txt" }));
#endif
}

void tst_MiniFsCommand::rebuildWhileImageIsRead_data()
{
    QTest::addColumn<bool>("downloading"); // else another program reads the image
    QTest::addColumn<bool>("replaced");
    // The file service opens the image so that it may be replaced meanwhile.
    QTest::newRow("download") << true << true;
    // Windows keeps an image that a program opened without delete sharing.
#ifdef Q_OS_WIN
    QTest::newRow("otherProgram") << false << false;
#else
    QTest::newRow("otherProgram") << false << true;
#endif
}

void tst_MiniFsCommand::rebuildWhileImageIsRead()
{
    QFETCH(bool, downloading);
    QFETCH(bool, replaced);
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "old"));
    QCOMPARE(run({ "build", source, "-o", image }).exitCode, 0);
    const QByteArray old = readFile(image);
    QFile reading(image);
    QVERIFY(downloading ? RegularFile::open(reading, image) : reading.open(QIODevice::ReadOnly));
    QCOMPARE(reading.read(4), old.left(4));
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "the new content"));

    const CommandRun result = run({ "build", source, "-o", image });

    QCOMPARE(result.exitCode, replaced ? 0 : 1);
    // The reader goes on with the old image, whole.
    QCOMPARE(reading.readAll(), old.mid(4));
    reading.close();
    QCOMPARE(readFile(image) == old, !replaced);
    if (!replaced) {
        QVERIFY2(result.err.startsWith(QStringLiteral("ondaspa-cli minifs build: cannot write %1: "
                                                      "in use by another program (")
                                               .arg(image)),
                qPrintable(result.err));
        QVERIFY(result.err.endsWith(QLatin1String("); the old image is unchanged\n")));
        QVERIFY2(result.out.contains(QStringLiteral("文件正在使用：")), qPrintable(result.out));
        QVERIFY(result.out.endsWith(QStringLiteral("\n写入失败!\n")));
    }
    // No temporary file or old image is left beside it.
    QCOMPARE(QDir(QFileInfo(image).path()).entryList(QDir::Files | QDir::Hidden),
            QStringList({ QFileInfo(image).fileName() }));
}

QTEST_GUILESS_MAIN(tst_MiniFsCommand)
#include "tst_minifscommand.moc"
