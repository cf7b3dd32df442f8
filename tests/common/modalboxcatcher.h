#ifndef MODALBOXCATCHER_H
#define MODALBOXCATCHER_H

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QVector>

// Closes every message box that a window under test opens, so tests never
// block on a modal dialog, and records what each box said.
class ModalBoxCatcher
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };

    // Polling interval: short enough not to slow tests, long enough to let
    // the box's own event loop start.
    static constexpr int pollMilliseconds = 10;

    ModalBoxCatcher()
    {
        timer.setInterval(pollMilliseconds);
        QObject::connect(&timer, &QTimer::timeout, [this] { closeOpenBoxes(); });
        timer.start();
    }

    const QVector<Box> &boxes() const { return caught; }
    void clear() { caught.clear(); }

    // Texts of the boxes seen so far, in order.
    QStringList texts() const
    {
        QStringList result;
        for (const Box &box : caught)
            result << box.text;
        return result;
    }

private:
    void closeOpenBoxes()
    {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            auto *box = qobject_cast<QMessageBox *>(window);
            if (!box || !box->isVisible())
                continue;
            caught.append({ box->windowTitle(), box->text(), box->icon() });
            box->done(QMessageBox::Ok);
        }
    }

    QTimer timer;
    QVector<Box> caught;
};

#endif // MODALBOXCATCHER_H
