#ifndef NAMESPACESIMULATOR_H
#define NAMESPACESIMULATOR_H

#include "testfiles.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QtTest>

// Simulated devices (ondaspa-devsim) started in the devices' namespace of
// the namespace checks (nsenter -t $ONDASPA_DEVICES_NS), their output lines
// in a log file. Stopped when destroyed.
class NamespaceSimulator
{
public:
    // Longest wait for the simulator to say it listens, in ms.
    static constexpr int start_limit = 20000;

    NamespaceSimulator(const QString &program, const QString &log) : program(program), log_name(log)
    {
    }
    ~NamespaceSimulator()
    {
        process.kill();
        process.waitForFinished();
    }

    // False when it did not come up within start_limit.
    bool start(const QStringList &arguments)
    {
        process.setStandardOutputFile(log_name);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("nsenter"),
                QStringList{ QStringLiteral("-t"), qEnvironmentVariable("ONDASPA_DEVICES_NS"),
                        QStringLiteral("-n"), program }
                        + arguments);
        QDeadlineTimer deadline(start_limit);
        while (!deadline.hasExpired() && process.state() != QProcess::NotRunning) {
            if (log().contains("\nlistening") || log().startsWith("listening"))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    QByteArray log() const { return readFile(log_name); }

private:
    const QString program;
    const QString log_name;
    QProcess process;
};

#endif // NAMESPACESIMULATOR_H
