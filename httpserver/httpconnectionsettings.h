#ifndef QUENMAR_HTTPCONNECTIONSETTINGS_H
#define QUENMAR_HTTPCONNECTIONSETTINGS_H

// A plain value: read on the settings object's thread, then copied to a handler's thread, so no
// settings object is ever shared between threads.

#include "httprequest.h"
#include "httpresponse.h"

class QSettings;

namespace quenmar {

// What one connection handler needs of the server's settings.
struct HttpConnectionSettings
{
    // How long a connection may stay silent before it is closed, in milliseconds ("readTimeout").
    int readTimeout = 10000;
    // Limits handed to every request ("maxRequestSize", "maxMultiPartSize").
    HttpRequestLimits requestLimits;
    // How long queued output may make no progress before the connection is aborted, in
    // milliseconds; not a settings key, tests lower it.
    int writeStallTimeout = HttpResponse::defaultWriteStallTimeout;

    // Reads "readTimeout", "maxRequestSize" and "maxMultiPartSize" in the settings' current group;
    // absent keys keep the defaults above. Call it on the settings object's thread.
    static HttpConnectionSettings fromSettings(const QSettings &settings);
};

} // namespace quenmar

#endif // QUENMAR_HTTPCONNECTIONSETTINGS_H
