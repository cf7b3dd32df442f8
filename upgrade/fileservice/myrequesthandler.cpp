#include "myrequesthandler.h"

#include "downloadobserver.h"
#include "downloadreports.h"
#include "filestamp.h"
#include "httprequest.h"
#include "httpresponse.h"
#include "regularfile.h"
#include "servedfolder.h"
#include "upgradelogging.h"
#include "windowsfilenames.h"

#include <QFile>
#include <QStringList>
#include <QThread>

namespace {

// Bytes per block of a download; the devices see one progress code per block.
constexpr qint64 block_size = 4096;

// The request path as text: UTF-8 up to its first zero byte.
QString path_text(const QByteArray &path)
{
    return QString::fromUtf8(path.constData(), int(qstrnlen(path.constData(), uint(path.size()))));
}

// A file overwritten in place while it is sent (as cp does) would reach the
// device as old and new bytes at the full length: the download is ended
// instead. Checked before every block and after the last.
class Unchanged
{
public:
    Unchanged(const QFile &file, const QString &path)
        : file(file), path(path), opened(FileStamp::of_open(file)), named(FileStamp::of_path(path))
    {
    }

    bool holds() const
    {
        if (FileStamp::of_open(file) == opened && FileStamp::of_path(path) == named)
            return true;
        qCWarning(upgradeLog) << "MyRequestHandler:" << path
                              << "changed while it was being sent; the download is ended";
        return false;
    }

private:
    const QFile &file;
    const QString path;
    const FileStamp opened;
    const FileStamp named;
};

// True when no step of path would make Windows open something other than the file named: a
// device, an alternate stream of a file, or another file once it drops a trailing dot or space.
// None is a file a device should fetch, so such paths are refused on every system. "." steps
// stay allowed, as on disk.
bool names_plain_files(const QString &path)
{
    const QStringList segments = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &segment : segments) {
        if (segment != QLatin1String(".") && !WindowsFileNames::misread_reason(segment).isEmpty())
            return false;
    }
    return true;
}

// What is wrong with path, ending in a colon; null when it may be looked up.
const char *refusal(const QString &folder, const QString &path)
{
    if (!ServedFolder::holds_resolved(folder, path))
        return "a path outside the served folder:";
    if (!names_plain_files(path))
        return "a name Windows keeps for devices or streams:";
    return nullptr;
}

// The whole percentages of a download's bytes handed to the socket and of
// those the device acknowledged, as last published. Observers hear of whole
// percentages only: a large image would otherwise report thousands of times.
class PublishedSteps
{
public:
    // From report as it was published last.
    explicit PublishedSteps(const DownloadReport &report)
        : sent_percent(sent_of(report)), acknowledged_percent(acknowledged_of(report))
    {
    }

    // Publishes report when one of its percentages moved on.
    void publish_if_moved(const DownloadReport &report)
    {
        const qint64 sent = sent_of(report);
        const qint64 acknowledged = acknowledged_of(report);
        if (sent == sent_percent && acknowledged == acknowledged_percent)
            return;
        sent_percent = sent;
        acknowledged_percent = acknowledged;
        DownloadReports::publish_progress(report);
    }

private:
    static qint64 sent_of(const DownloadReport &report)
    {
        return report.file_size > 0 ? qint64(report.bytes_sent) * 100 / report.file_size : 0;
    }
    static qint64 acknowledged_of(const DownloadReport &report)
    {
        return report.file_size > 0 && report.bytes_acknowledged >= 0
                ? report.bytes_acknowledged * 100 / report.file_size
                : -1;
    }

    qint64 sent_percent;
    qint64 acknowledged_percent;
};

// What the device has of the body: what was handed over less what its TCP
// stack has not acknowledged (the headers count there too, hence the floor).
// A connection that ended keeps what was known last.
void note_acknowledged(DownloadReport &report, qint64 unacknowledged)
{
    if (unacknowledged >= 0)
        report.bytes_acknowledged = qMax<qint64>(0, qint64(report.bytes_sent) - unacknowledged);
}

} // namespace

MyRequestHandler::MyRequestHandler(QObject *parent) : quenmar::HttpRequestHandler(parent) { }

void MyRequestHandler::service(quenmar::HttpRequest &request, quenmar::HttpResponse &response)
{
    const QByteArray method = request.method();
    const QByteArray path = request.path();
    qCDebug(upgradeLog) << "path:" << path;

    DownloadReport report;
    report.peer = DownloadReport::plain_address(request.peerAddress());
    report.method = method;
    report.path = path_text(path);
    if (method.compare("POST", Qt::CaseInsensitive) == 0) {
        // Nothing is uploaded to the devices' server; an empty 200 would look like success.
        response.setStatus(405, "Method Not Allowed");
        response.setHeader("Allow", "GET, HEAD");
        response.write("405 method not allowed", true);
        report.outcome = DownloadReport::Outcome::Refused;
        DownloadReports::publish_answer(report);
        return;
    }

    const QString folder = ServedFolder::current();
    if (const char *refused = refusal(folder, report.path)) {
        qCWarning(upgradeLog) << "MyRequestHandler: refused" << refused << report.path;
        response.setStatus(403, "Forbidden");
        response.write("403 forbidden", true);
        report.outcome = DownloadReport::Outcome::Refused;
        DownloadReports::publish_answer(report);
        return;
    }

    const QString file_name = folder + report.path;
    qCDebug(upgradeLog) << "method" << method;
    qCDebug(upgradeLog) << "Open File: " << file_name;
    QFile file;
    if (!RegularFile::open(file, file_name)) {
        qCDebug(upgradeLog) << "Cant Found File";
        response.setStatus(501, "not implemented");
        response.write("501 not implemented", true);
        if (method.compare("GET", Qt::CaseInsensitive) == 0)
            emit send_transmission_string(QStringLiteral("/html") + report.path);
        report.outcome = DownloadReport::Outcome::NotFound;
        DownloadReports::publish_answer(report);
        return;
    }

    const qint64 size = file.size();
    report.file_size = size;
    response.setHeader("Content-Length", QByteArray::number(size));
    response.setHeader("Server", "lwip");
    response.setHeader("Content-Type", "application/octet-stream");
    response.setHeader("Connection", "Close");
    qCDebug(upgradeLog) << "File Len:" << size;

    if (method.compare("HEAD", Qt::CaseInsensitive) == 0) {
        emit send_data_transmission_progress(progress_headers_sent);
        response.write(QByteArray(), false);
        report.outcome = DownloadReport::Outcome::Complete;
        DownloadReports::publish_answer(report);
        return;
    }

    emit send_data_transmission_progress(progress_started);
    DownloadReports::publish_progress(report);
    const bool sent = send_file(file, file_name, report, response);
    PublishedSteps steps(report);
    emit send_data_transmission_progress(sent ? progress_complete : progress_interrupted);
    // The window's codes follow the bytes handed to the socket; the observers hear "complete"
    // only once the device has acknowledged them all, since the system's buffers can hold a good
    // part of a slow device's image. Till then they hear how much it has.
    const auto acknowledged = [&](qint64 unacknowledged) {
        note_acknowledged(report, unacknowledged);
        steps.publish_if_moved(report);
    };
    if (sent && response.waitUntilAcknowledged(acknowledged)) {
        report.outcome = DownloadReport::Outcome::Complete;
    } else {
        qCWarning(upgradeLog) << "MyRequestHandler: download of" << file_name << "ended early";
        report.outcome = DownloadReport::Outcome::Interrupted;
    }
    DownloadReports::publish_answer(report);
}

bool MyRequestHandler::send_file(
        QFile &file, const QString &path, DownloadReport &report, quenmar::HttpResponse &response)
{
    const quint64 size = quint64(report.file_size);
    // Divisor of the percentage; zero for files under 100 bytes, whose one
    // block then counts as everything.
    const quint64 step = size / 100;
    PublishedSteps steps(report);
    const Unchanged unchanged(file, path);
    while (report.bytes_sent < size) {
        if (!response.isConnected() || QThread::currentThread()->isInterruptionRequested()
                || !unchanged.holds())
            return false;
        // Each block goes from file to socket inside the kernel where it can.
        const qint64 read = response.writeFile(file, qint64(report.bytes_sent),
                qint64(qMin(quint64(block_size), size - report.bytes_sent)));
        if (read <= 0)
            return false;
        response.flush();
        report.bytes_sent += quint64(read);
        emit send_data_transmission_progress(
                step == 0 ? progress_complete : int(report.bytes_sent / step));
        note_acknowledged(report, response.unacknowledgedBytes());
        steps.publish_if_moved(report);
    }
    return response.isConnected() && unchanged.holds();
}
