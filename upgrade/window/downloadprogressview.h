#ifndef DOWNLOADPROGRESSVIEW_H
#define DOWNLOADPROGRESSVIEW_H

#include <QString>

class QLabel;
class QProgressBar;

// The upgrade window's progress bar and status word. A fleet of downloads sends thousands of
// progress codes a second, and the bar repaints on every change of its value: the window would
// fall seconds behind. So the codes queued together form a batch; values and texts change with
// every code, while painting the bar and restyling the word wait for the batch's end. GUI
// thread only; the bar and the label must outlive the view.
class DownloadProgressView
{
public:
    DownloadProgressView(QProgressBar *bar, QLabel *status);

    // Shows a progress code of the file service.
    void show_code(int code);
    // Shows the status word and its colour at once.
    void show_status(const QString &text, bool ok);

private:
    // A batch lasts until the codes queued when it opened are handled.
    void open_batch();
    void close_batch();
    // The status word of a progress code; its colour may wait for the batch.
    void show_code_status(const QString &text, bool ok);
    // Restyles the status word unless it has that colour; true if it did.
    bool set_colour(const char *colour);

    QProgressBar *bar;
    QLabel *status;
    bool batch_open = false;
    // Colour the status word takes when the batch ends; null when it keeps its own.
    const char *deferred_colour = nullptr;
};

#endif // DOWNLOADPROGRESSVIEW_H
