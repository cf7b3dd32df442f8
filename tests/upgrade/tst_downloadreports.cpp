#include "downloadobserver.h"
#include "downloadreports.h"

#include <QDeadlineTimer>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

// Longest wait for another thread, in ms.
constexpr int wait_limit = 10000;

void raise_to(std::atomic<int> &value, int candidate)
{
    int seen = value.load();
    while (seen < candidate && !value.compare_exchange_weak(seen, candidate)) { }
}

// Counts calls; optionally holds each caller until a second one is inside,
// which can only happen when calls run side by side.
class CountingObserver : public DownloadObserver
{
public:
    void download_progress(const DownloadReport &) override { enter(progress); }
    void request_answered(const DownloadReport &) override { enter(answers); }

    std::atomic<int> progress{ 0 };
    std::atomic<int> answers{ 0 };
    std::atomic<int> inside{ 0 };
    std::atomic<int> most_inside{ 0 };
    std::atomic<bool> rendezvous{ false };

private:
    void enter(std::atomic<int> &counter)
    {
        raise_to(most_inside, ++inside);
        if (rendezvous) {
            const QDeadlineTimer deadline(wait_limit);
            while (most_inside < 2 && !deadline.hasExpired()) {
                QThread::yieldCurrentThread();
                raise_to(most_inside, inside.load());
            }
        }
        ++counter;
        --inside;
    }
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
    void callsRunSideBySide();
    void removalWaitsForRunningCall();
};

void tst_DownloadReports::everyObserverHearsEveryThread()
{
    constexpr int threads = 8;
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

void tst_DownloadReports::callsRunSideBySide()
{
    CountingObserver observer;
    observer.rendezvous = true;
    DownloadReports::add_observer(&observer);
    std::unique_ptr<QThread> one(QThread::create([] { DownloadReports::publish_answer({}); }));
    std::unique_ptr<QThread> two(QThread::create([] { DownloadReports::publish_answer({}); }));
    one->start();
    two->start();
    QVERIFY(one->wait(2 * wait_limit));
    QVERIFY(two->wait(2 * wait_limit));
    DownloadReports::remove_observer(&observer);
    QCOMPARE(observer.most_inside.load(), 2);
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
