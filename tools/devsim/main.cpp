// ondaspa-devsim: simulated loudspeakers for checking discovery and upgrades
// without a device.

#include "simulatorfleet.h"
#include "simulatoroptions.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

namespace {

// Exit statuses, as the help lists them.
constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// The same form as ondaspa-cli's errors: "ondaspa-devsim: reason".
int fail(const QString &message)
{
    QTextStream(stderr) << "ondaspa-devsim: " << message << Qt::endl;
    return exit_usage;
}

int usage_error(const QString &message)
{
    fail(message);
    QTextStream(stderr) << "Try 'ondaspa-devsim --help'." << Qt::endl;
    return exit_usage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ondaspa-devsim"));

    const SimulatorOptions options = SimulatorOptions::parse(QCoreApplication::arguments());
    switch (options.action) {
    case SimulatorOptions::Action::ShowHelp:
        QTextStream(stdout) << options.text << Qt::flush;
        return exit_success;
    case SimulatorOptions::Action::ShowVersion:
        QTextStream(stdout) << options.text << Qt::endl;
        return exit_success;
    case SimulatorOptions::Action::Refuse:
        return usage_error(options.text);
    case SimulatorOptions::Action::Run:
        break;
    }

    SimulatorFleet fleet(options.settings);
    QString error;
    if (!fleet.start(&error))
        return fail(error);
    if (options.once) {
        const DeviceSimulator::Settings &device = options.settings.device;
        const bool reboots = device.reboot_ms > 0 || !device.version_after.isEmpty();
        QObject::connect(&fleet, &SimulatorFleet::all_over, &application,
                [&fleet, reboots](bool all_succeeded) {
                    const int status = all_succeeded ? exit_success : exit_failure;
                    // A device that is back must still answer for the
                    // confirmation to see it; one that failed has not rebooted.
                    const int linger =
                            reboots && fleet.any_succeeded() ? SimulatorOptions::once_linger_ms : 0;
                    QTimer::singleShot(linger, [status] { QCoreApplication::exit(status); });
                });
    }
    return QCoreApplication::exec();
}
