#include "logboxmenu.h"
#include "minifs.h"
#include "minifsimage.h"
#include "modalboxcatcher.h"
#include "windowchecks.h"
#include "wiringguard.h"
#include "writelimit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <optional>

namespace {

// Longest a build of a few bytes may take, with the 100 ms start delay.
constexpr int buildTimeoutMilliseconds = 5000;
// Time after a build in which a second, unwanted build would have started.
constexpr int settleMilliseconds = 300;

QString imagePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/html/minifs_rom.img");
}

QString storedPath()
{
    return QSettings(QStringLiteral("./config.ini"), QSettings::IniFormat)
            .value(QStringLiteral("MINIFS_PATH"))
            .toString();
}

// What a start-flow row prepares besides the source folder.
enum Setup {
    Plain,
    ImageBlocked, // a folder stands where the image goes
    Huge, // the source adds up to more than 4 GiB (sparse files)
    WritesLimited // writes beyond a few bytes fail
};

} // namespace

class tst_minifs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void formAndWindow();
    void wiringHasNoWarnings();
    void pathReadFromSettings();
    void chooserStoresFolder_data();
    void chooserStoresFolder();
    void typedPathIsNotStored();
    void startRunsOneBuild_data();
    void startRunsOneBuild();
    void versionOutsideLatin1IsStoredAndSaid();
    void closeEmitsExitWin();

private:
    std::unique_ptr<QTemporaryDir> work;
};

void tst_minifs::init()
{
    // Each test gets its own working directory, hence its own config.ini.
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    QVERIFY(QDir::setCurrent(work->path()));
    QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/html")).removeRecursively();
}

void tst_minifs::cleanup()
{
    QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/html")).removeRecursively();
}

void tst_minifs::formAndWindow()
{
    minifs window;
    QCOMPARE(window.windowTitle(), QStringLiteral("MiniFs合成工具"));
    QCOMPARE(window.objectName(), QStringLiteral("minifs"));
    QVERIFY(window.isWindow());
    QVERIFY(hasOnlyCloseButton(window));
    QCOMPARE(window.minimumSize(), QSize(423, 574));
    QCOMPARE(window.size(), QSize(423, 574));

    QCOMPARE(child<QLabel>(window, "label_2")->text(), QStringLiteral("保存路径："));
    QCOMPARE(child<QLabel>(window, "label_3")->text(), QStringLiteral("版本定义："));
    const auto *path = child<QLineEdit>(window, "path_minifs");
    QVERIFY(path->text().isEmpty());
    QCOMPARE(path->placeholderText(), QStringLiteral("x:\\文件路径:目标文件夹位置"));
    QVERIFY(!path->isReadOnly());
    QCOMPARE(child<QLineEdit>(window, "minifs_version")->maxLength(), 8);
    QCOMPARE(child<QPushButton>(window, "minifs_start")->text(), QStringLiteral("开始合成"));
    QCOMPARE(child<QPushButton>(window, "minifs_choice")->text(), QStringLiteral("路径选择"));
    QVERIFY(child<QPlainTextEdit>(window, "minifs_debug_box")->isReadOnly());
    QVERIFY(child<QPlainTextEdit>(window, "minifs_debug_box")->findChild<LogBoxMenu *>());
    const QList<QTimer *> timers =
            window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first()->interval(), 100);
    QVERIFY(!timers.first()->isActive());
}

void tst_minifs::wiringHasNoWarnings()
{
    WiringGuard guard;
    minifs window;
    QVERIFY2(guard.problems().isEmpty(), qPrintable(guard.problems().join(QLatin1Char('\n'))));
}

void tst_minifs::pathReadFromSettings()
{
    QSettings(QStringLiteral("./config.ini"), QSettings::IniFormat)
            .setValue(QStringLiteral("MINIFS_PATH"), QStringLiteral("/srv/网页"));
    minifs window;
    QCOMPARE(child<QLineEdit>(window, "path_minifs")->text(), QStringLiteral("/srv/网页"));
}

void tst_minifs::chooserStoresFolder_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expected");
    QTest::newRow("chosen") << "/srv/资源"
                            << "/srv/资源";
    QTest::newRow("cancelled") << QString() << "/typed";
}

void tst_minifs::chooserStoresFolder()
{
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    {
        minifs window;
        child<QLineEdit>(window, "path_minifs")->setText(QStringLiteral("/typed"));
        QWidget *parentSeen = nullptr;
        QString captionSeen;
        QString startSeen;
        window.setFolderChooser([&](QWidget *parent, const QString &caption, const QString &start) {
            parentSeen = parent;
            captionSeen = caption;
            startSeen = start;
            return chosen;
        });
        QTest::mouseClick(child<QPushButton>(window, "minifs_choice"), Qt::LeftButton);
        QCOMPARE(parentSeen, &window);
        QCOMPARE(captionSeen, QStringLiteral("请选择目标文件夹位置..."));
        QCOMPARE(startSeen, QStringLiteral("/typed"));
        QCOMPARE(child<QLineEdit>(window, "path_minifs")->text(), expected);
    }
    QCOMPARE(storedPath(), chosen);
}

void tst_minifs::typedPathIsNotStored()
{
    QVERIFY(QDir(work->path()).mkdir(QStringLiteral("source")));
    {
        minifs window;
        ModalBoxCatcher catcher;
        child<QLineEdit>(window, "path_minifs")->setText(work->filePath(QStringLiteral("source")));
        QTest::mouseClick(child<QPushButton>(window, "minifs_start"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
                child<QPushButton>(window, "minifs_start")->isEnabled(), buildTimeoutMilliseconds);
        QCOMPARE(catcher.texts(), QStringList({ "<font size=16>合成成功!</font>" }));
    }
    QVERIFY(storedPath().isEmpty());
}

void tst_minifs::startRunsOneBuild_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<int>("boxIcon");
    QTest::addColumn<QString>("lastLogLine");
    const int warning = QMessageBox::Warning;
    // FOLDER and IMAGE stand for the full paths.
    QTest::newRow("built") << "source" << int(Plain) << "<font size=16>合成成功!</font>"
                           << int(QMessageBox::Information) << "IMG文件位置：IMAGE (90 bytes)";
    QTest::newRow("path-empty") << "" << int(Plain) << "<font size=16>当前路径未设置！</font>"
                                << warning << "earlier line";
    QTest::newRow("folder-missing") << "missing" << int(Plain) << QString()
                                    << int(QMessageBox::NoIcon) << "文件夹不存在：FOLDER";
    QTest::newRow("image-not-openable")
            << "source" << int(ImageBlocked) << "<font size=16>打开失败!</font>" << warning
            << "earlier line";
    QTest::newRow("too-large") << "source" << int(Huge) << "<font size=16>文件总大小超过4GB!</font>"
                               << warning << "earlier line";
    QTest::newRow("write-failed") << "source" << int(WritesLimited)
                                  << "<font size=16>写入失败!</font>" << warning << "写入失败!";
}

void tst_minifs::startRunsOneBuild()
{
    QFETCH(QString, folder);
    QFETCH(int, setup);
    QFETCH(QString, boxText);
    QFETCH(int, boxIcon);
    QFETCH(QString, lastLogLine);
    QVERIFY(QDir(work->path()).mkdir(QStringLiteral("source")));
    QFile content(work->filePath(QStringLiteral("source/页面.html")));
    QVERIFY(content.open(QIODevice::WriteOnly) && content.write("<html>") == 6);
    content.close();
    if (setup == ImageBlocked)
        QVERIFY(QDir().mkpath(imagePath()));
    for (const char *name : { "a.bin", "b.bin" }) {
        QFile sparse(work->filePath(QStringLiteral("source/") + QLatin1String(name)));
        QVERIFY(setup != Huge
                || (sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(1) << 31)));
    }

    minifs window;
    ModalBoxCatcher catcher;
    auto *start = child<QPushButton>(window, "minifs_start");
    auto *log = child<QPlainTextEdit>(window, "minifs_debug_box");
    log->setPlainText(QStringLiteral("earlier line"));
    child<QLineEdit>(window, "path_minifs")
            ->setText(folder.isEmpty() ? QString() : work->filePath(folder));
    child<QLineEdit>(window, "minifs_version")->setText(QStringLiteral("V2"));
    QTimer *timer = window.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);

    std::optional<WriteLimit> writeLimit;
    if (setup == WritesLimited)
        QVERIFY(writeLimit.emplace(8).active);
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!start->isEnabled());
    QVERIFY(timer->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), buildTimeoutMilliseconds);
    writeLimit.reset();
    QVERIFY(!timer->isActive());
    QTest::qWait(settleMilliseconds);

    QCOMPARE(catcher.boxes().size(), boxText.isEmpty() ? 0 : 1);
    if (!boxText.isEmpty()) {
        QCOMPARE(catcher.boxes().first().title, QStringLiteral("提示"));
        QCOMPARE(catcher.boxes().first().text, boxText);
        QCOMPARE(int(catcher.boxes().first().icon), boxIcon);
    }
    lastLogLine.replace(QStringLiteral("FOLDER"), work->filePath(folder));
    lastLogLine.replace(QStringLiteral("IMAGE"), imagePath());
    const QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.constLast(), lastLogLine);
    QCOMPARE(lines.count(lastLogLine), 1);
    QCOMPARE(QFileInfo(imagePath()).isFile(), boxIcon == QMessageBox::Information);
    if (boxIcon == QMessageBox::Information) {
        QFile image(imagePath());
        QVERIFY(image.open(QIODevice::ReadOnly));
        MiniFsImage checked;
        QVERIFY2(checked.read(&image), qPrintable(checked.errorString()));
        QCOMPARE(checked.version(), QStringLiteral("V2"));
        QCOMPARE(checked.entries().first().name, QStringLiteral("页面.html").toUtf8());
        QCOMPARE(lines.first(), QStringLiteral("开始合成文件："));
    }
}

// The window stores what Latin-1 cannot hold as "?", and its log says so.
void tst_minifs::versionOutsideLatin1IsStoredAndSaid()
{
    QVERIFY(QDir(work->path()).mkdir(QStringLiteral("source")));
    minifs window;
    ModalBoxCatcher catcher;
    child<QLineEdit>(window, "path_minifs")->setText(work->filePath(QStringLiteral("source")));
    child<QLineEdit>(window, "minifs_version")->setText(QStringLiteral("版本2"));
    QTest::mouseClick(child<QPushButton>(window, "minifs_start"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
            child<QPushButton>(window, "minifs_start")->isEnabled(), buildTimeoutMilliseconds);
    QVERIFY(child<QPlainTextEdit>(window, "minifs_debug_box")
                    ->toPlainText()
                    .contains(QStringLiteral("注意:版本\"版本2\"已存为\"??2\"")));
    QFile image(imagePath());
    QVERIFY(image.open(QIODevice::ReadOnly));
    MiniFsImage read;
    QVERIFY(read.read(&image));
    QCOMPARE(read.version(), QStringLiteral("??2"));
}

void tst_minifs::closeEmitsExitWin()
{
    minifs window;
    QSignalSpy exits(&window, &minifs::ExitWin);
    for (int round = 1; round <= 2; ++round) {
        window.show();
        QVERIFY(window.close());
        QCOMPARE(exits.count(), round);
        QVERIFY(!window.isVisible());
    }
}

QTEST_MAIN(tst_minifs)
#include "tst_minifs.moc"
