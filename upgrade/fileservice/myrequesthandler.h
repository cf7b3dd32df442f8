#ifndef MYREQUESTHANDLER_H
#define MYREQUESTHANDLER_H

#include "httprequesthandler.h"

#include <QString>

class QFile;
struct DownloadReport;

// The upgrade file service: answers the devices' HTTP requests with files of
// the served folder "html". service() runs on the HTTP connection threads,
// several at once; the object keeps no state, and its signals reach the
// upgrade window (GUI thread) as queued calls. Every request is also
// reported to the observers registered with DownloadReports.
class MyRequestHandler : public quenmar::HttpRequestHandler
{
    Q_OBJECT

public:
    // Progress codes of send_data_transmission_progress besides the
    // percentages 1 to 99.
    static constexpr int progress_headers_sent = -1; // HEAD answered
    static constexpr int progress_interrupted = -2; // download ended early
    static constexpr int progress_started = 0;
    static constexpr int progress_complete = 100;

    explicit MyRequestHandler(QObject *parent = nullptr);

    // Answers one request on the calling connection thread: the file with
    // status 200; 403 for a path that leaves the served folder or names
    // what Windows keeps for devices and streams (WindowsFileNames); 501 for
    // anything that is not a regular file; nothing for POST (the connection
    // handler then sends its empty answer).
    void service(quenmar::HttpRequest &request, quenmar::HttpResponse &response) override;

signals:
    // A code above, or the percentage sent after each block of a download.
    void send_data_transmission_progress(int n);
    // "/html" followed by the request path of a GET that found no file.
    void send_transmission_string(QString);

private:
    // Sends exactly report.file_size bytes of file, opened from path, as the
    // body, counting them in report.bytes_sent and what the device
    // acknowledged in report.bytes_acknowledged; false when the send ended
    // early (read failure, client gone, thread asked to stop, the file
    // changed meanwhile).
    bool send_file(QFile &file, const QString &path, DownloadReport &report,
            quenmar::HttpResponse &response);
};

#endif // MYREQUESTHANDLER_H
