// ondaspa-cli upgrade: upgrades many devices at once from the command line.

#include "commands.h"

#include "commandline.h"
#include "devicemessages.h"
#include "programpaths.h"
#include "upgradesession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cmath>

namespace {

using CommandLine::usageError;

const QString command = QStringLiteral("upgrade");

// Limits of the numeric options.
constexpr int maxParallel = 1000;
constexpr int maxRetries = 100;
// Longest time-out or confirmation wait, in seconds: a day.
constexpr double maxSeconds = 86400;

const char help[] =
        "usage: ondaspa-cli upgrade fs|update (--all | --sn SN[,SN...] | --ip ADDR[,ADDR...])\n"
        "                           [--folder DIR] [--file NAME] [--port N] [--parallel N]\n"
        "                           [--timeout S] [--retries N] [--confirm S] [--json]\n"
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
        "  --parallel N       devices upgrading at once (default 8)\n"
        "  --timeout S        seconds a device may take to ask for the file after the\n"
        "                     command, or to fetch it after asking for its headers\n"
        "                     (default 60)\n"
        "  --retries N        further commands to a device that did not answer or\n"
        "                     whose download broke off (default 1)\n"
        "  --confirm S        after its download, wait up to S seconds for each device\n"
        "                     to answer a probe again and report its \"ver\" before and\n"
        "                     after\n"
        "  --json             JSON Lines on stdout: one object per event and a closing\n"
        "                     summary\n"
        "  -h, --help         show this text\n"
        "  --version          show the program's version\n"
        "\n"
        "Progress goes to stderr, one line per state change, and ends with a table.\n"
        "Probes and commands leave from a UDP port of their own, not the window's 15724,\n"
        "so an Ondaspa window may run at the same time (it holds TCP port 81: use\n"
        "--port). The server's settings stay apart from config.ini.\n"
        "\n"
        "Exit status: 0 every device reached \"file sent\" (\"back\" with --confirm),\n"
        "1 a device failed or did not answer, or none was found, 2 bad arguments, a\n"
        "failed pre-flight check of the file, or a port that cannot be bound.\n";

bool parseInteger(const QString &text, int minimum, int maximum, int *value)
{
    bool ok = false;
    const int parsed = text.toInt(&ok);
    if (!ok || parsed < minimum || parsed > maximum)
        return false;
    *value = parsed;
    return true;
}

// Seconds, fractions allowed, to milliseconds; more than 0 and at most a day.
bool parseSeconds(const QString &text, int *milliseconds)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > maxSeconds)
        return false;
    *milliseconds = qMax(1, int(std::lround(seconds * 1000)));
    return true;
}

// Returns -1 when the options are complete, else the exit status.
int parse(const QStringList &arguments, UpgradeOptions *options)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption all(QStringLiteral("all"));
    const QCommandLineOption sn(QStringLiteral("sn"), QString(), QStringLiteral("SN"));
    const QCommandLineOption ip(QStringLiteral("ip"), QString(), QStringLiteral("ADDR"));
    const QCommandLineOption folder(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption file(QStringLiteral("file"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("N"));
    const QCommandLineOption parallel(QStringLiteral("parallel"), QString(), QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QString(), QStringLiteral("S"));
    const QCommandLineOption retries(QStringLiteral("retries"), QString(), QStringLiteral("N"));
    const QCommandLineOption confirm(QStringLiteral("confirm"), QString(), QStringLiteral("S"));
    const QCommandLineOption json(QStringLiteral("json"));
    parser.addOptions(
            { all, sn, ip, folder, file, port, parallel, timeout, retries, confirm, json });
    const int parsed = CommandLine::parseOptions(parser, command, arguments, help);
    if (parsed >= 0)
        return parsed;

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

    options->all = parser.isSet(all);
    for (const QString &value : parser.values(sn)) {
        for (const QString &item : value.split(QLatin1Char(','))) {
            const QString serialNumber = item.trimmed();
            if (serialNumber.isEmpty())
                return usageError(
                        command, QStringLiteral("--sn: empty serial number in \"%1\"").arg(value));
            if (!options->serialNumbers.contains(serialNumber))
                options->serialNumbers.append(serialNumber);
        }
    }
    for (const QString &value : parser.values(ip)) {
        QString error;
        if (!Ipv4AddressList::parse(value, &options->addresses, &error))
            return usageError(command, QStringLiteral("--ip: ") + error);
    }
    if (!options->all && options->serialNumbers.isEmpty() && options->addresses.isEmpty())
        return usageError(command, QStringLiteral("name the devices: --all, --sn or --ip"));
    if (options->all && !options->serialNumbers.isEmpty())
        return usageError(command, QStringLiteral("--all and --sn exclude each other"));

    options->folder = QDir::cleanPath(QDir(parser.isSet(folder)
                    ? parser.value(folder)
                    : ProgramPaths::html_folder(QCoreApplication::applicationDirPath()))
                                              .absolutePath());
    options->file = parser.isSet(file)                            ? parser.value(file)
            : options->type == DeviceMessages::file_system_type() ? QStringLiteral("minifs_rom.img")
                                                                  : QStringLiteral("firmware.bin");
    while (options->file.startsWith(QLatin1Char('/')))
        options->file.remove(0, 1);

    int number = 0;
    if (parser.isSet(port)) {
        if (!parseInteger(parser.value(port), 1, 65535, &number))
            return usageError(command, QStringLiteral("--port needs a number from 1 to 65535"));
        options->port = quint16(number);
    }
    if (parser.isSet(parallel)
            && !parseInteger(parser.value(parallel), 1, maxParallel, &options->parallel))
        return usageError(
                command, QStringLiteral("--parallel needs a number from 1 to %1").arg(maxParallel));
    if (parser.isSet(retries)
            && !parseInteger(parser.value(retries), 0, maxRetries, &options->retries))
        return usageError(
                command, QStringLiteral("--retries needs a number from 0 to %1").arg(maxRetries));
    if (parser.isSet(timeout) && !parseSeconds(parser.value(timeout), &options->timeoutMs))
        return usageError(command,
                QStringLiteral("--timeout needs seconds, more than 0 and at most %1")
                        .arg(maxSeconds));
    if (parser.isSet(confirm) && !parseSeconds(parser.value(confirm), &options->confirmMs))
        return usageError(command,
                QStringLiteral("--confirm needs seconds, more than 0 and at most %1")
                        .arg(maxSeconds));
    options->json = parser.isSet(json);
    return -1;
}

} // namespace

int upgradeCommand(const QStringList &arguments)
{
    UpgradeOptions options;
    const int parsed = parse(arguments, &options);
    if (parsed >= 0)
        return parsed;
    UpgradeSession session(options);
    return session.run();
}
