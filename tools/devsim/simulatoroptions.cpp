#include "simulatoroptions.h"
#include "httpdownload.h"
#include "optiontable.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

// Fastest read rate accepted, in bytes per second.
constexpr qint64 max_read_rate = 1024LL * 1024 * 1024;
// Longest simulated reboot, in seconds.
constexpr qint64 max_reboot_seconds = 3600;
// Cuts of --drop-after one device makes at most.
constexpr int max_drops = 100;

// Width of the help text, and the column where the options' texts start.
constexpr int help_width = 80;
constexpr int help_column = 24;

const char usage[] =
        "usage: ondaspa-devsim --sn SN [OPTION...]\n"
        "       ondaspa-devsim --count N --bind ADDRESS [OPTION...]\n"
        "\n"
        "Simulated loudspeakers: answer discovery probes, accept upgrade commands for\n"
        "their serial numbers and download the image over HTTP. One line per event\n"
        "on stdout.\n"
        "\n";

const char after_options[] =
        "\n"
        "With --count, device k (from 1) is PREFIX-k, k zero-padded to three digits\n"
        "(SN-001 ... SN-050, or HOTEL-001 with --sn HOTEL), at the address\n"
        "--bind + k - 1, and each output line starts with its serial number and a colon.\n"
        "\n"
        "The simulator needs UDP port 53, the devices' port: run it as root or give it\n"
        "the capability (setcap cap_net_bind_service=+ep ondaspa-devsim). It answers\n"
        "every probe it hears and fetches from whoever commands it, so run it in a\n"
        "private network namespace of its own (unshare -n, ip netns) or on a test\n"
        "network, never on a shared network.\n"
        "\n"
        "Exit status: 0 --help or --version, and with --once every upgrade complete (and\n"
        "verified); 1 with --once, a download failed or was incomplete, or a body did\n"
        "not verify; 2 a wrong option, value or argument, a port or address that cannot\n"
        "be bound, or a save folder that cannot be created. Without --once it runs until\n"
        "it is stopped.\n";

SimulatorOptions refuse(const QString &reason)
{
    SimulatorOptions options;
    options.action = SimulatorOptions::Action::Refuse;
    options.text = reason;
    return options;
}

// One option's entry of the help: its names, then its text from
// help_column on, wrapped at help_width; the text starts on a line of its
// own when the names reach the column.
QString help_entry(const QString &names, const QString &text)
{
    const QString indent(help_column, QLatin1Char(' '));
    const QString first = QStringLiteral("  ") + names;
    QString entry = first.size() + 2 <= help_column ? first.leftJustified(help_column)
                                                    : first + QLatin1Char('\n') + indent;
    int line_length = help_column;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (line_length > help_column && line_length + 1 + word.size() > help_width) {
            entry += QLatin1Char('\n') + indent;
            line_length = help_column;
        } else if (line_length > help_column) {
            entry += QLatin1Char(' ');
            ++line_length;
        }
        entry += word;
        line_length += word.size();
    }
    return entry + QLatin1Char('\n');
}

// The options with their help, in the order the help lists them; returns
// the help text, in the style of ondaspa-cli's.
QString add_options(QCommandLineParser &parser)
{
    // Name, the value's name (none for a switch), the default and the help.
    const struct
    {
        const char *name;
        const char *value;
        const char *fallback;
        QString help;
    } options[] = {
        { "sn", "SN", "",
                QStringLiteral("serial number (required without --count); with --count, the "
                               "prefix of the devices' serial numbers (default SN)") },
        { "ver", "TEXT", "", QStringLiteral("firmware version reported as \"ver\"") },
        { "snd", "TEXT", "", QStringLiteral("sound version reported as \"snd\"") },
        { "bind", "ADDRESS", "",
                QStringLiteral("the device's own IPv4 address, which must exist on an "
                               "interface; replies and HTTP connections leave from it. A "
                               "loopback address also limits listening to it.") },
        { "count", "N", "",
                QStringLiteral("simulate N devices (1 to %1) in one process, one address each "
                               "from --bind upwards (needs --bind)")
                        .arg(SimulatorFleet::max_count) },
        { "udp-port", "PORT", "53",
                QStringLiteral("UDP port for probes and commands (default 53)") },
        { "fs-path", "PATH", "/minifs_rom.img",
                QStringLiteral("HTTP path fetched for \"fs\" (default /minifs_rom.img)") },
        { "update-path", "PATH", "/firmware.bin",
                QStringLiteral("HTTP path fetched for \"update\" (default /firmware.bin)") },
        { "head", "", "", QStringLiteral("send HEAD before GET") },
        { "save", "DIR", "",
                QStringLiteral("store complete downloads as DIR/<file name of the path>; with "
                               "--count above 1 as DIR/<serial number>/<file name>") },
        { "rate", "BYTES_PER_S", "",
                QStringLiteral("read at most BYTES_PER_S bytes a second from each download, "
                               "through small socket buffers so that the server feels it; "
                               "prints a progress line every second and at the end") },
        { "ignore-commands", "", "", QStringLiteral("answer probes but ignore upgrade commands") },
        { "drop-after", "BYTES", "",
                QStringLiteral("close the connection after BYTES body bytes, once per device (see "
                               "--drops): "
                               "the first download that gets that far is cut, later ones "
                               "complete") },
        { "drops", "N", "",
                QStringLiteral("with --drop-after, cut the first N downloads that get that far "
                               "instead of one (1 to %1)")
                        .arg(max_drops) },
        { "reboot", "S", "",
                QStringLiteral("after a complete download, answer no probes and take no "
                               "commands for S seconds (a simulated reboot)") },
        { "ver-after", "V", "",
                QStringLiteral("report \"ver\" V after a complete download (once back from "
                               "the reboot)") },
        { "verify", "SHA256", "",
                QStringLiteral("compare the SHA-256 of each complete body with SHA256 (64 hex "
                               "digits) and print the result; a mismatch fails the upgrade (no "
                               "reboot, no new version)") },
        { "once", "", "",
                QStringLiteral("exit when every device's first upgrade is over: its download "
                               "and, with --reboot or --ver-after, its reboot, after which it "
                               "answers probes for %1 s more so that a confirmation (such as "
                               "ondaspa-cli upgrade --confirm) sees it back. A dropped "
                               "download does not count.")
                        .arg(SimulatorOptions::once_linger_ms / 1000) },
        { "version", "", "", QStringLiteral("show the program's version") },
    };
    QString help = QLatin1String(usage);
    for (const auto &option : options) {
        const QString name = QLatin1String(option.name);
        const QString value = QLatin1String(option.value);
        parser.addOption(
                QCommandLineOption(name, option.help, value, QLatin1String(option.fallback)));
        const QString names = QStringLiteral("--") + name
                + (value.isEmpty() ? QString() : QLatin1Char(' ') + value);
        if (name == QLatin1String("version"))
            help += help_entry(QStringLiteral("-h, --help"), QStringLiteral("show this text"));
        help += help_entry(names, option.help);
    }
    parser.addOption(
            QCommandLineOption(QStringList{ QStringLiteral("h"), QStringLiteral("help") }));
    return help + QLatin1String(after_options);
}

// The numeric options, one row each; a refusal names the value given.
QVector<OptionTable::Row> number_rows(SimulatorFleet::Settings &fleet)
{
    const auto whole = [](const QString &name, qint64 minimum, qint64 maximum) {
        return QStringLiteral("--%1 needs a whole number from %2 to %3")
                .arg(name)
                .arg(minimum)
                .arg(maximum);
    };
    using Unit = OptionTable::Unit;
    DeviceSimulator::Settings &device = fleet.device;
    return {
        { QStringLiteral("count"), Unit::Whole, { 1, SimulatorFleet::max_count }, &fleet.count,
                whole(QStringLiteral("count"), 1, SimulatorFleet::max_count) },
        { QStringLiteral("udp-port"), Unit::Whole, { 1, 65535 }, &device.udp_port,
                whole(QStringLiteral("udp-port"), 1, 65535) },
        { QStringLiteral("rate"), Unit::Whole, { 1, max_read_rate }, &device.read_rate,
                whole(QStringLiteral("rate"), 1, max_read_rate) },
        { QStringLiteral("drop-after"), Unit::Whole, { 0, HttpDownload::max_body_size },
                &device.drop_after,
                whole(QStringLiteral("drop-after"), 0, HttpDownload::max_body_size) },
        { QStringLiteral("drops"), Unit::Whole, { 1, max_drops }, &device.drops,
                whole(QStringLiteral("drops"), 1, max_drops) },
        { QStringLiteral("reboot"), Unit::Seconds, { 0, max_reboot_seconds }, &device.reboot_ms,
                QStringLiteral("--reboot needs seconds from 0 to %1").arg(max_reboot_seconds) },
    };
}

// Who the devices are: serial numbers, versions and addresses. Returns what
// is wrong, or nothing.
QString read_identity(const QCommandLineParser &parser, SimulatorFleet::Settings &fleet)
{
    DeviceSimulator::Settings &device = fleet.device;
    const QString sn = QStringLiteral("sn");
    device.serial_number = parser.value(sn);
    if (parser.isSet(sn) && device.serial_number.isEmpty())
        return QStringLiteral("--sn cannot be empty");
    if (device.serial_number.isEmpty() && fleet.count == 0)
        return QStringLiteral("--sn is required without --count");
    if (device.serial_number.isEmpty())
        device.serial_number = QStringLiteral("SN");
    device.version = parser.value(QStringLiteral("ver"));
    device.sound_version = parser.value(QStringLiteral("snd"));
    const QString bind = QStringLiteral("bind");
    if (parser.isSet(bind)) {
        device.own_address = QHostAddress(parser.value(bind));
        if (device.own_address.protocol() != QAbstractSocket::IPv4Protocol)
            return QStringLiteral("--bind needs an IPv4 address, not '%1'").arg(parser.value(bind));
    }
    if (fleet.count > 0 && device.own_address.isNull())
        return QStringLiteral("--count needs --bind, the first device's address");
    if (fleet.count > 0
            && quint64(device.own_address.toIPv4Address()) + quint64(fleet.count - 1)
                    > 0xffffffffULL)
        return QStringLiteral("--count %1 from --bind %2 runs past 255.255.255.255")
                .arg(fleet.count)
                .arg(device.own_address.toString());
    return QString();
}

// How the devices behave: what they fetch, keep and report. Returns what is
// wrong, or nothing.
QString read_behaviour(const QCommandLineParser &parser, DeviceSimulator::Settings &device)
{
    device.file_system_path = parser.value(QStringLiteral("fs-path"));
    device.firmware_path = parser.value(QStringLiteral("update-path"));
    for (const QString &path : { device.file_system_path, device.firmware_path }) {
        if (!path.startsWith(QLatin1Char('/')))
            return QStringLiteral("HTTP paths start with /: %1").arg(path);
    }
    device.head_first = parser.isSet(QStringLiteral("head"));
    const QString save = QStringLiteral("save");
    device.save_folder = parser.value(save);
    if (parser.isSet(save) && device.save_folder.isEmpty())
        return QStringLiteral("--save needs a folder");
    device.ignore_commands = parser.isSet(QStringLiteral("ignore-commands"));
    const QString verAfter = QStringLiteral("ver-after");
    device.version_after = parser.value(verAfter);
    if (parser.isSet(verAfter) && device.version_after.isEmpty())
        return QStringLiteral("--ver-after needs a version");
    const QString verify = QStringLiteral("verify");
    if (parser.isSet(verify)) {
        static const QRegularExpression sha256(QStringLiteral("^[0-9A-Fa-f]{64}$"));
        if (!sha256.match(parser.value(verify)).hasMatch())
            return QStringLiteral("--verify needs a SHA-256 of 64 hex digits, not '%1'")
                    .arg(parser.value(verify));
        device.expected_sha256 = QByteArray::fromHex(parser.value(verify).toLatin1());
    }
    return QString();
}

} // namespace

SimulatorOptions SimulatorOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QString help = add_options(parser);
    if (!parser.parse(arguments))
        return refuse(OptionTable::parserError(parser, arguments));
    SimulatorOptions options;
    if (parser.isSet(QStringLiteral("help"))) {
        options.action = Action::ShowHelp;
        options.text = help;
        return options;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        options.action = Action::ShowVersion;
        options.text = QStringLiteral("ondaspa-devsim %1").arg(QStringLiteral(ONDASPA_VERSION));
        return options;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().first()));

    // Each number on its own first, then the rest in the order of the help.
    if (const auto refused = OptionTable::read(parser, number_rows(options.settings)))
        return refuse(refused->message + QStringLiteral(", not '%1'").arg(refused->given));
    QString problem = read_identity(parser, options.settings);
    if (problem.isEmpty())
        problem = read_behaviour(parser, options.settings.device);
    if (!problem.isEmpty())
        return refuse(problem);
    options.once = parser.isSet(QStringLiteral("once"));
    options.action = Action::Run;
    return options;
}
