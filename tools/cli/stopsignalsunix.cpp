// StopSignals on Unix: SIGINT and SIGTERM.

#include "stopsignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The socket pair: the handler writes to [1], the notifier watches [0].
int wakeUp[2] = { -1, -1 };
volatile sig_atomic_t stopsReceived = 0;

extern "C" void onStopSignal(int number)
{
    if (stopsReceived)
        _exit(128 + number);
    stopsReceived = 1;
    const unsigned char byte = static_cast<unsigned char>(number);
    const ssize_t written = ::write(wakeUp[1], &byte, 1);
    Q_UNUSED(written)
}

void setHandler(int number, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent) { }

StopSignals::~StopSignals()
{
    if (!notifier)
        return;
    setHandler(SIGINT, SIG_DFL);
    setHandler(SIGTERM, SIG_DFL);
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

bool StopSignals::install()
{
    if (notifier || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeUp) != 0)
        return notifier != nullptr;
    auto *socketNotifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, this);
    connect(socketNotifier, &QSocketNotifier::activated, this, &StopSignals::readWakeUp);
    notifier = socketNotifier;
    setHandler(SIGINT, onStopSignal);
    setHandler(SIGTERM, onStopSignal);
    return true;
}

void StopSignals::readWakeUp()
{
    unsigned char number = 0;
    if (::read(wakeUp[0], &number, 1) != 1)
        return;
    emit received(number == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
}
