#include "httprequesthandler.h"

#include "httplogging.h"
#include "httprequest.h"
#include "httpresponse.h"

namespace quenmar {

HttpRequestHandler::HttpRequestHandler(QObject *parent) : QObject(parent) { }

HttpRequestHandler::~HttpRequestHandler() = default;

void HttpRequestHandler::service(HttpRequest &request, HttpResponse &response)
{
    qCCritical(httpLog, "HttpRequestHandler: you need to override the service() function");
    qCDebug(httpLog, "HttpRequestHandler: request=%s %s %s", request.method().constData(),
            request.path().constData(), request.version().constData());
    response.setStatus(501, "not implemented");
    response.write("501 not implemented", true);
}

} // namespace quenmar
