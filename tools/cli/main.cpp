// ondaspa-cli: the image builder, the audio compressor and the fleet upgrade
// without a window.

#include "commandline.h"
#include "commands.h"
#include "consolestream.h"
#include "httpdescriptorlimit.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

const char usage[] =
        "usage: ondaspa-cli COMMAND ...\n"
        "\n"
        "commands:\n"
        "  minifs build|list|extract   build, check and unpack MiniFs images\n"
        "  adpcm compress|decode       compress WAV files to IMA ADPCM and back\n"
        "  upgrade fs|update           upgrade many devices at once over the network\n"
        "  history                     the fleet runs made so far, a device's upgrades\n"
        "\n"
        "Each command takes -h/--help; --version prints the version. Debug lines\n"
        "are off; QT_LOGGING_RULES=\"ondaspa.*.debug=true\" shows them on stderr.\n"
        "\n"
        "Exit status: 0 success, 1 failure (reason on stderr), 2 bad arguments;\n"
        "each command's help gives the details.\n";

} // namespace

int main(int argc, char *argv[])
{
    // Like the program, the commands run with every descriptor the system grants without privileges.
    quenmar::HttpDescriptorLimit::raiseSoftLimit();
    ConsoleStream::installMessageHandler(&CommandLine::errorDevice());
    QCoreApplication application(argc, argv);
    const int status = CommandLine::dispatch(QString(), QCoreApplication::arguments().mid(1),
            { { QStringLiteral("minifs"), minifsCommand },
                    { QStringLiteral("adpcm"), adpcmCommand },
                    { QStringLiteral("upgrade"), upgradeCommand },
                    { QStringLiteral("history"), historyCommand } },
            usage);
    CommandLine::out().flush();
    CommandLine::err().flush();
    return status;
}
