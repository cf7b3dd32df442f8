#ifndef WIRINGGUARD_H
#define WIRINGGUARD_H

#include <QStringList>
#include <QtGlobal>

// Records the warnings Qt prints for broken signal/slot wiring
// ("connectSlotsByName", "QObject::connect") while it is alive.
class WiringGuard
{
public:
    WiringGuard()
    {
        problems().clear();
        previous() = qInstallMessageHandler(&WiringGuard::handle);
    }
    ~WiringGuard() { qInstallMessageHandler(previous()); }

    static QStringList &problems()
    {
        static QStringList list;
        return list;
    }

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }

    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg && type != QtInfoMsg
                && (message.contains(QLatin1String("connectSlotsByName"))
                        || message.contains(QLatin1String("QObject::connect"))))
            problems().append(message);
        if (previous())
            previous()(type, context, message);
    }
};

#endif // WIRINGGUARD_H
