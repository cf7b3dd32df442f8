#ifndef LOGBOXMENU_H
#define LOGBOXMENU_H

#include <QObject>
#include <QString>

#include <functional>

class QDateTime;
class QMenu;
class QPlainTextEdit;
class QPoint;
class QWidget;

// The context menu of a log box: the box's own entries (copy, select all)
// plus "保存日志…", which writes the log to a UTF-8 text file with every line
// led by the time it was appended, and "清空". Attached from outside, it
// notes each line's time as the line arrives. GUI thread only.
class LogBoxMenu : public QObject
{
    Q_OBJECT

public:
    // Asks for the file to save to, given the parent window, the caption and
    // a suggested path; returns an empty text when the user cancels.
    using FileChooser = std::function<QString(
            QWidget *parent, const QString &caption, const QString &suggested)>;

    // Gives box the menu. The returned object is a child of box and goes with
    // it; lines already in the box are timed now.
    static LogBoxMenu *attach(QPlainTextEdit *box);

    // Replaces the save dialog.
    void setFileChooser(FileChooser chooser);

    // Tells that the box's lines start with their own time in format (e.g.
    // "HH:mm:ss") and a space: a saved line then carries the full time in
    // its place, so every saved log has one time per line in one layout.
    void setLineTimeFormat(const QString &format);

    // Dates the box's last line at time instead of its arrival, for an event
    // heard before the line could be written.
    void setLastLineTime(const QDateTime &time);

    // A new menu for pos, in the box's viewport coordinates; the caller owns it.
    QMenu *createMenu(const QPoint &pos);

    // Writes every line, led by its time and a space, to path (replacing it).
    // Returns false when the file cannot be written; errorString() then says why.
    bool save(const QString &path);
    QString errorString() const { return last_error; }

    // "保存日志…": asks for a file and saves; a failure is shown in a box.
    void saveChosen();

private:
    explicit LogBoxMenu(QPlainTextEdit *box);

    void timeNewLines(int position, int removed, int added);
    void showMenu(const QPoint &pos);

    QPlainTextEdit *box;
    FileChooser choose_file;
    QString last_error;
    QString line_time_format;
};

#endif // LOGBOXMENU_H
