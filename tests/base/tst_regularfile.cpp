#include "regularfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// Opening files without blocking: a FIFO is refused (or fails to read)
// at once instead of waiting for a writer.
class tst_RegularFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void open_data();
    void open();
    void openListed_data();
    void openListed();

private:
    QTemporaryDir folder;
};

void tst_RegularFile::initTestCase()
{
    QVERIFY(folder.isValid());
    QFile file(folder.filePath(QStringLiteral("plain")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write("content"), qint64(7));
    file.close();
    QVERIFY(QFile::link(file.fileName(), folder.filePath(QStringLiteral("link"))));
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("folder")));
    QCOMPARE(::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("fifo"))).constData(), 0600),
            0);
}

void tst_RegularFile::open_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("opened");

    QTest::newRow("regularFile") << "plain" << true;
    QTest::newRow("linkToRegularFile") << "link" << true;
    QTest::newRow("fifo") << "fifo" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("missing") << "missing" << false;
}

void tst_RegularFile::open()
{
    QFETCH(QString, name);
    QFETCH(bool, opened);

    QFile file;
    QCOMPARE(RegularFile::open(file, folder.filePath(name)), opened);
    QCOMPARE(file.isOpen(), opened);
    if (opened) {
        QCOMPARE(file.openMode(), QIODevice::ReadOnly | QIODevice::Unbuffered);
        QCOMPARE(file.readAll(), QByteArray("content"));
    }
}

void tst_RegularFile::openListed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("opened");

    QTest::newRow("regularFile") << "plain" << true;
    // Swapped in after the listing: neither is read in the listed file's place.
    QTest::newRow("linkNotFollowed") << "link" << false;
    QTest::newRow("fifoRefusedAtOnce") << "fifo" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("missing") << "missing" << false;
}

void tst_RegularFile::openListed()
{
    QFETCH(QString, name);
    QFETCH(bool, opened);
    QFile file;
    QCOMPARE(RegularFile::open_listed(file, folder.filePath(name)), opened);
    QCOMPARE(file.isOpen(), opened);
    if (opened)
        QCOMPARE(file.readAll(), QByteArray("content"));
}

QTEST_APPLESS_MAIN(tst_RegularFile)
#include "tst_regularfile.moc"
