#ifndef QUENMAR_HTTPREQUESTHANDLER_H
#define QUENMAR_HTTPREQUESTHANDLER_H

// service() is called on the connection handlers' threads, several at once.

#include <QObject>

namespace quenmar {

class HttpRequest;
class HttpResponse;

// The extension point of the server: derive from it and override service(). One object serves
// every connection; the server never owns it, and stops and joins all its threads (asking them to
// stop through QThread::requestInterruption()) before the listener is gone, so the object may be
// destroyed after the listener is closed.
class HttpRequestHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpRequestHandler)

public:
    explicit HttpRequestHandler(QObject *parent = nullptr);
    ~HttpRequestHandler() override;

    // Answers one complete request. Runs on the calling connection handler's thread and blocks it
    // until it returns; an override must therefore tolerate concurrent calls, and a long transfer
    // should return early once QThread::currentThread()->isInterruptionRequested(). The caller
    // finishes the response when no last part was written. The default answers 501.
    virtual void service(HttpRequest &request, HttpResponse &response);
};

} // namespace quenmar

#endif // QUENMAR_HTTPREQUESTHANDLER_H
