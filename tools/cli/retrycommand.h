#ifndef RETRYCOMMAND_H
#define RETRYCOMMAND_H

#include <QSet>
#include <QString>
#include <QStringList>

// The command line that upgrades again only the devices that failed: the
// arguments of `ondaspa-cli upgrade` as given, without the choice of devices
// (--all, --sn, --ip), and an --ip list of the failed addresses. Plain
// functions.
namespace RetryCommand {

// arguments: those after "upgrade"; valued: the long names of the options
// that take a value (their values are kept or dropped with them). Empty when
// addresses is empty. Arguments a shell would split or expand are quoted.
QString line(
        const QStringList &arguments, const QSet<QString> &valued, const QStringList &addresses);

} // namespace RetryCommand

#endif // RETRYCOMMAND_H
