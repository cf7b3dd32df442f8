#ifndef COMMANDS_H
#define COMMANDS_H

#include <QStringList>

// Each command family takes the arguments after its own name and returns the
// process exit code.
int minifsCommand(const QStringList &arguments);
int adpcmCommand(const QStringList &arguments);
int upgradeCommand(const QStringList &arguments);
int historyCommand(const QStringList &arguments);

#endif // COMMANDS_H
