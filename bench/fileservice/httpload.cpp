// A bounded HTTP download loader for the serving benchmark: opens every
// connection at once to 127.0.0.1 (one GET each, like a fleet of devices
// fetching their image, each from a loopback address of its own: 127.0.0.2
// on), reads each body to its end and checks its length.
//
//   httpload PORT PATH CLIENTS EXPECTED_SIZE [TIMEOUT_SECONDS]
//
// Prints one line: clients, complete and failed downloads, 503 answers,
// body bytes, seconds from the first connect to the last byte, and MB/s.
// Exits 0 when every download was complete.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Upper bounds that keep a run from touching anything beyond a test load.
constexpr long max_clients = 1000;
constexpr long max_timeout_seconds = 600;
constexpr long default_timeout_seconds = 60;
// Read size; large, so the client is never what limits the server.
constexpr size_t read_size = 256 * 1024;
// Longest header block accepted before a reply counts as broken.
constexpr size_t max_header_size = 16384;

struct Connection
{
    int descriptor = -1;
    std::string request;
    size_t request_sent = 0;
    std::string header;
    bool header_done = false;
    int status = 0;
    long long content_length = -1;
    long long body_received = 0;
    bool finished = false;
    bool complete = false;
};

long long header_value(const std::string &header, const char *name)
{
    const std::string key = std::string("\r\n") + name + ":";
    size_t at = 0;
    while ((at = header.find("\r\n", at)) != std::string::npos) {
        if (strncasecmp(header.c_str() + at, key.c_str(), key.size()) == 0)
            return std::atoll(header.c_str() + at + key.size());
        at += 2;
    }
    return -1;
}

void finish(Connection &connection, int epoll, long long expected)
{
    connection.finished = true;
    connection.complete = connection.status == 200 && connection.content_length == expected
            && connection.body_received == expected;
    epoll_ctl(epoll, EPOLL_CTL_DEL, connection.descriptor, nullptr);
    close(connection.descriptor);
}

// Takes what arrived; returns false once the connection is done with.
bool take(Connection &connection, const char *data, size_t size)
{
    if (connection.header_done) {
        connection.body_received += static_cast<long long>(size);
        return true;
    }
    connection.header.append(data, size);
    const size_t end = connection.header.find("\r\n\r\n");
    if (end == std::string::npos)
        return connection.header.size() <= max_header_size;
    connection.header_done = true;
    const size_t space = connection.header.find(' ');
    connection.status =
            space == std::string::npos ? 0 : std::atoi(connection.header.c_str() + space + 1);
    connection.content_length =
            header_value(connection.header.substr(0, end + 2), "Content-Length");
    connection.body_received = static_cast<long long>(connection.header.size() - end - 4);
    connection.header.resize(end);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5 || argc > 6) {
        std::fprintf(stderr, "usage: httpload PORT PATH CLIENTS EXPECTED_SIZE [TIMEOUT_SECONDS]\n");
        return 2;
    }
    const long port = std::atol(argv[1]);
    const std::string path = argv[2];
    const long clients = std::atol(argv[3]);
    const long long expected = std::atoll(argv[4]);
    const long timeout_seconds = argc == 6 ? std::atol(argv[5]) : default_timeout_seconds;
    if (port < 1 || port > 65535 || path.empty() || path[0] != '/' || clients < 1
            || clients > max_clients || expected < 0 || timeout_seconds < 1
            || timeout_seconds > max_timeout_seconds) {
        std::fprintf(stderr, "httpload: argument out of range\n");
        return 2;
    }

    sockaddr_in server = {};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Connection> connections(static_cast<size_t>(clients));
    const auto start = std::chrono::steady_clock::now();
    auto last_byte = start;
    size_t open_count = 0;
    for (size_t i = 0; i < connections.size(); ++i) {
        Connection &connection = connections[i];
        connection.request =
                "GET " + path + " HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
        connection.descriptor = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in device = {};
        device.sin_family = AF_INET;
        device.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + static_cast<uint32_t>(i));
        if (connection.descriptor < 0
                || bind(connection.descriptor, reinterpret_cast<sockaddr *>(&device), sizeof device)
                        != 0
                || (connect(connection.descriptor, reinterpret_cast<sockaddr *>(&server),
                            sizeof server)
                                != 0
                        && errno != EINPROGRESS)) {
            if (connection.descriptor >= 0)
                close(connection.descriptor);
            connection.finished = true;
            continue;
        }
        epoll_event event = {};
        event.events = EPOLLOUT | EPOLLIN | EPOLLRDHUP;
        event.data.u64 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, connection.descriptor, &event);
        ++open_count;
    }

    std::vector<char> buffer(read_size);
    std::vector<epoll_event> events(64);
    const auto deadline = start + std::chrono::seconds(timeout_seconds);
    while (open_count > 0 && std::chrono::steady_clock::now() < deadline) {
        const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 100);
        for (int e = 0; e < ready; ++e) {
            Connection &connection = connections[events[e].data.u64];
            if (connection.finished)
                continue;
            bool done = false;
            if ((events[e].events & EPOLLOUT)
                    && connection.request_sent < connection.request.size()) {
                const ssize_t sent = send(connection.descriptor,
                        connection.request.data() + connection.request_sent,
                        connection.request.size() - connection.request_sent, MSG_NOSIGNAL);
                if (sent > 0)
                    connection.request_sent += static_cast<size_t>(sent);
                else if (errno != EAGAIN)
                    done = true;
                if (connection.request_sent == connection.request.size()) {
                    epoll_event event = {};
                    event.events = EPOLLIN | EPOLLRDHUP;
                    event.data.u64 = events[e].data.u64;
                    epoll_ctl(epoll, EPOLL_CTL_MOD, connection.descriptor, &event);
                }
            }
            if (events[e].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
                for (;;) {
                    const ssize_t got = read(connection.descriptor, buffer.data(), buffer.size());
                    if (got > 0) {
                        last_byte = std::chrono::steady_clock::now();
                        // A device stops at "Content-Length", whoever closes first.
                        if (!take(connection, buffer.data(), static_cast<size_t>(got))
                                || (connection.header_done && connection.content_length >= 0
                                        && connection.body_received >= connection.content_length)) {
                            done = true;
                            break;
                        }
                        continue;
                    }
                    if (got < 0 && errno == EAGAIN)
                        break;
                    done = true;
                    break;
                }
            }
            if (done) {
                finish(connection, epoll, expected);
                --open_count;
            }
        }
    }
    for (Connection &connection : connections) {
        if (!connection.finished)
            finish(connection, epoll, expected);
    }
    close(epoll);

    long complete = 0;
    long unavailable = 0;
    long long bytes = 0;
    for (const Connection &connection : connections) {
        complete += connection.complete ? 1 : 0;
        unavailable += connection.status == 503 ? 1 : 0;
        bytes += connection.body_received;
    }
    const double seconds = std::chrono::duration<double>(last_byte - start).count();
    std::printf("clients=%ld complete=%ld failed=%ld status503=%ld bytes=%lld seconds=%.4f "
                "MBps=%.1f\n",
            clients, complete, clients - complete, unavailable, bytes, seconds,
            seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0);
    return complete == clients ? 0 : 1;
}
