#ifndef WIRINGGUARD_H
#define WIRINGGUARD_H

#include "messagecapture.h"

// Records the warnings Qt prints for broken signal/slot wiring
// ("connectSlotsByName", "QObject::connect") while it is alive; every
// message is still printed.
class WiringGuard
{
public:
    QStringList problems() const
    {
        QStringList wiring;
        for (const QString &message : capture.problems()) {
            if (message.contains(QLatin1String("connectSlotsByName"))
                    || message.contains(QLatin1String("QObject::connect")))
                wiring.append(message);
        }
        return wiring;
    }

private:
    MessageCapture capture{ MessageCapture::Mode::PassOn };
};

#endif // WIRINGGUARD_H
