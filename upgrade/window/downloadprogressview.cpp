#include "downloadprogressview.h"

#include "myrequesthandler.h"

#include <QLabel>
#include <QProgressBar>

namespace {

const char green[] = "color: rgb(0, 255, 0);";
const char red[] = "color: rgb(255, 0, 0);";

} // namespace

DownloadProgressView::DownloadProgressView(QProgressBar *bar, QLabel *status)
    : bar(bar), status(status)
{
}

void DownloadProgressView::show_code(int code)
{
    if (code >= 0 && code <= 100 && code != bar->value() && bar->isVisible()
            && bar->updatesEnabled()) {
        bar->setUpdatesEnabled(false);
        open_batch();
    }
    // A broken download must not look finished; the bar keeps what arrived.
    if (code == MyRequestHandler::progress_interrupted) {
        show_code_status(QStringLiteral("中断"), false);
        return;
    }
    if (code == MyRequestHandler::progress_headers_sent) {
        bar->setMaximum(100);
        bar->setMinimum(0);
        show_code_status(QStringLiteral("擦除"), true);
    } else if (code == MyRequestHandler::progress_started) {
        bar->setMaximum(100);
        bar->setMinimum(0);
        show_code_status(QStringLiteral("开始"), false);
    } else if (code < MyRequestHandler::progress_complete) {
        show_code_status(QStringLiteral("下载"), true);
    } else {
        show_code_status(QStringLiteral("完成"), true);
    }
    bar->setValue(code);
}

void DownloadProgressView::show_status(const QString &text, bool ok)
{
    deferred_colour = nullptr;
    set_colour(ok ? green : red);
    status->setText(text);
}

void DownloadProgressView::open_batch()
{
    if (batch_open)
        return;
    batch_open = true;
    // Queued behind the codes already waiting, so it runs once they are handled; the bar as
    // context drops it with the window.
    QMetaObject::invokeMethod(
            bar, [this] { close_batch(); }, Qt::QueuedConnection);
}

void DownloadProgressView::close_batch()
{
    batch_open = false;
    if (deferred_colour) {
        set_colour(deferred_colour);
        deferred_colour = nullptr;
    }
    if (!bar->updatesEnabled())
        bar->setUpdatesEnabled(true);
}

void DownloadProgressView::show_code_status(const QString &text, bool ok)
{
    // Restyling the label costs as much as a repaint, and a fleet's downloads switch it between
    // red and green with every download that starts: within a batch only the last colour counts.
    const char *colour = ok ? green : red;
    if (batch_open)
        deferred_colour = colour;
    else if (set_colour(colour))
        open_batch();
    status->setText(text);
}

bool DownloadProgressView::set_colour(const char *colour)
{
    // setText skips an unchanged text; the style sheet must be compared here.
    if (status->styleSheet() == QLatin1String(colour))
        return false;
    status->setStyleSheet(QLatin1String(colour));
    return true;
}
