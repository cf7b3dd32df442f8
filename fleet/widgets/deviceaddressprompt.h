#ifndef DEVICEADDRESSPROMPT_H
#define DEVICEADDRESSPROMPT_H

#include "ipv4addresslist.h"

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

class QWidget;

// Asks the user for the IPv4 addresses of devices that a broadcast cannot
// reach: a list and ranges such as 192.168.1.20-60. A malformed text is
// shown again with every reason, the cursor after the first bad item and
// nothing selected, until it parses or the user cancels. The input dialog can
// be replaced, so tests never block. GUI thread only.
class DeviceAddressPrompt
{
public:
    // Shows the question with text prefilled and problem (empty the first
    // time) and returns what the user typed; a null string when cancelled.
    using Asker =
            std::function<QString(QWidget *parent, const QString &text, const QString &problem)>;

    // The addresses in the order written; empty when the user cancelled or
    // typed nothing.
    static QList<QHostAddress> ask(QWidget *parent);
    // An empty function restores the input dialog. Process-wide because the
    // upgrade window, whose constructor is fixed, builds the menu and the
    // fleet dialog that ask.
    static void set_asker(Asker asker);
    // Why a text was refused, in the interface's words.
    static QString problem_text(const Ipv4AddressList::Error &error);
    // Every reason, one a line.
    static QString problems_text(const QVector<Ipv4AddressList::Error> &errors);
};

#endif // DEVICEADDRESSPROMPT_H
