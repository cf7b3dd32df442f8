#include "filereplace.h"
#include "regularfile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

// Replacing a file while it is read, as a rebuild of the image does while a
// device downloads it.
class tst_FileReplace : public QObject
{
    Q_OBJECT

private slots:
    void replace_data();
    void replace();

private:
    // Writes content to path through a QSaveFile and commits it by FileReplace.
    static FileReplace::Result save(
            const QString &path, const QByteArray &content, QString *reason);
};

namespace {

const QByteArray old_content(100000, 'o');
const QByteArray new_content("new image");

// Windows refuses to rename or delete a file that a handle without delete
// sharing holds open; Unix renames over it.
#ifdef Q_OS_WIN
constexpr FileReplace::Result held_without_sharing = FileReplace::InUse;
#else
constexpr FileReplace::Result held_without_sharing = FileReplace::Replaced;
#endif

} // namespace

FileReplace::Result tst_FileReplace::save(
        const QString &path, const QByteArray &content, QString *reason)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return FileReplace::Failed;
    return FileReplace::commit(file, reason);
}

void tst_FileReplace::replace_data()
{
    QTest::addColumn<QString>("reader"); // "none", "download" (RegularFile) or "other" (QFile)
    QTest::addColumn<bool>("old_exists");
    QTest::addColumn<int>("result");
    QTest::newRow("newFile") << "none" << false << int(FileReplace::Replaced);
    QTest::newRow("nobodyReads") << "none" << true << int(FileReplace::Replaced);
    // The file service opens with delete sharing, so the rebuild goes through everywhere.
    QTest::newRow("downloadUnderWay") << "download" << true << int(FileReplace::Replaced);
    // Qt's own open on Windows shares the file for reading and writing only.
    QTest::newRow("otherProgramReads") << "other" << true << int(held_without_sharing);
}

void tst_FileReplace::replace()
{
    QFETCH(QString, reader);
    QFETCH(bool, old_exists);
    QFETCH(int, result);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("minifs_rom.img"));
    if (old_exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(old_content), qint64(old_content.size()));
    }
    QFile reading;
    if (reader == QLatin1String("download"))
        QVERIFY(RegularFile::open(reading, path));
    if (reader == QLatin1String("other")) {
        reading.setFileName(path);
        QVERIFY(reading.open(QIODevice::ReadOnly));
    }
    // The reader is part way through.
    if (reading.isOpen())
        QCOMPARE(reading.read(10), old_content.left(10));

    QString reason;
    QCOMPARE(int(save(path, new_content, &reason)), result);

    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), result == FileReplace::Replaced ? new_content : old_content);
    written.close();
    QCOMPARE(reason.isEmpty(), result == FileReplace::Replaced);
    // The reader goes on reading the old content whole.
    if (reading.isOpen())
        QCOMPARE(reading.readAll(), old_content.mid(10));
    reading.close();
    // Nothing is left beside it once the reader is done: no new file, no old one put aside.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList{ QStringLiteral("minifs_rom.img") });
}

QTEST_APPLESS_MAIN(tst_FileReplace)
#include "tst_filereplace.moc"
