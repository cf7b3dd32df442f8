#ifndef NOTICEBOX_H
#define NOTICEBOX_H

class QString;
class QWidget;

// The tools' message boxes: titled "提示", one OK button, the rich text as
// given. Each blocks until the user closes it. GUI thread only.
class NoticeBox
{
public:
    // For a failure.
    static void warning(QWidget *parent, const QString &text);
    // For a success.
    static void information(QWidget *parent, const QString &text);
};

#endif // NOTICEBOX_H
