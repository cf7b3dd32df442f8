#include "httpconnectionsettings.h"

#include <QSettings>

namespace quenmar {

HttpConnectionSettings HttpConnectionSettings::fromSettings(const QSettings &settings)
{
    HttpConnectionSettings result;
    result.readTimeout = settings.value("readTimeout", result.readTimeout).toInt();
    result.requestLimits = HttpRequestLimits::fromSettings(settings);
    return result;
}

} // namespace quenmar
