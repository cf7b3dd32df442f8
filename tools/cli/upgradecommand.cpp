// ondaspa-cli upgrade: upgrades many devices at once from the command line.

#include "commands.h"

#include "commandline.h"
#include "devicemessages.h"
#include "failurebudget.h"
#include "logtime.h"
#include "optiontable.h"
#include "programpaths.h"
#include "stopsignals.h"
#include "upgradesession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

using CommandLine::usageError;

const QString command = QStringLiteral("upgrade");

// Limits of the numeric options.
constexpr int maxParallel = 1000;
constexpr int maxRetries = 100;
// More canaries than devices make every device a canary.
constexpr int maxCanary = 100000;
// Longest time-out or confirmation wait, in seconds: a day.
constexpr int maxSeconds = 86400;

const char help[] =
        "usage: ondaspa-cli upgrade fs|update (--all | --sn SN[,SN...] | --ip ADDR[,ADDR...])\n"
        "                           [--folder DIR] [--file NAME] [--port N] [--device-port N]\n"
        "                           [--parallel N] [--timeout S] [--retries N] [--confirm S]\n"
        "                           [--canary N] [--max-failures N|N%] [--skip-ver VER]\n"
        "                           [--json] [--report FILE.csv]\n"
        "\n"
        "Upgrades many devices at once, as the upgrade window does one: finds them, sends\n"
        "each the upgrade command and serves the image from the built-in HTTP server,\n"
        "with a parallel limit, time-outs and retries.\n"
        "\n"
        "  fs | update        command type: file-system image or firmware\n"
        "  --all              every device that answers a broadcast search (five probes\n"
        "                     on every IPv4 network, then 2 s of replies)\n"
        "  --sn SN[,SN...]    the devices of a search with these serial numbers\n"
        "  --ip ADDR[,ADDR...]\n"
        "                     probe these addresses by unicast, without a broadcast;\n"
        "                     ranges such as 192.168.1.20-60 are allowed. An address\n"
        "                     named alone that does not answer counts as failed; those\n"
        "                     of a range that do not answer are only counted.\n"
        "                     --sn and --ip may be repeated and combined; --all takes\n"
        "                     --ip as well.\n"
        "  --folder DIR       the folder served (default: \"html\" beside this program,\n"
        "                     the window's folder)\n"
        "  --file NAME        the file the devices will ask for (default minifs_rom.img\n"
        "                     for fs, firmware.bin for update); it must be a readable\n"
        "                     regular file in the folder. Other files are served too.\n"
        "  --port N           TCP port of the HTTP server, announced to the devices\n"
        "                     (default 81)\n"
        "  --device-port N    UDP port the devices listen on (default 53; for simulated\n"
        "                     devices on another port)\n"
        "  --parallel N       devices upgrading at once (default 8)\n"
        "  --timeout S        seconds a device may take to ask for the file after the\n"
        "                     command, or to fetch it after asking for its headers\n"
        "                     (default 60)\n"
        "  --retries N        further commands to a device that did not answer or\n"
        "                     whose download broke off (default 1)\n"
        "  --confirm S        for devices that restart after an upgrade: after its\n"
        "                     download, wait up to S seconds for each device to come\n"
        "                     back (miss a probe, then answer, or answer with another\n"
        "                     \"ver\") and report its \"ver\" before and after; one that\n"
        "                     keeps answering unchanged ends \"not back\". A firmware\n"
        "                     update that comes back with its \"ver\" unchanged ends\n"
        "                     \"not upgraded\", a failure\n"
        "  --canary N         the first N devices (in the order of --ip, else as they\n"
        "                     answered) go first; the rest get no command until each\n"
        "                     of them has succeeded, and none when one fails: the run\n"
        "                     halts and they end \"not started\" (default 0, off)\n"
        "  --max-failures N|N%\n"
        "                     once more than N devices (or N% of the run's devices,\n"
        "                     rounded down) have failed for good, after their retries,\n"
        "                     no further commands are sent; those under way end as\n"
        "                     they will (default: no limit)\n"
        "  --skip-ver VER     a device whose reply carries \"ver\" VER gets no command\n"
        "                     and ends \"up to date\", counted apart\n"
        "  --json             JSON Lines on stdout: one object per event and a closing\n"
        "                     summary\n"
        "  --report FILE.csv  after the run, its per-device table as CSV (UTF-8 with a\n"
        "                     byte order mark, a header row, one row per device), in a\n"
        "                     folder that exists; replaced whole\n"
        "  -h, --help         show this text\n"
        "  --version          show the program's version\n"
        "\n"
        "Progress goes to stderr, one line per state change, and ends with a table.\n"
        "\"file sent\" comes once the device's TCP has acknowledged every byte; Windows\n"
        "tells that from 10 version 1703 on (SIO_TCP_INFO), older Windows and wine cannot,\n"
        "and there it means every byte was handed to the system.\n"
        "Probes and commands leave from a UDP port of their own, not the window's 15724,\n"
        "so an Ondaspa window may run at the same time (it holds TCP port 81: use\n"
        "--port). The server's settings stay apart from config.ini.\n"
        "\n"
        "Each run is added to this user's run history (`ondaspa-cli history`); a\n"
        "history that cannot be written is a warning, never a failed run.\n"
        "\n"
        "Ctrl-C (SIGINT) or SIGTERM stops: no further commands, downloads under way end\n"
        "normally or by time-out, then the closing table and summary; a second Ctrl-C\n"
        "quits at once (status 130; 143 after SIGTERM). On Windows Ctrl-C and Ctrl-Break\n"
        "on the console do the same as SIGINT and SIGTERM. After the summary the server\n"
        "closes within a few seconds, or when a download of a device of the run under\n"
        "way ends (it says so); a Ctrl-C then quits at once with the run's status.\n"
        "\n"
        "The closing summary names the failed devices and prints the command line that\n"
        "retries them: the same options with an --ip list of their addresses.\n"
        "\n"
        "Exit status: 0 every device reached \"file sent\" (\"back\" with --confirm) or\n"
        "was up to date, 1 a device failed or did not answer, none was found, a stop\n"
        "left one unfinished, a failed canary or the failure budget halted the run, or\n"
        "the report cannot be written, 2 bad arguments, a failed pre-flight check of the file, or a port\n"
        "that cannot be bound; 130 a second Ctrl-C.\n";

// The numeric options, one row each.
QVector<OptionTable::Row> numberRows(UpgradeOptions *options)
{
    const auto number = [](const QString &name, int minimum, int maximum) {
        return QStringLiteral("--%1 needs a number from %2 to %3")
                .arg(name)
                .arg(minimum)
                .arg(maximum);
    };
    const auto seconds = [](const QString &name) {
        return QStringLiteral("--%1 needs seconds, more than 0 and at most %2")
                .arg(name)
                .arg(maxSeconds);
    };
    using Unit = OptionTable::Unit;
    const OptionTable::Range aDay{ 0, maxSeconds, true };
    return {
        { QStringLiteral("port"), Unit::Whole, { 1, 65535 }, &options->port,
                number(QStringLiteral("port"), 1, 65535) },
        { QStringLiteral("device-port"), Unit::Whole, { 1, 65535 }, &options->devicePort,
                number(QStringLiteral("device-port"), 1, 65535) },
        { QStringLiteral("parallel"), Unit::Whole, { 1, maxParallel }, &options->parallel,
                number(QStringLiteral("parallel"), 1, maxParallel) },
        { QStringLiteral("retries"), Unit::Whole, { 0, maxRetries }, &options->retries,
                number(QStringLiteral("retries"), 0, maxRetries) },
        { QStringLiteral("timeout"), Unit::Seconds, aDay, &options->timeoutMs,
                seconds(QStringLiteral("timeout")) },
        { QStringLiteral("confirm"), Unit::Seconds, aDay, &options->confirmMs,
                seconds(QStringLiteral("confirm")) },
        { QStringLiteral("canary"), Unit::Whole, { 0, maxCanary }, &options->canary,
                number(QStringLiteral("canary"), 0, maxCanary) },
    };
}

QString addressError(const Ipv4AddressList::Error &error)
{
    switch (error.kind) {
    case Ipv4AddressList::Error::Kind::Malformed:
        return QStringLiteral("\"%1\" is not an IPv4 address or range").arg(error.item);
    case Ipv4AddressList::Error::Kind::Reversed:
        return QStringLiteral("\"%1\": the range ends before it starts").arg(error.item);
    case Ipv4AddressList::Error::Kind::TooMany:
        return QStringLiteral("\"%1\": more than %2 addresses").arg(error.item).arg(error.limit);
    case Ipv4AddressList::Error::Kind::Empty:
        return QStringLiteral("a comma too many: no address between two commas or after the last");
    case Ipv4AddressList::Error::Kind::None:
        break;
    }
    return QString();
}

// Each option's name and, for one that takes a value, the value's name; the
// help text describes them.
const struct
{
    const char *name;
    const char *value;
} optionNames[] = { { "all", "" }, { "sn", "SN" }, { "ip", "ADDR" }, { "folder", "DIR" },
    { "file", "NAME" }, { "port", "N" }, { "device-port", "N" }, { "parallel", "N" },
    { "timeout", "S" }, { "retries", "N" }, { "confirm", "S" }, { "canary", "N" },
    { "max-failures", "N" }, { "skip-ver", "VER" }, { "json", "" },
    { "report", "FILE" } };

// The command type, the one positional argument. Returns -1 when it is
// valid, else the exit status.
int readType(const QCommandLineParser &parser, UpgradeOptions *options)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(command, QStringLiteral("missing the command type: fs or update"));
    options->type = positional.first();
    if (options->type != DeviceMessages::file_system_type()
            && options->type != DeviceMessages::firmware_type())
        return usageError(command,
                QStringLiteral("unknown command type '%1': fs or update").arg(options->type));
    if (positional.size() > 1)
        return usageError(
                command, QStringLiteral("unexpected argument '%1'").arg(positional.at(1)));
    return -1;
}

// Which devices: --all, --sn and --ip. Returns -1 when they are named, else
// the exit status.
int readDevices(const QCommandLineParser &parser, UpgradeOptions *options)
{
    options->all = parser.isSet(QStringLiteral("all"));
    for (const QString &value : parser.values(QStringLiteral("sn"))) {
        for (const QString &item : value.split(QLatin1Char(','))) {
            const QString serialNumber = item.trimmed();
            if (serialNumber.isEmpty())
                return usageError(
                        command, QStringLiteral("--sn: empty serial number in \"%1\"").arg(value));
            if (!options->serialNumbers.contains(serialNumber))
                options->serialNumbers.append(serialNumber);
        }
    }
    for (const QString &value : parser.values(QStringLiteral("ip"))) {
        Ipv4AddressList::Error error;
        if (!Ipv4AddressList::parse(value, &options->addresses, &error))
            return usageError(command, QStringLiteral("--ip: ") + addressError(error));
    }
    if (!options->all && options->serialNumbers.isEmpty() && options->addresses.isEmpty())
        return usageError(command, QStringLiteral("name the devices: --all, --sn or --ip"));
    if (options->all && !options->serialNumbers.isEmpty())
        return usageError(command, QStringLiteral("--all and --sn exclude each other"));
    return -1;
}

// --report: a file in a folder that exists, checked before anything is sent. Returns -1 when
// it is valid or not given, else the exit status.
int readReport(const QCommandLineParser &parser, UpgradeOptions *options)
{
    if (!parser.isSet(QStringLiteral("report")))
        return -1;
    const QString report = parser.value(QStringLiteral("report"));
    if (report.isEmpty())
        return usageError(command, QStringLiteral("--report needs a file name"));
    const QFileInfo file(report);
    if (!file.absoluteDir().exists())
        return CommandLine::fail(command, CommandLine::folderError(file.absolutePath()));
    if (file.isDir())
        return CommandLine::fail(command, report + QStringLiteral(": a folder, not a file"));
    options->report = file.absoluteFilePath();
    return -1;
}

// Returns -1 when the options are complete, else the exit status.
int parse(const QStringList &arguments, UpgradeOptions *options)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const auto &option : optionNames)
        parser.addOption(QCommandLineOption(
                QLatin1String(option.name), QString(), QLatin1String(option.value)));
    int status = CommandLine::parseOptions(parser, command, arguments, help);
    if (status < 0)
        status = readType(parser, options);
    if (status < 0)
        status = readDevices(parser, options);
    if (status >= 0)
        return status;

    const QString folder = QStringLiteral("folder");
    const QString file = QStringLiteral("file");
    options->folder = QDir::cleanPath(QDir(parser.isSet(folder)
                    ? parser.value(folder)
                    : ProgramPaths::html_folder(QCoreApplication::applicationDirPath()))
                                              .absolutePath());
    options->file =
            parser.isSet(file) ? parser.value(file) : DeviceMessages::file_for(options->type);
    while (options->file.startsWith(QLatin1Char('/')))
        options->file.remove(0, 1);

    if (const auto refused = OptionTable::read(parser, numberRows(options)))
        return usageError(command, refused->message);
    const QString maxFailures = QStringLiteral("max-failures");
    if (parser.isSet(maxFailures)
            && !FailureBudget::parse(parser.value(maxFailures), &options->maxFailures))
        return usageError(command,
                QStringLiteral("--max-failures needs a number from 0 to %1 or a percentage "
                               "from 0% to 100%")
                        .arg(FailureBudget::max_value));
    const QString skipVersion = QStringLiteral("skip-ver");
    options->skipVersion = parser.value(skipVersion);
    if (parser.isSet(skipVersion) && options->skipVersion.isEmpty())
        return usageError(command, QStringLiteral("--skip-ver needs a version"));
    options->json = parser.isSet(QStringLiteral("json"));
    options->arguments = arguments;
    for (const auto &option : optionNames) {
        if (*option.value)
            options->valuedOptions.insert(QLatin1String(option.name));
    }
    return readReport(parser, options);
}

} // namespace

int upgradeCommand(const QStringList &arguments)
{
    UpgradeOptions options;
    const int parsed = parse(arguments, &options);
    if (parsed >= 0)
        return parsed;
    // The server's and the device code's own messages interleave with the progress
    // lines on stderr, so they carry the same timestamp; stdout stays JSON only.
    qSetMessagePattern(QStringLiteral("%{time %1} %{if-category}%{category}: %{endif}%{message}")
                               .arg(LogTime::format()));
    UpgradeSession session(options);
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::received, &session, &UpgradeSession::stop);
    stopSignals.install();
    return session.run();
}
