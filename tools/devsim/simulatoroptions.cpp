#include "simulatoroptions.h"
#include "httpdownload.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

// Fastest read rate accepted, in bytes per second.
constexpr qint64 max_read_rate = 1024LL * 1024 * 1024;
// Longest simulated reboot, in seconds.
constexpr double max_reboot_seconds = 3600;

const char after_options[] =
        "\nWith --count, device k (from 1) is PREFIX-k, k zero-padded to three digits\n"
        "(SN-001 ... SN-050, or HOTEL-001 with --sn HOTEL), at the address --bind + k - 1, and\n"
        "each output line starts with its serial number and a colon.\n"
        "\n"
        "The simulator needs UDP port 53, the devices' port: run it as root or give it the\n"
        "capability (setcap cap_net_bind_service=+ep ondaspa-devsim). It answers every probe it\n"
        "hears and fetches from whoever commands it, so run it in a private network namespace\n"
        "(unshare -n; see tests/common/netns-e2e.sh) or on a test network, never on a shared\n"
        "network.\n"
        "\n"
        "Exit status:\n"
        "  0  --help or --version; with --once, every upgrade complete (and verified)\n"
        "  1  with --once, a download failed or was incomplete, or a body did not verify\n"
        "  2  a wrong option, value or argument, a port or address that cannot be bound, or a\n"
        "     save folder that cannot be created\n"
        "Without --once it runs until it is stopped.";

// Qt's parser errors in the form of the other messages: "Unknown option 'x'."
// reads "unknown option 'x'".
QString as_message(QString text)
{
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text.left(1).toLower() + text.mid(1);
}

SimulatorOptions refuse(const QString &reason)
{
    SimulatorOptions options;
    options.action = SimulatorOptions::Action::Refuse;
    options.text = reason;
    return options;
}

// Reads the whole number of option, when it is given, into value; false
// with the reason in problem when it is not one from minimum to maximum.
bool read_number(const QCommandLineParser &parser, const QCommandLineOption &option, qint64 minimum,
        qint64 maximum, qint64 *value, QString *problem)
{
    if (!parser.isSet(option))
        return true;
    const QString text = parser.value(option);
    bool valid = false;
    const qint64 number = text.toLongLong(&valid);
    if (valid && number >= minimum && number <= maximum) {
        *value = number;
        return true;
    }
    *problem = QStringLiteral("--%1 needs a whole number from %2 to %3, not '%4'")
                       .arg(option.names().constFirst())
                       .arg(minimum)
                       .arg(maximum)
                       .arg(text);
    return false;
}

} // namespace

SimulatorOptions SimulatorOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Simulated loudspeakers: answer discovery probes, accept upgrade commands for their "
            "serial numbers and download the image over HTTP. One line per event on stdout."));
    parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
            QStringLiteral("Print the program's name and version and exit."));
    const QCommandLineOption sn(QStringLiteral("sn"),
            QStringLiteral("Serial number (required without --count); with --count, the prefix "
                           "of the devices' serial numbers (default SN)."),
            QStringLiteral("SN"));
    const QCommandLineOption ver(QStringLiteral("ver"),
            QStringLiteral("Firmware version reported as \"ver\"."), QStringLiteral("TEXT"));
    const QCommandLineOption snd(QStringLiteral("snd"),
            QStringLiteral("Sound version reported as \"snd\"."), QStringLiteral("TEXT"));
    const QCommandLineOption bind(QStringLiteral("bind"),
            QStringLiteral("The device's own IPv4 address, which must exist on an interface; "
                           "replies and HTTP connections leave from it. A loopback address also "
                           "limits listening to it."),
            QStringLiteral("ADDRESS"));
    const QCommandLineOption count(QStringLiteral("count"),
            QStringLiteral("Simulate N devices (1 to %1) in one process, one address each from "
                           "--bind upwards (needs --bind).")
                    .arg(SimulatorFleet::max_count),
            QStringLiteral("N"));
    const QCommandLineOption udpPort(QStringLiteral("udp-port"),
            QStringLiteral("UDP port for probes and commands (default 53)."),
            QStringLiteral("PORT"), QStringLiteral("53"));
    const QCommandLineOption fsPath(QStringLiteral("fs-path"),
            QStringLiteral("HTTP path fetched for \"fs\" (default /minifs_rom.img)."),
            QStringLiteral("PATH"), QStringLiteral("/minifs_rom.img"));
    const QCommandLineOption updatePath(QStringLiteral("update-path"),
            QStringLiteral("HTTP path fetched for \"update\" (default /firmware.bin)."),
            QStringLiteral("PATH"), QStringLiteral("/firmware.bin"));
    const QCommandLineOption head(QStringLiteral("head"), QStringLiteral("Send HEAD before GET."));
    const QCommandLineOption save(QStringLiteral("save"),
            QStringLiteral("Store complete downloads as DIR/<file name of the path>; with --count "
                           "above 1 as DIR/<serial number>/<file name>."),
            QStringLiteral("DIR"));
    const QCommandLineOption rate(QStringLiteral("rate"),
            QStringLiteral("Read at most BYTES_PER_S bytes a second from each download, through "
                           "small socket buffers so that the server feels it; prints a progress "
                           "line every second and at the end."),
            QStringLiteral("BYTES_PER_S"));
    const QCommandLineOption ignoreCommands(QStringLiteral("ignore-commands"),
            QStringLiteral("Answer probes but ignore upgrade commands."));
    const QCommandLineOption dropAfter(QStringLiteral("drop-after"),
            QStringLiteral("Close the connection after BYTES body bytes, once per device: the "
                           "first download that gets that far is cut, later ones complete."),
            QStringLiteral("BYTES"));
    const QCommandLineOption reboot(QStringLiteral("reboot"),
            QStringLiteral("After a complete download, answer no probes and take no commands "
                           "for S seconds (a simulated reboot)."),
            QStringLiteral("S"));
    const QCommandLineOption verAfter(QStringLiteral("ver-after"),
            QStringLiteral("Report \"ver\" V after a complete download (once back from the "
                           "reboot)."),
            QStringLiteral("V"));
    const QCommandLineOption verify(QStringLiteral("verify"),
            QStringLiteral("Compare the SHA-256 of each complete body with SHA256 (64 hex "
                           "digits) and print the result; a mismatch fails the upgrade (no "
                           "reboot, no new version)."),
            QStringLiteral("SHA256"));
    const QCommandLineOption once(QStringLiteral("once"),
            QStringLiteral("Exit when every device's first upgrade is over: its download and, "
                           "with --reboot or --ver-after, its reboot. A dropped download does "
                           "not count."));
    parser.addOptions({ version, sn, ver, snd, bind, count, udpPort, fsPath, updatePath, head, save,
            rate, ignoreCommands, dropAfter, reboot, verAfter, verify, once });

    if (!parser.parse(arguments))
        return refuse(as_message(parser.errorText()));
    SimulatorOptions options;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        options.action = Action::ShowHelp;
        options.text = parser.helpText() + QLatin1String(after_options);
        return options;
    }
    if (parser.isSet(version)) {
        options.action = Action::ShowVersion;
        options.text = QStringLiteral("ondaspa-devsim %1").arg(QStringLiteral(ONDASPA_VERSION));
        return options;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().first()));

    SimulatorFleet::Settings &fleet = options.settings;
    DeviceSimulator::Settings &device = fleet.device;
    QString problem;
    qint64 devices = 0;
    if (!read_number(parser, count, 1, SimulatorFleet::max_count, &devices, &problem))
        return refuse(problem);
    fleet.count = int(devices);
    device.serial_number = parser.value(sn);
    if (parser.isSet(sn) && device.serial_number.isEmpty())
        return refuse(QStringLiteral("--sn cannot be empty"));
    if (device.serial_number.isEmpty() && fleet.count == 0)
        return refuse(QStringLiteral("--sn is required without --count"));
    if (device.serial_number.isEmpty())
        device.serial_number = QStringLiteral("SN");
    device.version = parser.value(ver);
    device.sound_version = parser.value(snd);
    if (parser.isSet(bind)) {
        device.own_address = QHostAddress(parser.value(bind));
        if (device.own_address.protocol() != QAbstractSocket::IPv4Protocol)
            return refuse(QStringLiteral("--bind needs an IPv4 address, not '%1'")
                                  .arg(parser.value(bind)));
    }
    if (fleet.count > 0 && device.own_address.isNull())
        return refuse(QStringLiteral("--count needs --bind, the first device's address"));
    if (fleet.count > 0
            && quint64(device.own_address.toIPv4Address()) + quint64(fleet.count - 1)
                    > 0xffffffffULL)
        return refuse(QStringLiteral("--count %1 from --bind %2 runs past 255.255.255.255")
                              .arg(fleet.count)
                              .arg(device.own_address.toString()));
    qint64 port = device.udp_port;
    if (!read_number(parser, udpPort, 1, 65535, &port, &problem))
        return refuse(problem);
    device.udp_port = quint16(port);
    device.file_system_path = parser.value(fsPath);
    device.firmware_path = parser.value(updatePath);
    for (const QString &path : { device.file_system_path, device.firmware_path }) {
        if (!path.startsWith(QLatin1Char('/')))
            return refuse(QStringLiteral("HTTP paths start with /: %1").arg(path));
    }
    device.head_first = parser.isSet(head);
    device.save_folder = parser.value(save);
    if (parser.isSet(save) && device.save_folder.isEmpty())
        return refuse(QStringLiteral("--save needs a folder"));
    if (!read_number(parser, rate, 1, max_read_rate, &device.read_rate, &problem)
            || !read_number(parser, dropAfter, 0, HttpDownload::max_body_size, &device.drop_after,
                    &problem))
        return refuse(problem);
    device.ignore_commands = parser.isSet(ignoreCommands);
    if (parser.isSet(reboot)) {
        bool valid = false;
        const double seconds = parser.value(reboot).toDouble(&valid);
        if (!valid || !(seconds >= 0 && seconds <= max_reboot_seconds))
            return refuse(QStringLiteral("--reboot needs seconds from 0 to %1, not '%2'")
                                  .arg(max_reboot_seconds)
                                  .arg(parser.value(reboot)));
        device.reboot_ms = qRound(seconds * 1000);
    }
    device.version_after = parser.value(verAfter);
    if (parser.isSet(verAfter) && device.version_after.isEmpty())
        return refuse(QStringLiteral("--ver-after needs a version"));
    if (parser.isSet(verify)) {
        static const QRegularExpression sha256(QStringLiteral("^[0-9A-Fa-f]{64}$"));
        if (!sha256.match(parser.value(verify)).hasMatch())
            return refuse(QStringLiteral("--verify needs a SHA-256 of 64 hex digits, not '%1'")
                                  .arg(parser.value(verify)));
        device.expected_sha256 = QByteArray::fromHex(parser.value(verify).toLatin1());
    }
    options.once = parser.isSet(once);
    options.action = Action::Run;
    return options;
}
