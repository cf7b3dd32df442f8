// Times the MiniFs builder against `cat` of the same files into one file
// (with and without waiting for the disk) and against genromfs followed by a
// sync, and reports the peak memory of each, for three data sets: many small
// files, a few large ones and one very large one. Data lives in a temporary
// folder that is removed after each set.
//
// Each build and each cat runs in a forked child, so both are timed the same
// way and wait4() yields the child's own peak resident set.

#include "minifsbuilder.h"
#include "minifsbuildlistener.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr qint64 kibibyte = 1024;
constexpr qint64 mebibyte = 1024 * kibibyte;
// Runs per tool and set; the median is reported.
constexpr int runs = 5;
// Piece size when writing the data sets.
constexpr qint64 generatePiece = mebibyte;

struct DataSet
{
    const char *name;
    int files;
    qint64 fileSize;
};

const DataSet dataSets[] = {
    { "2000 files of 4 KiB", 2000, 4 * kibibyte },
    { "20 files of 10 MiB", 20, 10 * mebibyte },
    { "1 file of 200 MiB", 1, 200 * mebibyte },
};

struct Run
{
    double seconds = 0;
    long peakKibibytes = 0;
    bool ok = false;
};

class SilentLog : public MiniFsBuildListener
{
public:
    void logCleared() override { }
    void logLine(const QString &) override { }
    void debugLine(const QString &) override { }
};

bool generate(const QString &folder, const DataSet &set)
{
    QByteArray piece(int(generatePiece), Qt::Uninitialized);
    QRandomGenerator random(set.files);
    random.fillRange(reinterpret_cast<quint32 *>(piece.data()), piece.size() / 4);
    for (int index = 0; index < set.files; ++index) {
        QFile file(QDir(folder).filePath(QStringLiteral("file%1.bin").arg(index)));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        for (qint64 left = set.fileSize; left > 0; left -= generatePiece) {
            const qint64 size = std::min(left, generatePiece);
            // Vary the start so files differ.
            piece[0] = char(index);
            if (file.write(piece.constData(), size) != size)
                return false;
        }
    }
    return true;
}

// Runs child() in a forked process and measures it.
template <typename Child> Run measure(Child child)
{
    Run run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(child());
    if (pid < 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKibibytes = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// Runs cat of files into output; with durable set, also waits until the
// output has reached the disk, as the builder does before it replaces the
// image.
Run runCat(const QStringList &files, const QString &output, bool durable)
{
    std::vector<QByteArray> encoded;
    for (const QString &file : files)
        encoded.push_back(QFile::encodeName(file));
    const QByteArray target = QFile::encodeName(output);
    return measure([&] {
        const int descriptor = open(target.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (descriptor < 0)
            return 1;
        const pid_t cat = fork();
        if (cat == 0) {
            if (dup2(descriptor, STDOUT_FILENO) < 0)
                _exit(1);
            std::vector<char *> argv{ const_cast<char *>("cat") };
            for (QByteArray &file : encoded)
                argv.push_back(file.data());
            argv.push_back(nullptr);
            execvp("cat", argv.data());
            _exit(1);
        }
        int status = 0;
        if (cat < 0 || waitpid(cat, &status, 0) != cat || !WIFEXITED(status)
                || WEXITSTATUS(status) != 0)
            return 1;
        return durable && fdatasync(descriptor) != 0 ? 1 : 0;
    });
}

// Runs genromfs on folder, then waits until its image has reached the disk.
Run runGenromfs(const QString &folder, const QString &output)
{
    const QByteArray source = QFile::encodeName(folder);
    const QByteArray target = QFile::encodeName(output);
    return measure([&] {
        const pid_t genromfs = fork();
        if (genromfs == 0) {
            execlp("genromfs", "genromfs", "-f", target.constData(), "-d", source.constData(),
                    static_cast<char *>(nullptr));
            _exit(1);
        }
        int status = 0;
        if (genromfs < 0 || waitpid(genromfs, &status, 0) != genromfs || !WIFEXITED(status)
                || WEXITSTATUS(status) != 0)
            return 1;
        const int descriptor = open(target.constData(), O_WRONLY);
        return descriptor >= 0 && fdatasync(descriptor) == 0 ? 0 : 1;
    });
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readLine()).section(QLatin1Char(' '), 0, 2);
}

Run runBuilder(const QString &folder, const QString &output)
{
    return measure([&] {
        SilentLog log;
        MiniFsBuilder builder(log);
        return builder.build(folder, QStringLiteral("bench"), output) == MiniFsBuilder::Built ? 0
                                                                                              : 1;
    });
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    out << "Median of " << runs << " runs, seconds; peak resident memory in MiB.\n"
        << "cat+sync and genromfs+sync also wait for the output to reach the disk, as the "
           "builder does.\n"
        << "Targets: build at most 1.1x cat+sync and at most 1.0x genromfs+sync.\n\n"
        << "set                       cat  cat+sync  genromfs+sync    build  /cat  /cat+sync  "
           "/genromfs+sync  cat MiB  build MiB  load average\n";
    bool allOk = true;
    for (const DataSet &set : dataSets) {
        QTemporaryDir work(base + QStringLiteral("/ondaspa-bench-XXXXXX"));
        const QString folder = work.filePath(QStringLiteral("data"));
        if (!work.isValid() || !QDir().mkpath(folder) || !generate(folder, set)) {
            out << set.name << ": cannot create the data set under " << base << '\n';
            return 1;
        }
        QStringList files;
        for (const QFileInfo &file : MiniFsBuilder::listFolder(folder))
            files << file.filePath();
        const QString catOutput = work.filePath(QStringLiteral("cat.out"));
        const QString image = work.filePath(QStringLiteral("minifs_rom.img"));
        const QString romfs = work.filePath(QStringLiteral("romfs.img"));
        // One unmeasured round warms the page cache for all.
        runCat(files, catOutput, false);
        runGenromfs(folder, romfs);
        runBuilder(folder, image);
        std::vector<double> catSeconds;
        std::vector<double> syncedSeconds;
        std::vector<double> genromfsSeconds;
        std::vector<double> buildSeconds;
        long catPeak = 0;
        long buildPeak = 0;
        for (int round = 0; round < runs; ++round) {
            const Run cat = runCat(files, catOutput, false);
            const Run synced = runCat(files, catOutput, true);
            const Run genromfs = runGenromfs(folder, romfs);
            const Run build = runBuilder(folder, image);
            allOk = allOk && cat.ok && synced.ok && genromfs.ok && build.ok;
            genromfsSeconds.push_back(genromfs.seconds);
            catSeconds.push_back(cat.seconds);
            syncedSeconds.push_back(synced.seconds);
            buildSeconds.push_back(build.seconds);
            catPeak = std::max(catPeak, cat.peakKibibytes);
            buildPeak = std::max(buildPeak, build.peakKibibytes);
        }
        const double catMedian = median(catSeconds);
        const double syncedMedian = median(syncedSeconds);
        const double genromfsMedian = median(genromfsSeconds);
        const double buildMedian = median(buildSeconds);
        out << QStringLiteral("%1 %2 %3 %4 %5 %6x %7x %8x %9 %10  %11\n")
                        .arg(QString::fromLatin1(set.name), -20)
                        .arg(catMedian, 8, 'f', 3)
                        .arg(syncedMedian, 9, 'f', 3)
                        .arg(genromfsMedian, 14, 'f', 3)
                        .arg(buildMedian, 8, 'f', 3)
                        .arg(buildMedian / catMedian, 5, 'f', 2)
                        .arg(buildMedian / syncedMedian, 9, 'f', 2)
                        .arg(buildMedian / genromfsMedian, 13, 'f', 2)
                        .arg(catPeak / 1024.0, 8, 'f', 1)
                        .arg(buildPeak / 1024.0, 10, 'f', 1)
                        .arg(loadAverage());
        out.flush();
    }
    if (!allOk)
        out << "some runs failed\n";
    return allOk ? 0 : 1;
}
