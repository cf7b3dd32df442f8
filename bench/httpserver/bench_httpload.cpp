// Load test of the HTTP server on loopback: a fleet of clients start at the same moment, each
// sending its requests one after the other, against the default request handler. Bounded in
// clients, requests and time.
//
// Usage: bench_httpload [clients] [requests per client] [close|keepalive]
//   (defaults 100, 20, close). "close": a new connection per request with "Connection: close", as
//   the devices do; "keepalive": one connection per client carrying all its requests, so every
//   client holds a handler for the whole run.
// Prints the numbers and exits 1 when a request failed or was refused, when the listen queue
// overflowed, when a handler stayed busy, or when memory did not come back near its start.

#include "httpconnectionhandlerpool.h"
#include "httplistener.h"
#include "httprequesthandler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Longest wait of a client for connecting, sending or receiving, in seconds.
constexpr int clientTimeoutSeconds = 10;
// Whole run limit, in milliseconds.
constexpr int runLimitMilliseconds = 120000;
// Memory may stay this much above its starting level after the run, in KiB (thread stacks and
// allocator arenas are given back lazily).
constexpr long memorySlackKiB = 32 * 1024;

const QByteArray closingRequest =
        "GET /bench HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
const QByteArray keptAliveRequest = "GET /bench HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const QByteArray expectedAnswer = "HTTP/1.1 501 not implemented\r\n";
const QByteArray expectedBody = "501 not implemented";
const QByteArray refusedAnswer = "HTTP/1.1 503";

struct Counters
{
    std::atomic<int> ok{ 0 };
    std::atomic<int> failed{ 0 };
    std::atomic<int> reset{ 0 };
    std::atomic<int> refused{ 0 };
};

// The kernel's count of connections dropped because a listen queue was full (TcpExt
// ListenOverflows, as nstat shows it).
long listenOverflows()
{
    QFile file(QStringLiteral("/proc/net/netstat"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines.at(i).startsWith("TcpExt:"))
            continue;
        const QList<QByteArray> names = lines.at(i).simplified().split(' ');
        const QList<QByteArray> values = lines.at(i + 1).simplified().split(' ');
        const int index = names.indexOf("ListenOverflows");
        return index < 0 ? -1 : values.value(index).toLong();
    }
    return -1;
}

long residentKiB()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toLong();
    }
    return -1;
}

// Connects from a loopback address of the client's own (127.0.0.2 for the first), as each device
// of a fleet has its own address.
int connectTo(quint16 port, int client)
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval timeout{ clientTimeoutSeconds, 0 };
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + quint32(client));
    if (::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

// Sends one request and reads its answer: up to the end of the stream, or up to the end of the
// expected body when the connection is kept alive. Returns false when the connection is unusable.
bool exchange(int descriptor, const QByteArray &request, bool untilClosed, Counters &counters)
{
    if (::send(descriptor, request.constData(), size_t(request.size()), MSG_NOSIGNAL)
            != request.size()) {
        ++counters.failed;
        return false;
    }
    QByteArray answer;
    char buffer[4096];
    while (untilClosed || !answer.endsWith(expectedBody)) {
        const ssize_t count = ::recv(descriptor, buffer, sizeof buffer, 0);
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == ECONNRESET)
                ++counters.reset;
            else
                ++counters.failed;
            return false;
        }
        answer.append(buffer, int(count));
        if (answer.startsWith(refusedAnswer))
            untilClosed = true;
    }
    if (answer.startsWith(refusedAnswer)) {
        ++counters.refused;
        return false;
    }
    if (answer.startsWith(expectedAnswer) && answer.endsWith(expectedBody)) {
        ++counters.ok;
        return true;
    }
    ++counters.failed;
    return false;
}

void runClient(quint16 port, int client, int requests, bool keepAlive, Counters &counters)
{
    if (keepAlive) {
        const int descriptor = connectTo(port, client);
        if (descriptor < 0) {
            counters.failed += requests;
            return;
        }
        for (int done = 0; done < requests; ++done) {
            if (!exchange(descriptor, keptAliveRequest, false, counters)) {
                counters.failed += requests - done - 1;
                break;
            }
        }
        ::close(descriptor);
        return;
    }
    for (int done = 0; done < requests; ++done) {
        const int descriptor = connectTo(port, client);
        if (descriptor < 0) {
            ++counters.failed;
            continue;
        }
        exchange(descriptor, closingRequest, true, counters);
        ::close(descriptor);
    }
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const int clients = arguments.value(1, QStringLiteral("100")).toInt();
    const int requestsPerClient = arguments.value(2, QStringLiteral("20")).toInt();
    const QString mode = arguments.value(3, QStringLiteral("close"));
    if (clients < 1 || requestsPerClient < 1 || clients > 1000 || requestsPerClient > 1000
            || (mode != QLatin1String("close") && mode != QLatin1String("keepalive"))) {
        std::fprintf(stderr,
                "usage: bench_httpload [clients 1-1000] [requests 1-1000] [close|keepalive]\n");
        return 2;
    }
    const bool keepAlive = mode == QLatin1String("keepalive");
    // The default handler logs a critical line per request.
    qInstallMessageHandler(quiet);

    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("config.ini")), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("UPDATE"));
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    settings.setValue(QStringLiteral("QZHOST"), QStringLiteral("127.0.0.1"));
    settings.setValue(QStringLiteral("QZPORT"), port);
    settings.setValue(QStringLiteral("maxThreads"), clients);
    // Fast trimming, so the handlers' threads are gone again when memory is measured.
    settings.setValue(QStringLiteral("cleanupInterval"), 10);

    quenmar::HttpRequestHandler handler;
    quenmar::HttpListener listener(&settings, &handler);
    if (!listener.isListening()) {
        std::fprintf(stderr, "cannot listen on port %u\n", port);
        return 1;
    }
    quenmar::HttpConnectionHandlerPool *pool = listener.connectionHandlerPool();

    const long memoryAtStart = residentKiB();
    const long overflowsAtStart = listenOverflows();
    Counters counters;
    std::atomic<int> finishedClients{ 0 };
    std::atomic<bool> go{ false };
    long memoryPeak = memoryAtStart;
    int handlersPeak = 0;

    std::vector<std::thread> fleet;
    for (int i = 0; i < clients; ++i) {
        fleet.emplace_back([&, i] {
            while (!go.load())
                std::this_thread::yield();
            runClient(port, i, requestsPerClient, keepAlive, counters);
            ++finishedClients;
        });
    }

    // A local loop: quitting the application would close the listener (it stops its threads when
    // the application is about to quit).
    QEventLoop loop;
    QElapsedTimer clock;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        memoryPeak = qMax(memoryPeak, residentKiB());
        handlersPeak = qMax(handlersPeak, pool->handlerCount());
        if (finishedClients.load() == clients || clock.elapsed() > runLimitMilliseconds)
            loop.quit();
    });
    sampler.start(5);
    clock.start();
    go.store(true);
    loop.exec();
    const qint64 elapsed = clock.elapsed();
    for (std::thread &client : fleet)
        client.join();
    const long overflowsAtEnd = listenOverflows();

    // Each handler sees its client's close a moment later, on its own thread; on a busy machine
    // that moment can outlast the clients' own end.
    QElapsedTimer settleClock;
    settleClock.start();
    while (pool->idleHandlerCount() < pool->handlerCount() && settleClock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const int busyAfter = pool->handlerCount() - pool->idleHandlerCount();
    // Let the cleanup timer trim the pool down to one idle handler.
    QElapsedTimer trimClock;
    trimClock.start();
    while (pool->handlerCount() > 1 && trimClock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(200);
    const long memoryAtEnd = residentKiB();

    const int total = clients * requestsPerClient;
    std::printf("mode %s, clients %d, requests %d, time %lld ms, %.0f requests/s\n",
            qPrintable(mode), clients, total, static_cast<long long>(elapsed),
            total * 1000.0 / qMax<qint64>(1, elapsed));
    std::printf("answered %d, failed %d, reset %d, refused (503) %d\n", counters.ok.load(),
            counters.failed.load(), counters.reset.load(), counters.refused.load());
    std::printf("listen queue overflows %ld, handlers at most %d, busy afterwards %d\n",
            overflowsAtEnd - overflowsAtStart, handlersPeak, busyAfter);
    std::printf("memory (KiB): start %ld, peak %ld, end %ld (handlers left %d)\n", memoryAtStart,
            memoryPeak, memoryAtEnd, pool->handlerCount());

#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in quarantine, so the resident size says nothing here.
    const bool memoryBack = true;
#else
    const bool memoryBack = memoryAtEnd <= memoryAtStart + memorySlackKiB;
#endif
    const bool good = counters.ok.load() == total && overflowsAtEnd == overflowsAtStart
            && busyAfter == 0 && memoryBack;
    std::printf("%s\n", good ? "PASS" : "FAIL");
    return good ? 0 : 1;
}
