#include "minifsbuilder.h"
#include "minifsbuildlistener.h"
#include "regularfile.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class RecordingListener : public MiniFsBuildListener
{
public:
    void logCleared() override { }
    void logLine(const QString &line) override { lines << line; }
    void debugLine(const QString &) override { }

    QStringList lines;
};

const QByteArray old_image(200000, 'o');

// Windows refuses to move a file that a handle without delete sharing holds
// open; Unix renames over it.
#ifdef Q_OS_WIN
constexpr bool other_reader_blocks = true;
#else
constexpr bool other_reader_blocks = false;
#endif

} // namespace

// Rebuilding the image while it is being read: a device's download (opened
// as the file service opens it) goes on with the old image whole, and where
// another program holds it so that it cannot be replaced, the build says so
// in plain words and leaves the old image whole.
class tst_MiniFsRebuild : public QObject
{
    Q_OBJECT

private slots:
    void rebuildWhileRead_data();
    void rebuildWhileRead();
};

void tst_MiniFsRebuild::rebuildWhileRead_data()
{
    QTest::addColumn<bool>("download"); // opened by RegularFile, else by QFile
    QTest::addColumn<bool>("refused");
    QTest::newRow("deviceDownloading") << true << false;
    QTest::newRow("otherProgramReading") << false << other_reader_blocks;
}

void tst_MiniFsRebuild::rebuildWhileRead()
{
    QFETCH(bool, download);
    QFETCH(bool, refused);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString source = work.filePath(QStringLiteral("source"));
    const QString image_path = work.filePath(QStringLiteral("minifs_rom.img"));
    QVERIFY(QDir().mkpath(source));
    QVERIFY(writeFile(source + QStringLiteral("/index.html"), "new content"));
    QVERIFY(writeFile(image_path, old_image));

    QFile reading;
    if (download) {
        QVERIFY(RegularFile::open(reading, image_path));
    } else {
        reading.setFileName(image_path);
        QVERIFY(reading.open(QIODevice::ReadOnly));
    }
    QCOMPARE(reading.read(10), old_image.left(10));

    RecordingListener listener;
    MiniFsBuilder builder(listener);
    const MiniFsBuilder::Outcome outcome = builder.build(source, QString(), image_path);

    QCOMPARE(outcome, refused ? MiniFsBuilder::WriteFailed : MiniFsBuilder::Built);
    const QStringList in_use = listener.lines.filter(QStringLiteral("文件正在使用："));
    QCOMPARE(in_use.size(), refused ? 1 : 0);
    if (refused) {
        QVERIFY2(in_use.first().contains(QDir::toNativeSeparators(image_path))
                        && in_use.first().endsWith(QStringLiteral("，旧文件未改变")),
                qPrintable(in_use.first()));
        QVERIFY(builder.errorString().startsWith(QLatin1String("in use by another program (")));
        QCOMPARE(listener.lines.constLast(), QStringLiteral("写入失败!"));
    }
    // The reader's old image stays whole to its end.
    QCOMPARE(reading.readAll(), old_image.mid(10));
    reading.close();
    const QByteArray now = readFile(image_path);
    QVERIFY(refused ? now == old_image : now.startsWith("M0-MINIFS"));
    // Neither the new image's temporary file nor the old one put aside is left.
    QCOMPARE(QDir(work.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList{ QStringLiteral("minifs_rom.img") });
}

QTEST_APPLESS_MAIN(tst_MiniFsRebuild)
#include "tst_minifsrebuild.moc"
