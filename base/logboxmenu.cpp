#include "logboxmenu.h"

#include "logtime.h"
#include "noticebox.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextBlockUserData>

#include <memory>

namespace {

// When a line was appended; owned by its text block, so it goes when the
// line is cleared.
class LineTime : public QTextBlockUserData
{
public:
    explicit LineTime(const QDateTime &time) : time(time) { }
    const QDateTime time;
};

const LineTime *lineTime(const QTextBlock &block)
{
    return static_cast<const LineTime *>(block.userData());
}

} // namespace

LogBoxMenu::LogBoxMenu(QPlainTextEdit *box)
    : QObject(box), box(box),
      choose_file([](QWidget *parent, const QString &caption, const QString &suggested) {
          return QFileDialog::getSaveFileName(
                  parent, caption, suggested, QStringLiteral("文本文件 (*.txt)"));
      })
{
    connect(box->document(), &QTextDocument::contentsChange, this, &LogBoxMenu::timeNewLines);
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(box, &QWidget::customContextMenuRequested, this, &LogBoxMenu::showMenu);
    timeNewLines(0, 0, box->document()->characterCount());
}

LogBoxMenu *LogBoxMenu::attach(QPlainTextEdit *box)
{
    return new LogBoxMenu(box);
}

void LogBoxMenu::setFileChooser(FileChooser chooser)
{
    choose_file = std::move(chooser);
}

void LogBoxMenu::setLineTimeFormat(const QString &format)
{
    line_time_format = format;
}

void LogBoxMenu::timeNewLines(int position, int removed, int added)
{
    Q_UNUSED(removed)
    // A line gets its time once it holds text or another line follows it;
    // the empty line a cleared box keeps waits for its text.
    const QDateTime now = QDateTime::currentDateTime();
    const QTextDocument *document = box->document();
    const QTextBlock last = document->findBlock(position + added);
    for (QTextBlock block = document->findBlock(position); block.isValid(); block = block.next()) {
        if (!lineTime(block) && (!block.text().isEmpty() || block.next().isValid()))
            block.setUserData(new LineTime(now));
        if (block == last)
            break;
    }
}

void LogBoxMenu::setLastLineTime(const QDateTime &time)
{
    QTextBlock block = box->document()->lastBlock();
    if (block.text().isEmpty())
        block = block.previous();
    if (block.isValid())
        block.setUserData(new LineTime(time));
}

QMenu *LogBoxMenu::createMenu(const QPoint &pos)
{
    QMenu *menu = box->createStandardContextMenu(pos);
    menu->addSeparator();
    const bool hasLines = !box->document()->isEmpty();
    menu->addAction(QStringLiteral("保存日志…"), this, &LogBoxMenu::saveChosen)
            ->setEnabled(hasLines);
    menu->addAction(QStringLiteral("清空"), box, &QPlainTextEdit::clear)->setEnabled(hasLines);
    return menu;
}

void LogBoxMenu::showMenu(const QPoint &pos)
{
    const std::unique_ptr<QMenu> menu(createMenu(pos));
    menu->exec(box->viewport()->mapToGlobal(pos));
}

bool LogBoxMenu::save(const QString &path)
{
    const int ownTimeLength =
            line_time_format.isEmpty() ? -1 : QTime(0, 0).toString(line_time_format).size();
    QByteArray text;
    for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next()) {
        const LineTime *stamp = lineTime(block);
        if (!stamp)
            continue;
        QString line = block.text();
        if (ownTimeLength > 0 && line.size() > ownTimeLength
                && line.at(ownTimeLength) == QLatin1Char(' ')
                && QTime::fromString(line.left(ownTimeLength), line_time_format).isValid())
            line.remove(0, ownTimeLength + 1);
        text += (stamp->time.toString(LogTime::format()) + QLatin1Char(' ') + line
                + QLatin1Char('\n'))
                        .toUtf8();
    }
    // Written whole or not at all, so a failed save never leaves half a log
    // in place of an earlier file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(text) != text.size()
            || !file.commit()) {
        last_error = file.errorString();
        return false;
    }
    return true;
}

void LogBoxMenu::saveChosen()
{
    QWidget *window = box->window();
    const QString suggested = QDir::home().filePath(window->windowTitle() + QLatin1Char('-')
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))
            + QStringLiteral(".txt"));
    const QString path = choose_file(window, QStringLiteral("保存日志"), suggested);
    if (path.isEmpty() || save(path))
        return;
    NoticeBox::warning(window,
            QStringLiteral("<font size=16>保存失败!</font><br>") + errorString().toHtmlEscaped());
}
