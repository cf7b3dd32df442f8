#include "logboxmenu.h"
#include "modalboxcatcher.h"
#include "sound.h"
#include "spthread.h"
#include "unreadablefile.h"
#include "wavfile.h"
#include "windowchecks.h"
#include "wiringguard.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Longest wait for the worker: it polls every 500 ms.
constexpr int workerTimeoutMs = 10000;

const WavFile workedExample = WavFile::withSamples({ 0, 1000, 2000, 1000 });

} // namespace

class tst_Sound : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowAndForm();
    void wiringHasNoWarnings();
    void storedPathShown_data();
    void storedPathShown();
    void chooserStoresChoice();
    void codesGiveBoxes_data();
    void codesGiveBoxes();
    void openFailureBoxOneAtATime();
    void emptyPathWarnsAndReenables();
    void runClearsLogAndFinishes();
    void missingFolderNamedInLog();
    void unreadableFileCountsAsFailure();
    void runWithUnwritableTargets();
    void runContinuesWhileHidden();
    void destroyedDuringRun();

private:
    void makeWindow();
    // Starts a run on folder by hand and waits until it is over.
    void runOn(const QString &folder);
    QStringList logLines() const;

    QScopedPointer<QTemporaryDir> scratch;
    QScopedPointer<sound> window;
    QString in;
    QString out;
};

void tst_Sound::init()
{
    scratch.reset(new QTemporaryDir);
    QVERIFY(scratch->isValid());
    // The window's settings file is "./config.ini" in the working directory.
    QVERIFY(QDir::setCurrent(scratch->path()));
    in = scratch->filePath(QStringLiteral("in"));
    out = scratch->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(in));
}

void tst_Sound::cleanup()
{
    window.reset();
    QDir::setCurrent(QDir::tempPath());
}

void tst_Sound::makeWindow()
{
    window.reset(new sound);
    window->findChild<SPThread *>()->setOutputFolder(out);
}

void tst_Sound::runOn(const QString &folder)
{
    auto *start = child<QPushButton>(*window, "sound_start");
    child<QLineEdit>(*window, "path_sound")->setText(folder);
    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), workerTimeoutMs);
}

QStringList tst_Sound::logLines() const
{
    return window->findChild<QPlainTextEdit *>(QStringLiteral("sound_debug_box"))
            ->toPlainText()
            .split(QLatin1Char('\n'));
}

void tst_Sound::windowAndForm()
{
    sound window;
    QCOMPARE(window.windowTitle(), QStringLiteral("音频压缩工具"));
    QCOMPARE(window.objectName(), QStringLiteral("sound"));
    QVERIFY(window.isWindow());
    QVERIFY(hasOnlyCloseButton(window));
    QCOMPARE(window.minimumSize(), QSize(423, 574));
    QCOMPARE(window.size(), QSize(423, 574));

    QCOMPARE(child<QLabel>(window, "label_2")->text(), QStringLiteral("转换路径："));
    auto *path = child<QLineEdit>(window, "path_sound");
    QCOMPARE(path->placeholderText(), QStringLiteral("x:\\文件路径:目标文件夹位置"));
    QVERIFY(!path->isReadOnly());
    QCOMPARE(path->cursorMoveStyle(), Qt::VisualMoveStyle);
    QCOMPARE(child<QPushButton>(window, "sound_choice")->text(), QStringLiteral("路径选择"));
    QCOMPARE(child<QPushButton>(window, "sound_choice")->styleSheet(),
            QStringLiteral("color: rgb(255, 0, 0);"));
    QCOMPARE(child<QPushButton>(window, "sound_start")->text(), QStringLiteral("压缩音频"));
    QCOMPARE(child<QPushButton>(window, "sound_start")->font().pointSize(), 22);
    QVERIFY(child<QPlainTextEdit>(window, "sound_debug_box")->isReadOnly());
    QCOMPARE(child<QPlainTextEdit>(window, "sound_debug_box")->font().pointSize(), 12);
    QVERIFY(child<QPlainTextEdit>(window, "sound_debug_box")->findChild<LogBoxMenu *>());

    QSignalSpy exits(&window, SIGNAL(ExitWin()));
    window.show();
    window.close();
    QCOMPARE(exits.count(), 1);
    QVERIFY(!window.isVisible());
}

void tst_Sound::wiringHasNoWarnings()
{
    WiringGuard guard;
    {
        sound window;
    }
    QVERIFY2(guard.problems().isEmpty(), qPrintable(guard.problems().join('\n')));
}

void tst_Sound::storedPathShown_data()
{
    QTest::addColumn<bool>("stored");
    QTest::newRow("keyAbsent") << false;
    QTest::newRow("keyPresent") << true;
}

void tst_Sound::storedPathShown()
{
    QFETCH(bool, stored);
    if (stored)
        QSettings(QStringLiteral("./config.ini"), QSettings::IniFormat)
                .setValue(QStringLiteral("SOUND_PATH"), QStringLiteral("D:/音频"));
    makeWindow();
    QCOMPARE(child<QLineEdit>(*window, "path_sound")->text(),
            stored ? QStringLiteral("D:/音频") : QString());
}

void tst_Sound::chooserStoresChoice()
{
    makeWindow();
    QString answer;
    QStringList asked;
    window->setFolderChooser([&](QWidget *parent, const QString &caption, const QString &start) {
        asked << caption << start;
        return parent == window.data() ? answer : QString();
    });
    auto *path = child<QLineEdit>(*window, "path_sound");
    path->setText(QStringLiteral("typed"));

    QTest::mouseClick(child<QPushButton>(*window, "sound_choice"), Qt::LeftButton);
    QCOMPARE(asked,
            QStringList({ QStringLiteral("请选择目标文件夹位置..."), QStringLiteral("typed") }));
    QCOMPARE(path->text(), QStringLiteral("typed"));

    answer = in;
    QTest::mouseClick(child<QPushButton>(*window, "sound_choice"), Qt::LeftButton);
    QCOMPARE(path->text(), in);
    QCOMPARE(QSettings(QStringLiteral("./config.ini"), QSettings::IniFormat)
                     .value(QStringLiteral("SOUND_PATH"))
                     .toString(),
            in);
}

void tst_Sound::codesGiveBoxes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    QTest::newRow("code-1") << 1 << QStringLiteral("<font size=16>当前路径未设置！</font>")
                            << int(QMessageBox::Warning);
    QTest::newRow("code-2") << 2 << QStringLiteral("<font size=16>打开失败!</font>")
                            << int(QMessageBox::Warning);
    QTest::newRow("code-3") << 3 << QStringLiteral("<font size=16>压缩结束!</font>")
                            << int(QMessageBox::Information);
    QTest::newRow("code-0") << 0 << QString() << 0;
    QTest::newRow("code-4-ignored") << 4 << QString() << 0;
}

void tst_Sound::codesGiveBoxes()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(int, icon);
    makeWindow();
    ModalBoxCatcher catcher;
    auto *start = child<QPushButton>(*window, "sound_start");
    start->setEnabled(false);
    QVERIFY(QMetaObject::invokeMethod(window.data(), "ui_code_stop", Q_ARG(int, code)));
    QCOMPARE(start->isEnabled(), code == 0);
    if (text.isEmpty()) {
        QVERIFY(catcher.boxes().isEmpty());
        return;
    }
    QCOMPARE(catcher.boxes().size(), 1);
    QCOMPARE(catcher.boxes().first().title, QStringLiteral("提示"));
    QCOMPARE(catcher.boxes().first().text, text);
    QCOMPARE(int(catcher.boxes().first().icon), icon);
}

void tst_Sound::openFailureBoxOneAtATime()
{
    makeWindow();
    ModalBoxCatcher catcher;
    // Queued, so the second and third arrive while the first box is open.
    for (int i = 0; i < 3; ++i)
        QVERIFY(QMetaObject::invokeMethod(
                window.data(), "ui_code_stop", Qt::QueuedConnection, Q_ARG(int, 2)));
    QTRY_COMPARE(catcher.boxes().size(), 1);
    QTest::qWait(50);
    QCOMPARE(catcher.boxes().size(), 1);
    // Once closed, the next failure gets its box again.
    QVERIFY(QMetaObject::invokeMethod(window.data(), "ui_code_stop", Q_ARG(int, 2)));
    QCOMPARE(catcher.texts(),
            QStringList({ QStringLiteral("<font size=16>打开失败!</font>"),
                    QStringLiteral("<font size=16>打开失败!</font>") }));
}

void tst_Sound::emptyPathWarnsAndReenables()
{
    makeWindow();
    ModalBoxCatcher catcher;
    auto *start = child<QPushButton>(*window, "sound_start");
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!start->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), workerTimeoutMs);
    QCOMPARE(catcher.texts(),
            QStringList({ QStringLiteral("<font size=16>当前路径未设置！</font>") }));
}

void tst_Sound::runClearsLogAndFinishes()
{
    QVERIFY(workedExample.write(in + QStringLiteral("/a.wav")));
    makeWindow();
    ModalBoxCatcher catcher;
    QVERIFY(QMetaObject::invokeMethod(
            window.data(), "ui_string_debug", Q_ARG(QString, QStringLiteral("earlier line"))));
    runOn(in);

    QCOMPARE(logLines(),
            QStringList({ QStringLiteral("开始压缩:"), QStringLiteral("压缩:a.wav >> 46bytes 成功"),
                    QStringLiteral("压缩结束:"), QStringLiteral("压缩成功文件数:1个"),
                    QStringLiteral("压缩失败文件数:0个"), QStringLiteral("文件夹中文件数:1个") }));
    QCOMPARE(catcher.texts(), QStringList({ QStringLiteral("<font size=16>压缩结束!</font>") }));
    QVERIFY(QFileInfo::exists(out + QStringLiteral("/a.wav")));
    // A typed path is used but not remembered.
    QVERIFY(!QSettings(QStringLiteral("./config.ini"), QSettings::IniFormat)
                     .contains(QStringLiteral("SOUND_PATH")));
}

void tst_Sound::missingFolderNamedInLog()
{
    makeWindow();
    ModalBoxCatcher catcher;
    QVERIFY(QMetaObject::invokeMethod(
            window.data(), "ui_string_debug", Q_ARG(QString, QStringLiteral("earlier line"))));
    const QString missing = in + QStringLiteral("/不存在");
    runOn(missing);
    QCOMPARE(logLines(),
            QStringList(
                    { QStringLiteral("earlier line"), QStringLiteral("文件夹不存在:") + missing }));
    QVERIFY(catcher.boxes().isEmpty());
}

// The worker thread starts with the window, so it takes the test thread's
// capabilities: permissions hold for it also when the tests run as root.
void tst_Sound::unreadableFileCountsAsFailure()
{
    QVERIFY(workedExample.write(in + QStringLiteral("/a.wav")));
    QVERIFY(workedExample.write(in + QStringLiteral("/b.wav")));
    QVERIFY(makeUnreadable(in + QStringLiteral("/b.wav")));
    const FilePermissionsEnforced enforced;
    makeWindow();
    ModalBoxCatcher catcher;
    runOn(in);
    QCOMPARE(logLines(),
            QStringList({ QStringLiteral("开始压缩:"), QStringLiteral("压缩:a.wav >> 46bytes 成功"),
                    QStringLiteral("跳过:b.wav(无法打开)"), QStringLiteral("压缩结束:"),
                    QStringLiteral("压缩成功文件数:1个"), QStringLiteral("压缩失败文件数:1个"),
                    QStringLiteral("文件夹中文件数:1个") }));
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/b.wav")));
}

void tst_Sound::runWithUnwritableTargets()
{
    for (const char *name : { "a.wav", "b.wav", "c.wav" }) {
        QVERIFY(workedExample.write(in + QLatin1Char('/') + QLatin1String(name)));
        QVERIFY(QDir().mkpath(out + QLatin1Char('/') + QLatin1String(name)));
    }
    makeWindow();
    ModalBoxCatcher catcher;
    runOn(in);
    QVERIFY(catcher.texts().contains(QStringLiteral("<font size=16>打开失败!</font>")));
    // The summary's box may open inside the still open failure box.
    QVERIFY(catcher.texts().contains(QStringLiteral("<font size=16>压缩结束!</font>")));
    QVERIFY(logLines().contains(QStringLiteral("压缩失败文件数:3个")));
}

void tst_Sound::runContinuesWhileHidden()
{
    QVERIFY(workedExample.write(in + QStringLiteral("/a.wav")));
    makeWindow();
    ModalBoxCatcher catcher;
    window->show();
    child<QLineEdit>(*window, "path_sound")->setText(in);
    QTest::mouseClick(child<QPushButton>(*window, "sound_start"), Qt::LeftButton);
    QSignalSpy exits(window.data(), SIGNAL(ExitWin()));
    window->close();
    QCOMPARE(exits.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(
            logLines().contains(QStringLiteral("压缩成功文件数:1个")), workerTimeoutMs);
    QVERIFY(!window->isVisible());
    window->show();
    QCOMPARE(logLines().first(), QStringLiteral("开始压缩:"));
}

void tst_Sound::destroyedDuringRun()
{
    // Enough files that the run is still going when the window goes.
    const int fileCount = 100;
    WavFile large = WavFile::withSamples(std::vector<qint16>(500000, 1234));
    for (int i = 0; i < fileCount; ++i)
        QVERIFY(large.write(in + QStringLiteral("/%1.wav").arg(i, 3, 10, QLatin1Char('0'))));
    makeWindow();
    ModalBoxCatcher catcher;
    child<QLineEdit>(*window, "path_sound")->setText(in);
    QTest::mouseClick(child<QPushButton>(*window, "sound_start"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(logLines().first() == QStringLiteral("开始压缩:"), workerTimeoutMs);
    window.reset();
    const int written = QDir(out).entryList(QDir::Files).size();
    QVERIFY2(written < fileCount, qPrintable(QString::number(written)));
    QVERIFY(catcher.boxes().isEmpty());
}

QTEST_MAIN(tst_Sound)
#include "tst_sound.moc"
