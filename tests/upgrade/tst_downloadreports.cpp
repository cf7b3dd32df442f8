#include "downloadobserver.h"
#include "downloadreports.h"

#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

// Longest wait for another thread, in ms.
constexpr int wait_limit = 10000;

// Counts calls, from any thread.
class CountingObserver : public DownloadObserver
{
public:
    void download_progress(const DownloadReport &) override { ++progress; }
    void request_answered(const DownloadReport &) override { ++answers; }

    std::atomic<int> progress{ 0 };
    std::atomic<int> answers{ 0 };
};

// Blocks inside its call until released.
class BlockingObserver : public DownloadObserver
{
public:
    void request_answered(const DownloadReport &) override
    {
        entered.release();
        release.acquire();
    }
    QSemaphore entered;
    QSemaphore release;
};

} // namespace

class tst_DownloadReports : public QObject
{
    Q_OBJECT

private slots:
    void everyObserverHearsEveryThread();
    void removalWaitsForRunningCall();
};

void tst_DownloadReports::everyObserverHearsEveryThread()
{
    constexpr int threads = 4;
    constexpr int reports = 500;
    CountingObserver first;
    CountingObserver second;
    DownloadReports::add_observer(&first);
    DownloadReports::add_observer(&second);
    DownloadReports::add_observer(&first);
    std::vector<std::unique_ptr<QThread>> publishers;
    for (int thread = 0; thread < threads; ++thread) {
        publishers.emplace_back(QThread::create([] {
            for (int index = 0; index < reports; ++index) {
                DownloadReport report;
                report.bytes_sent = quint64(index);
                DownloadReports::publish_progress(report);
                DownloadReports::publish_answer(report);
            }
        }));
        publishers.back()->start();
    }
    for (auto &publisher : publishers)
        QVERIFY(publisher->wait(wait_limit));
    DownloadReports::remove_observer(&first);
    DownloadReports::remove_observer(&second);
    for (CountingObserver *observer : { &first, &second }) {
        QCOMPARE(observer->progress.load(), threads * reports);
        QCOMPARE(observer->answers.load(), threads * reports);
    }
    DownloadReports::publish_answer(DownloadReport());
    QCOMPARE(first.answers.load(), threads * reports);
}

void tst_DownloadReports::removalWaitsForRunningCall()
{
    BlockingObserver observer;
    DownloadReports::add_observer(&observer);
    std::unique_ptr<QThread> publisher(
            QThread::create([] { DownloadReports::publish_answer({}); }));
    publisher->start();
    QVERIFY(observer.entered.tryAcquire(1, wait_limit));
    std::atomic<bool> removed{ false };
    std::unique_ptr<QThread> remover(QThread::create([&] {
        DownloadReports::remove_observer(&observer);
        removed = true;
    }));
    remover->start();
    QVERIFY(!remover->wait(200));
    QVERIFY(!removed);
    observer.release.release();
    QVERIFY(remover->wait(wait_limit));
    QVERIFY(publisher->wait(wait_limit));
    QVERIFY(removed);
}

QTEST_GUILESS_MAIN(tst_DownloadReports)
#include "tst_downloadreports.moc"
