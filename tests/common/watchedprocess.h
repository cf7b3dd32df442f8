#ifndef WATCHEDPROCESS_H
#define WATCHEDPROCESS_H

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <functional>

// A program a test runs, its stdout and stderr collected as they arrive.
// Killed when destroyed.
class WatchedProcess
{
public:
    // Longest wait of waitForLine() and waitForExit(), in ms.
    static constexpr int wait_ms = 10000;

    // prepare, if given, sets the process up before it starts.
    WatchedProcess(const QString &program, const QStringList &arguments,
            const std::function<void(QProcess &)> &prepare = nullptr)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                [this] { output += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError,
                [this] { errors += process.readAllStandardError(); });
        if (prepare)
            prepare(process);
        process.start(program, arguments);
    }
    ~WatchedProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(wait_ms);
        }
    }
    // Whether text came on stdout within limit ms.
    bool waitForLine(const QByteArray &text, int limit = wait_ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (!output.contains(text) && timer.elapsed() < limit)
            QTest::qWait(10);
        return output.contains(text);
    }
    bool waitForExit(int limit = wait_ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (process.state() != QProcess::NotRunning && timer.elapsed() < limit)
            QTest::qWait(10);
        output += process.readAllStandardOutput();
        errors += process.readAllStandardError();
        return process.state() == QProcess::NotRunning;
    }

    QProcess process;
    QByteArray output;
    QByteArray errors;
};

#endif // WATCHEDPROCESS_H
