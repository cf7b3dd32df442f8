#ifndef SIMULATOROPTIONS_H
#define SIMULATOROPTIONS_H

#include "simulatorfleet.h"

#include <QString>
#include <QStringList>

// The simulator's command line, read into settings or into what to print
// instead. No output of its own.
struct SimulatorOptions
{
    enum class Action {
        Run, // settings and once are valid
        ShowHelp, // text is the usage
        ShowVersion, // text is the version line
        Refuse, // text says which option or value is wrong
    };

    // With once, how long devices back from their reboot go on answering
    // before the simulator exits: long enough for a confirmation, which
    // probes once a second, to see each of them back.
    static constexpr int once_linger_ms = 3000;

    Action action = Action::Refuse;
    QString text;
    SimulatorFleet::Settings settings;
    bool once = false; // exit when every device's first upgrade is over

    // arguments as the process got them, the program's name first.
    static SimulatorOptions parse(const QStringList &arguments);
};

#endif // SIMULATOROPTIONS_H
