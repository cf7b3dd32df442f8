#ifndef FOLDERCOMPRESSOR_H
#define FOLDERCOMPRESSOR_H

#include "adpcm.h"
#include "wavheader.h"

#include <QString>

#include <vector>

// Compresses every mono 16-bit PCM WAV file of a folder (at most 16000
// samples per second and 1048576 bytes) to IMA ADPCM files of the same name in
// an output folder, reporting each step as a log line and a status code. The
// inputs' chunks may lie anywhere; outputs get the canonical 44-byte header.
// Runs on whichever thread calls run(); the reporter is called on that thread.
// Files are read a few at a time and coded side by side, on every core the
// thread may run on, then written and reported one by one in listing order.
class FolderCompressor
{
public:
    // Status codes passed to Reporter::code().
    enum Code {
        CodePathEmpty = 1, // the folder path is empty
        CodeOpenFailed = 2, // an output file cannot be opened for writing
        CodeFinished = 3, // the run reached its summary
    };

    // How a run ended.
    enum Outcome {
        FolderMissing, // the input folder does not exist: nothing reported
        PathEmpty, // code 1 reported
        OutputFolderFailed, // the output folder could not be created
        Stopped, // Reporter::stopRequested() ended the run between two files
        Finished, // the summary and code 3 were reported
    };

    class Reporter
    {
    public:
        virtual ~Reporter() = default;
        // One log line, in the order the run produces them.
        virtual void line(const QString &text) = 0;
        // One status code; outputPath names the output file for CodeOpenFailed
        // and is empty otherwise.
        virtual void code(int code, const QString &outputPath) = 0;
        // Polled between files; true ends the run without its summary.
        virtual bool stopRequested() const { return false; }
        // A file refused for its size or format, after its line: its length in
        // bytes and what its chunks say (as far as the first
        // maxInputBytes + 1 bytes go).
        virtual void refused(const QString &name, qint64 size, const WavHeader::Layout &layout)
        {
            Q_UNUSED(name)
            Q_UNUSED(size)
            Q_UNUSED(layout)
        }
        // The system's reason why inputPath could not be opened or read,
        // after its line; the file counts as a failure.
        virtual void readFailed(const QString &inputPath, const QString &reason)
        {
            Q_UNUSED(inputPath)
            Q_UNUSED(reason)
        }
        // The system's reason why outputPath could not be opened or written;
        // reported just before CodeOpenFailed or the file's failure line.
        virtual void writeFailed(const QString &outputPath, const QString &reason)
        {
            Q_UNUSED(outputPath)
            Q_UNUSED(reason)
        }
    };

    // Largest input file accepted, in bytes (one mebibyte).
    static constexpr qint64 maxInputBytes = 1048576;
    // Length of the canonical WAV header that outputs get; inputs must be longer.
    static constexpr int headerBytes = WavHeader::size;

    // reporter is not owned and must outlive the compressor.
    FolderCompressor(const QString &outputFolder, Reporter *reporter);

    // The window's output folder: the folder "sound" in the program's folder.
    static QString defaultOutputFolder();

    // Compresses the regular files of folderPath (hidden ones included,
    // symbolic links excluded) in case-insensitive name order.
    Outcome run(const QString &folderPath);

    int successCount() const { return success_count; }
    int failureCount() const { return failure_count; }

private:
    // A file read in the current batch: accepted (its content waits in an
    // input slot) or refused (its report waits for its turn).
    struct Pending
    {
        QString name;
        int slot = -1; // input slot of an accepted file; -1 for a refused one
        WavHeader::Layout layout;
        qint64 size = 0; // bytes, as reported for a refused file
        QString refusal; // log line of a refused file
        bool refusalCounts = false; // the refusal counts as a failure
        QString path; // of a file that could not be read
        QString readError; // the system's reason for that; empty when it was read
    };

    // Reads and checks one file into the batch.
    void readFile(const QString &filePath);
    // Notes in the batch a file that could not be opened or read.
    void unreadable(const QString &filePath, const QString &name, const QString &what,
            const QString &reason);
    // Codes the batch's accepted files side by side, then writes and reports
    // every file of the batch in listing order. Returns false when
    // Reporter::stopRequested() ended the run between two of them.
    bool finishBatch();
    // Codes the streams side by side, spread over the run's coding cores.
    void codeOnCores(const std::vector<AdpcmStream> &streams) const;
    void writeFile(const Pending &file);
    bool writeOutput(const QString &targetPath, const QString &name, const std::vector<char> &data);
    void reportWriteFailure(const QString &targetPath, const QString &reason);
    void fail(const QString &text);

    QString output_folder;
    Reporter *reporter;
    int success_count = 0;
    int failure_count = 0;
    // Cores the run codes on (those it may run on, at most four), and the
    // files it reads ahead: four for each.
    int coding_cores = 1;
    int batch_capacity = 1;
    std::vector<Pending> batch;
    int batch_accepted = 0;
    // One input and one output buffer per file read ahead, reused by every
    // batch of a run so a folder of many files costs no allocation per file.
    std::vector<std::vector<char>> inputs;
    std::vector<std::vector<char>> outputs;
};

#endif // FOLDERCOMPRESSOR_H
