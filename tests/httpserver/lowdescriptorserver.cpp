// A listener with the test request handler, run as a child process under a small open-file
// limit, so that running out of descriptors can end only this process, never the test.
//   lowdescriptorserver CONFIG DESCRIPTORS
// CONFIG is the settings file (group UPDATE); prints "listening" once it accepts connections.

#include "httpdescriptorlimit.h"
#include "httplistener.h"
#include "httpserverfixture.h"

#include <QCoreApplication>
#include <QTextStream>

#include <sys/resource.h>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 2;
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t(QByteArray(argv[2]).toULong());
    // The hard limit too, so that raising the soft one, as the program does, cannot lift it.
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || !quenmar::HttpDescriptorLimit::raiseSoftLimit())
        return 2;
    QCoreApplication application(argc, argv);
    QSettings settings(QString::fromLocal8Bit(argv[1]), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("UPDATE"));
    TestRequestHandler requestHandler;
    quenmar::HttpListener listener(&settings, &requestHandler);
    if (!listener.isListening())
        return 1;
    QTextStream(stdout) << "listening" << Qt::endl;
    return QCoreApplication::exec();
}
