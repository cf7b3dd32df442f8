// ondaspa-cli: the image builder, the audio compressor and the fleet upgrade
// without a window.

#include "commands.h"
#include "httpdescriptorlimit.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

const char usage[] = "usage: ondaspa-cli COMMAND ...\n"
                     "\n"
                     "commands:\n"
                     "  minifs build|list|extract   build, check and unpack MiniFs images\n"
                     "  adpcm compress|decode       compress WAV files to IMA ADPCM and back\n"
                     "  upgrade fs|update           upgrade many devices at once over the network\n"
                     "\n"
                     "Each command takes --help; --version prints the version.\n";

} // namespace

int main(int argc, char *argv[])
{
    // Like the program, the commands run with every descriptor the system grants without privileges.
    quenmar::HttpDescriptorLimit::raiseSoftLimit();
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == QLatin1String("minifs"))
        return minifsCommand(arguments);
    if (command == QLatin1String("adpcm"))
        return adpcmCommand(arguments);
    if (command == QLatin1String("upgrade"))
        return upgradeCommand(arguments);
    if (command == QLatin1String("--version")) {
        QTextStream(stdout) << "ondaspa-cli " ONDASPA_VERSION "\n";
        return 0;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        QTextStream(stdout) << usage;
        return 0;
    }
    QTextStream(stderr) << usage;
    return 2;
}
