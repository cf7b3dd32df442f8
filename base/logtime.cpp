#include "logtime.h"

QString LogTime::format()
{
    return QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
}
