// ondaspa-cli history: the fleet runs this user has made, and a device's past upgrades.

#include "commands.h"

#include "commandline.h"
#include "fleethistory.h"
#include "optiontable.h"
#include "outsidetext.h"

#include <QCommandLineParser>
#include <QDir>
#include <QJsonDocument>
#include <QTextStream>

namespace {

using CommandLine::usageError;

const QString historyName = QStringLiteral("history");

// Runs listed unless --last says otherwise.
constexpr int defaultLast = 20;

const char historyHelp[] =
        "usage: ondaspa-cli history [--last N] [--sn SN] [--json]\n"
        "\n"
        "Lists the fleet runs recorded on this computer for this user, by\n"
        "`ondaspa-cli upgrade` and the window's fleet dialog alike, oldest first:\n"
        "one line each with its start time, command type, file and counts. The\n"
        "history keeps the newest 500 runs (at most 16 MiB) in\n"
        "ondaspa/fleet-history.jsonl under the user's data folder (XDG_DATA_HOME,\n"
        "else ~/.local/share; %LOCALAPPDATA% on Windows), one JSON object a line.\n"
        "\n"
        "  --last N           the newest N runs, or with --sn the newest N upgrades of\n"
        "                     the device (default 20; 1 to 500)\n"
        "  --sn SN            the past upgrades of the device with this serial number:\n"
        "                     time, address, \"ver\" before and after, and the state it\n"
        "                     ended in\n"
        "  --json             JSON Lines on stdout: each run as the history holds it,\n"
        "                     or with --sn one object per upgrade of the device\n"
        "  -h, --help         show this text\n"
        "  --version          show the program's version\n"
        "\n"
        "An empty or missing history lists nothing on stdout and says on stderr where\n"
        "it looked. Lines that hold no run (the last one cut off by a crash) are\n"
        "skipped with a warning on stderr.\n"
        "\n"
        "Exit status: 0 listed (also when nothing was), 1 the history cannot be\n"
        "read, 2 bad arguments.\n";

struct HistoryOptions
{
    int last = defaultLast;
    QString serialNumber;
    bool json = false;
};

// Returns -1 when the options are complete, else the exit status.
int parse(const QStringList &arguments, HistoryOptions *options)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption(QStringLiteral("last"), QString(), QStringLiteral("N")));
    parser.addOption(QCommandLineOption(QStringLiteral("sn"), QString(), QStringLiteral("SN")));
    parser.addOption(QCommandLineOption(QStringLiteral("json")));
    const int status = CommandLine::parse(parser, historyName, arguments, historyHelp, {});
    if (status >= 0)
        return status;
    const QVector<OptionTable::Row> rows{ { QStringLiteral("last"), OptionTable::Unit::Whole,
            { 1, FleetHistory::max_runs }, &options->last,
            QStringLiteral("--last needs a number from 1 to %1").arg(FleetHistory::max_runs) } };
    if (const auto refused = OptionTable::read(parser, rows))
        return usageError(historyName, refused->message);
    if (parser.isSet(QStringLiteral("sn"))) {
        options->serialNumber = parser.value(QStringLiteral("sn")).trimmed();
        if (options->serialNumber.isEmpty())
            return usageError(historyName, QStringLiteral("--sn needs a serial number"));
    }
    options->json = parser.isSet(QStringLiteral("json"));
    return -1;
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : OutsideText::escaped(text);
}

QString runLine(const FleetRunRecord &run)
{
    QString line = QStringLiteral("%1  %2  %3  %4 %5: %6 succeeded, %7 failed")
                           .arg(FleetRunRecord::time_text(run.started), orDash(run.type),
                                   orDash(run.file_name))
                           .arg(run.devices.size())
                           .arg(run.devices.size() == 1 ? QStringLiteral("device")
                                                        : QStringLiteral("devices"))
                           .arg(run.succeeded)
                           .arg(run.failed);
    if (run.not_started > 0)
        line += QStringLiteral(", %1 not started").arg(run.not_started);
    if (run.up_to_date > 0)
        line += QStringLiteral(", %1 up to date").arg(run.up_to_date);
    if (!run.halt_reason.isEmpty())
        line += QStringLiteral(" (halted: %1)").arg(OutsideText::escaped(run.halt_reason));
    if (run.stopped)
        line += QStringLiteral(" (stopped)");
    return line;
}

QString upgradeLine(const FleetRunRecord &run, const FleetRunRecord::Device &device)
{
    QString versions = QStringLiteral("ver ") + orDash(device.version_before);
    if (!device.version_after.isEmpty())
        versions += QStringLiteral(" → ") + OutsideText::escaped(device.version_after);
    return QStringLiteral("%1  %2  %3  %4  (%5 %6)")
            .arg(FleetRunRecord::time_text(run.started), orDash(device.address), versions,
                    orDash(device.state), orDash(run.type), orDash(run.file_name));
}

QJsonObject upgradeObject(const FleetRunRecord &run, const FleetRunRecord::Device &device)
{
    QJsonObject object = device.to_json();
    object.insert(QStringLiteral("started"), FleetRunRecord::time_text(run.started));
    object.insert(QStringLiteral("type"), run.type);
    object.insert(QStringLiteral("file"), run.file_name);
    return object;
}

void printJson(QTextStream &out, const QJsonObject &object)
{
    out << QString::fromUtf8(
            OutsideText::json_line(QJsonDocument(object).toJson(QJsonDocument::Compact)))
        << '\n';
}

} // namespace

int historyCommand(const QStringList &arguments)
{
    HistoryOptions options;
    const int parsed = parse(arguments, &options);
    if (parsed >= 0)
        return parsed;
    const FleetHistory history;
    const FleetHistory::Reading reading = history.read();
    if (!reading.error.isEmpty())
        return CommandLine::fail(historyName, reading.error);
    if (reading.skipped_lines > 0)
        CommandLine::warn(historyName,
                QStringLiteral("%1: skipped %2 line(s) that hold no run")
                        .arg(QDir::toNativeSeparators(history.path()))
                        .arg(reading.skipped_lines));

    QTextStream &out = CommandLine::out();
    if (options.serialNumber.isEmpty()) {
        // A newcomer's empty listing says where the history was looked for.
        if (reading.runs.isEmpty() && !options.json)
            CommandLine::fail(historyName,
                    QStringLiteral("no runs recorded in %1")
                            .arg(QDir::toNativeSeparators(history.path())),
                    CommandLine::exitSuccess);
        const int first = qMax(0, reading.runs.size() - options.last);
        for (int at = first; at < reading.runs.size(); ++at) {
            const FleetRunRecord &run = reading.runs.at(at);
            if (options.json)
                printJson(out, run.to_json());
            else
                out << runLine(run) << '\n';
        }
        out.flush();
        return CommandLine::exitSuccess;
    }

    QVector<QPair<int, int>> upgrades; // run, device
    for (int run = 0; run < reading.runs.size(); ++run) {
        const QVector<FleetRunRecord::Device> &devices = reading.runs.at(run).devices;
        for (int device = 0; device < devices.size(); ++device) {
            if (devices.at(device).serial_number == options.serialNumber)
                upgrades.append({ run, device });
        }
    }
    if (upgrades.isEmpty() && !options.json)
        CommandLine::fail(historyName,
                QStringLiteral("no upgrade of %1 recorded")
                        .arg(OutsideText::escaped(options.serialNumber)),
                CommandLine::exitSuccess);
    for (int at = qMax(0, upgrades.size() - options.last); at < upgrades.size(); ++at) {
        const FleetRunRecord &run = reading.runs.at(upgrades.at(at).first);
        const FleetRunRecord::Device &device = run.devices.at(upgrades.at(at).second);
        if (options.json)
            printJson(out, upgradeObject(run, device));
        else
            out << upgradeLine(run, device) << '\n';
    }
    out.flush();
    return CommandLine::exitSuccess;
}
