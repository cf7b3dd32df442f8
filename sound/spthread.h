#ifndef SPTHREAD_H
#define SPTHREAD_H

#include <QString>
#include <QThread>

#include <atomic>

// The audio worker: polls for a start request and runs the folder compression
// on its own thread. start_code_proc() and stop() are called on the thread
// that owns the object; the signals are emitted on the worker thread.
class SPThread : public QThread
{
    Q_OBJECT

public:
    // Status code of ui_code_stop() after every run, whatever its outcome;
    // the runs' own codes are FolderCompressor::Code.
    static constexpr int code_run_over = 0;

    explicit SPThread(QObject *parent = nullptr);
    // Stops the loop and waits for the thread, so it never outlives the object.
    ~SPThread() override;

    // Ends the loop (a run in progress stops before its next file) and waits
    // until the thread has finished.
    void stop();

    // Where the compressed files go, by default
    // FolderCompressor::defaultOutputFolder(). Read by the worker during a
    // run, so set it only while no run is pending or active.
    void setOutputFolder(const QString &folder);

signals:
    void ui_string_debug(QString);
    void ui_code_stop(int);

public slots:
    void start_code_proc(QString);

protected:
    void run() override;

private:
    void compress_folder();

    std::atomic<bool> start_requested{ false };
    QString folder_path;
    std::atomic<bool> stop_requested{ false };
    QString output_folder;
};

#endif // SPTHREAD_H
