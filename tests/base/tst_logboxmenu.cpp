#include "logboxmenu.h"
#include "logtime.h"

#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

// Long enough that two appends get different times in milliseconds.
constexpr int appendGapMilliseconds = 20;

class tst_LogBoxMenu : public QObject
{
    Q_OBJECT

private slots:
    void saveAndClear();
    void linesOwnTimeSavedOnce();
};

// Triggers the box's menu entry with this text; false when missing or disabled.
static bool trigger(QPlainTextEdit &box, const QString &text)
{
    const QScopedPointer<QMenu> menu(box.findChild<LogBoxMenu *>()->createMenu(QPoint()));
    for (QAction *entry : menu->actions()) {
        if (entry->text() == text && entry->isEnabled()) {
            entry->trigger();
            return true;
        }
    }
    return false;
}

void tst_LogBoxMenu::saveAndClear()
{
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("log.txt"));
    QPlainTextEdit box;
    LogBoxMenu::attach(&box)->setFileChooser(
            [&](QWidget *, const QString &, const QString &) { return path; });
    QVERIFY(!trigger(box, QStringLiteral("保存日志…")));
    const QDateTime start = QDateTime::currentDateTime();
    box.appendPlainText(QStringLiteral("开始压缩:"));
    QTest::qWait(appendGapMilliseconds);
    box.appendPlainText(QStringLiteral("two\nthree"));
    QTest::qWait(appendGapMilliseconds);
    const QDateTime saving = QDateTime::currentDateTime();
    QVERIFY(trigger(box, QStringLiteral("保存日志…")));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    const int cut = LogTime::format().size();
    QCOMPARE(lines.size(), 4);
    QList<QDateTime> times;
    for (const QString &line : lines.mid(0, 3))
        times << QDateTime::fromString(line.left(cut), LogTime::format());
    // Each line keeps the time it arrived, not that of the save.
    QVERIFY(start <= times.at(0) && times.at(0) < times.at(1) && times.at(1) < saving);
    QCOMPARE(times.at(2), times.at(1));
    QCOMPARE(lines.at(0).mid(cut), QStringLiteral(" 开始压缩:"));
    QCOMPARE(lines.at(2).mid(cut), QStringLiteral(" three"));

    QVERIFY(trigger(box, QStringLiteral("清空")));
    QVERIFY(box.toPlainText().isEmpty());
    QVERIFY(!trigger(box, QStringLiteral("清空")));
}

// A box whose lines show their own time saves the full time once, in its place.
void tst_LogBoxMenu::linesOwnTimeSavedOnce()
{
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("log.txt"));
    QPlainTextEdit box;
    LogBoxMenu *menu = LogBoxMenu::attach(&box);
    menu->setLineTimeFormat(QStringLiteral("HH:mm:ss"));
    box.appendPlainText(QStringLiteral("12:34:56 搜索设备\n12:34:57\n99:99:99 not a time"));
    QVERIFY(menu->save(path));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    const int cut = LogTime::format().size() + 1;
    QCOMPARE(lines.size(), 4);
    QVERIFY(QDateTime::fromString(lines.at(0).left(cut - 1), LogTime::format()).isValid());
    QCOMPARE(lines.at(0).mid(cut), QStringLiteral("搜索设备"));
    QCOMPARE(lines.at(1).mid(cut), QStringLiteral("12:34:57"));
    QCOMPARE(lines.at(2).mid(cut), QStringLiteral("99:99:99 not a time"));
}

QTEST_MAIN(tst_LogBoxMenu)
#include "tst_logboxmenu.moc"
