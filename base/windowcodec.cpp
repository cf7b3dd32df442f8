#include "windowcodec.h"

#include <QTextCodec>

void set_window_codec()
{
#ifdef Q_OS_WIN
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("GB2312"));
#endif
}
