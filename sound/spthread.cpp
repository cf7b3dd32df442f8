#include "spthread.h"

#include "foldercompressor.h"

#include <QDir>

namespace {

// How often the loop looks for a start request, in milliseconds.
constexpr unsigned long pollMilliseconds = 500;
// The poll sleep is cut into slices so that stop() does not wait a full poll.
constexpr unsigned long stopSliceMilliseconds = 20;

// Forwards the run's lines and codes as the worker's signals.
class SignalReporter : public FolderCompressor::Reporter
{
public:
    SignalReporter(SPThread *worker, const std::atomic<bool> &stop) : worker(worker), stop(stop) { }

    void line(const QString &text) override { emit worker->ui_string_debug(text); }
    void code(int code, const QString &) override { emit worker->ui_code_stop(code); }
    bool stopRequested() const override { return stop.load(); }

private:
    SPThread *worker;
    const std::atomic<bool> &stop;
};

} // namespace

SPThread::SPThread(QObject *parent)
    : QThread(parent), output_folder(FolderCompressor::defaultOutputFolder())
{
}

SPThread::~SPThread()
{
    stop();
}

void SPThread::stop()
{
    stop_requested = true;
    wait();
}

void SPThread::setOutputFolder(const QString &folder)
{
    output_folder = folder;
}

void SPThread::start_code_proc(QString path)
{
    folder_path = std::move(path);
    start_requested = true;
}

void SPThread::run()
{
    while (!stop_requested) {
        if (start_requested) {
            compress_folder();
            start_requested = false;
            emit ui_code_stop(code_run_over);
        }
        for (unsigned long slept = 0; slept < pollMilliseconds && !stop_requested;
                slept += stopSliceMilliseconds)
            msleep(stopSliceMilliseconds);
    }
}

void SPThread::compress_folder()
{
    SignalReporter reporter(this, stop_requested);
    FolderCompressor compressor(output_folder, &reporter);
    // Without a line the window would seem to do nothing at all.
    if (compressor.run(folder_path) == FolderCompressor::FolderMissing)
        emit ui_string_debug(
                QStringLiteral("文件夹不存在:") + QDir::toNativeSeparators(folder_path));
}
