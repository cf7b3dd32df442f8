#include "logboxmenu.h"
#include "modalboxcatcher.h"

#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Long enough that two appends get different times in milliseconds.
constexpr int appendGapMilliseconds = 20;

QAction *action(QMenu &menu, const QString &text)
{
    const QList<QAction *> actions = menu.actions();
    for (QAction *candidate : actions) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

} // namespace

class tst_LogBoxMenu : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void savedLinesCarryTheirTimes();
    void clearEmptiesTheLog();
    void failedSaveShowsBox();

private:
    // Triggers the menu entry with this text; false when it is missing or disabled.
    bool trigger(const QString &text);
    QStringList saved() const;

    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<QPlainTextEdit> box;
    LogBoxMenu *menu = nullptr;
    QString path;
};

void tst_LogBoxMenu::init()
{
    scratch = std::make_unique<QTemporaryDir>();
    QVERIFY(scratch->isValid());
    path = scratch->filePath(QStringLiteral("log.txt"));
    box = std::make_unique<QPlainTextEdit>();
    box->setReadOnly(true);
    box->appendPlainText(QStringLiteral("before attach"));
    menu = LogBoxMenu::attach(box.get());
    menu->setFileChooser([this](QWidget *, const QString &caption, const QString &suggested) {
        return caption == QStringLiteral("保存日志") && suggested.endsWith(QStringLiteral(".txt"))
                ? path
                : QString();
    });
}

bool tst_LogBoxMenu::trigger(const QString &text)
{
    const std::unique_ptr<QMenu> contextMenu(menu->createMenu(QPoint()));
    QAction *entry = action(*contextMenu, text);
    if (!entry || !entry->isEnabled())
        return false;
    entry->trigger();
    return true;
}

QStringList tst_LogBoxMenu::saved() const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return { QStringLiteral("(unreadable)") };
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

void tst_LogBoxMenu::savedLinesCarryTheirTimes()
{
    const QDateTime start = QDateTime::currentDateTime();
    QTest::qWait(appendGapMilliseconds);
    box->appendPlainText(QStringLiteral("开始压缩:"));
    QTest::qWait(appendGapMilliseconds);
    box->appendPlainText(QStringLiteral("two\nthree"));
    QTest::qWait(appendGapMilliseconds);
    const QDateTime saving = QDateTime::currentDateTime();
    QVERIFY(trigger(QStringLiteral("保存日志…")));

    const QStringList lines = saved();
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.last(), QString());
    const QStringList texts = { QStringLiteral("before attach"), QStringLiteral("开始压缩:"),
        QStringLiteral("two"), QStringLiteral("three") };
    QDateTime previous;
    for (int i = 0; i < texts.size(); ++i) {
        const int cut = LogBoxMenu::timeFormat.size();
        QCOMPARE(lines.at(i).mid(cut), QLatin1Char(' ') + texts.at(i));
        const QDateTime time = QDateTime::fromString(lines.at(i).left(cut), LogBoxMenu::timeFormat);
        QVERIFY2(time.isValid(), qPrintable(lines.at(i)));
        // Each line keeps the time it arrived, not the time of the save.
        QVERIFY(i == 0 ? time <= start : time > start && time < saving);
        QVERIFY(i != 2 || time > previous);
        QVERIFY(i != 3 || time == previous);
        previous = time;
    }
}

void tst_LogBoxMenu::clearEmptiesTheLog()
{
    QVERIFY(trigger(QStringLiteral("清空")));
    QVERIFY(box->toPlainText().isEmpty());
    QVERIFY(!trigger(QStringLiteral("保存日志…")));
    QVERIFY(!trigger(QStringLiteral("清空")));

    box->appendPlainText(QStringLiteral("after"));
    QVERIFY(trigger(QStringLiteral("保存日志…")));
    const QStringList lines = saved();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.first().endsWith(QStringLiteral(" after")), qPrintable(lines.first()));
}

void tst_LogBoxMenu::failedSaveShowsBox()
{
    path = scratch->filePath(QStringLiteral("missing/log.txt"));
    ModalBoxCatcher catcher;
    QVERIFY(trigger(QStringLiteral("保存日志…")));
    QCOMPARE(catcher.boxes().size(), 1);
    QCOMPARE(catcher.boxes().first().title, QStringLiteral("提示"));
    QVERIFY(catcher.boxes().first().text.startsWith(
            QStringLiteral("<font size=16>保存失败!</font>")));
    QVERIFY(!QFileInfo::exists(path));
}

QTEST_MAIN(tst_LogBoxMenu)
#include "tst_logboxmenu.moc"
