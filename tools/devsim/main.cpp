// ondaspa-devsim: a simulated loudspeaker for checking discovery and upgrades
// without a device.

#include "devicesimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

namespace {

// Exit code for wrong options or a port that cannot be bound.
constexpr int usage_error = 2;

int fail(const QString &message)
{
    QTextStream(stderr) << "ondaspa-devsim: " << message << Qt::endl;
    return usage_error;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ondaspa-devsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Simulated loudspeaker: answers discovery probes, accepts upgrade commands for its "
            "serial number and downloads the image over HTTP. One line per event on stdout."));
    parser.addHelpOption();
    const QCommandLineOption sn(QStringLiteral("sn"), QStringLiteral("Serial number (required)."),
            QStringLiteral("SN"));
    const QCommandLineOption ver(QStringLiteral("ver"),
            QStringLiteral("Firmware version reported as \"ver\"."), QStringLiteral("TEXT"));
    const QCommandLineOption snd(QStringLiteral("snd"),
            QStringLiteral("Sound version reported as \"snd\"."), QStringLiteral("TEXT"));
    const QCommandLineOption bind(QStringLiteral("bind"),
            QStringLiteral("The device's own IPv4 address; replies leave from it. A loopback "
                           "address also limits listening to it."),
            QStringLiteral("ADDRESS"));
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
            QStringLiteral("Store complete downloads in DIR under the path's file name."),
            QStringLiteral("DIR"));
    const QCommandLineOption once(QStringLiteral("once"),
            QStringLiteral("Exit after one download: 0 when the body was complete, 1 otherwise."));
    parser.addOptions({ sn, ver, snd, bind, udpPort, fsPath, updatePath, head, save, once });
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(
                QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    DeviceSimulator::Settings settings;
    settings.serial_number = parser.value(sn);
    if (settings.serial_number.isEmpty())
        return fail(QStringLiteral("--sn is required"));
    settings.version = parser.value(ver);
    settings.sound_version = parser.value(snd);
    if (parser.isSet(bind)) {
        settings.own_address = QHostAddress(parser.value(bind));
        if (settings.own_address.protocol() != QAbstractSocket::IPv4Protocol)
            return fail(QStringLiteral("--bind needs an IPv4 address"));
    }
    bool valid = false;
    const uint port = parser.value(udpPort).toUInt(&valid);
    if (!valid || port < 1 || port > 65535)
        return fail(QStringLiteral("--udp-port needs a number from 1 to 65535"));
    settings.udp_port = quint16(port);
    settings.file_system_path = parser.value(fsPath);
    settings.firmware_path = parser.value(updatePath);
    for (const QString &path : { settings.file_system_path, settings.firmware_path }) {
        if (!path.startsWith(QLatin1Char('/')))
            return fail(QStringLiteral("HTTP paths start with /: %1").arg(path));
    }
    settings.head_first = parser.isSet(head);
    if (parser.isSet(save)) {
        settings.save_folder = parser.value(save);
        if (!QDir().mkpath(settings.save_folder))
            return fail(QStringLiteral("cannot create %1").arg(settings.save_folder));
    }

    DeviceSimulator simulator(settings);
    QString error;
    if (!simulator.start(&error))
        return fail(error);
    if (parser.isSet(once)) {
        QObject::connect(&simulator, &DeviceSimulator::download_finished, &application,
                [](bool complete) { QCoreApplication::exit(complete ? 0 : 1); });
    }
    return QCoreApplication::exec();
}
