#include "settingsfolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Where the window keeps config.ini: the working directory while it can be
// written; on Windows the per-user folder otherwise.
class tst_SettingsFolder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void isWritable_data();
    void isWritable();
    void readOnlySettingsFileIsNotWritable();
    void choose_data();
    void choose();
    void applyMovesOnlyWhereTheSystemNeedsIt();

private:
    // A folder in which config.ini cannot be written: the name is taken by a folder.
    QString unwritable_folder(const QString &name);

    std::unique_ptr<QTemporaryDir> work;
    QString start_folder;
};

void tst_SettingsFolder::initTestCase()
{
    // The per-user folder of a test, not the user's own.
    QStandardPaths::setTestModeEnabled(true);
    start_folder = QDir::currentPath();
}

void tst_SettingsFolder::init()
{
    work.reset(new QTemporaryDir);
    QVERIFY(work->isValid());
}

void tst_SettingsFolder::cleanup()
{
    QDir::setCurrent(start_folder);
    work.reset();
}

void tst_SettingsFolder::cleanupTestCase()
{
    QDir(SettingsFolder::per_user_folder()).removeRecursively();
}

QString tst_SettingsFolder::unwritable_folder(const QString &name)
{
    const QString folder = work->filePath(name);
    QDir().mkpath(folder + QStringLiteral("/config.ini"));
    return folder;
}

void tst_SettingsFolder::isWritable_data()
{
    QTest::addColumn<QString>("setup"); // "empty", "settings", "taken" or "missing"
    QTest::addColumn<bool>("writable");
    QTest::newRow("emptyFolder") << "empty" << true;
    QTest::newRow("existingSettings") << "settings" << true;
    QTest::newRow("nameTakenByFolder") << "taken" << false;
    QTest::newRow("missingFolder") << "missing" << false;
}

void tst_SettingsFolder::isWritable()
{
    QFETCH(QString, setup);
    QFETCH(bool, writable);
    QString folder = work->filePath(QStringLiteral("folder"));
    if (setup == QLatin1String("taken"))
        folder = unwritable_folder(QStringLiteral("folder"));
    else if (setup != QLatin1String("missing"))
        QVERIFY(QDir().mkpath(folder));
    const QByteArray settings("[UPDATE]\nQZPORT=81\n");
    if (setup == QLatin1String("settings")) {
        QFile file(folder + QStringLiteral("/config.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(settings), qint64(settings.size()));
    }
    const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    QCOMPARE(SettingsFolder::is_writable(folder), writable);

    // The probe leaves the folder as it was.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    if (setup == QLatin1String("settings")) {
        QFile file(folder + QStringLiteral("/config.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), settings);
    }
}

// As the installed folder is for a normal user on Windows.
void tst_SettingsFolder::readOnlySettingsFileIsNotWritable()
{
    QFile file(work->filePath(QStringLiteral("config.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadUser));
    if (file.open(QIODevice::ReadWrite))
        QSKIP("this user writes read-only files (root)");
    QVERIFY(!SettingsFolder::is_writable(work->path()));
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
}

void tst_SettingsFolder::choose_data()
{
    QTest::addColumn<bool>("working_writable");
    QTest::addColumn<QString>("per_user"); // "missing", "taken" or "none"
    QTest::addColumn<QString>("chosen"); // "working" or "per_user"
    QTest::newRow("workingWritable") << true << "missing"
                                     << "working";
    QTest::newRow("perUserMadeWhenMissing") << false << "missing"
                                            << "per_user";
    QTest::newRow("perUserUnwritableToo") << false << "taken"
                                          << "working";
    QTest::newRow("noPerUserFolder") << false << "none"
                                     << "working";
}

void tst_SettingsFolder::choose()
{
    QFETCH(bool, working_writable);
    QFETCH(QString, per_user);
    QFETCH(QString, chosen);
    const QString working =
            working_writable ? work->path() : unwritable_folder(QStringLiteral("working"));
    QString per_user_folder;
    if (per_user == QLatin1String("missing"))
        per_user_folder = work->filePath(QStringLiteral("user/ondaspa"));
    else if (per_user == QLatin1String("taken"))
        per_user_folder = unwritable_folder(QStringLiteral("user"));

    const QString result = SettingsFolder::choose(working, per_user_folder);

    QCOMPARE(result, chosen == QLatin1String("working") ? working : per_user_folder);
    QCOMPARE(QFileInfo(per_user_folder).isDir(),
            per_user == QLatin1String("taken") || chosen == QLatin1String("per_user"));
}

void tst_SettingsFolder::applyMovesOnlyWhereTheSystemNeedsIt()
{
    const QString working = unwritable_folder(QStringLiteral("installed"));
    QVERIFY(QDir::setCurrent(working));

    const QString left = SettingsFolder::apply();

    if (SettingsFolder::moves_when_unwritable) {
        QCOMPARE(QDir::cleanPath(left), QDir::cleanPath(working));
        QCOMPARE(QDir::cleanPath(QDir::currentPath()),
                QDir::cleanPath(SettingsFolder::per_user_folder()));
        QVERIFY(SettingsFolder::is_writable(QDir::currentPath()));
    } else {
        QVERIFY(left.isEmpty());
        QCOMPARE(QDir::cleanPath(QDir::currentPath()), QDir::cleanPath(working));
    }
    // A working directory that can be written is kept everywhere.
    QVERIFY(QDir::setCurrent(work->path()));
    QVERIFY(SettingsFolder::apply().isEmpty());
    QCOMPARE(QDir::cleanPath(QDir::currentPath()), QDir::cleanPath(work->path()));
}

QTEST_GUILESS_MAIN(tst_SettingsFolder)
#include "tst_settingsfolder.moc"
