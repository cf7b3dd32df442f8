// StopSignals on Windows: Ctrl-C and Ctrl-Break on the console.

#include "stopsignals.h"

#include <QWinEventNotifier>

#include <atomic>

#include <windows.h>

namespace {

// The statuses of a second request, those of SIGINT and SIGTERM on Unix.
constexpr UINT interruptedStatus = 130;
constexpr UINT terminatedStatus = 143;

// Set by the handler, watched by the notifier.
HANDLE wakeUp = nullptr;
std::atomic<DWORD> lastEvent{ CTRL_C_EVENT };
std::atomic<bool> stopsReceived{ false };

// Runs on a thread the system starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    // Closing the console, logging off and shutting down keep their default actions.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (stopsReceived.exchange(true))
        ::TerminateProcess(::GetCurrentProcess(),
                event == CTRL_C_EVENT ? interruptedStatus : terminatedStatus);
    lastEvent = event;
    ::SetEvent(wakeUp);
    return TRUE;
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent) { }

StopSignals::~StopSignals()
{
    if (!notifier)
        return;
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    delete notifier;
    ::CloseHandle(wakeUp);
    wakeUp = nullptr;
}

bool StopSignals::install()
{
    if (notifier)
        return true;
    wakeUp = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!wakeUp)
        return false;
    // A program started in a process group of its own begins with Ctrl-C ignored; it stops in
    // good order nonetheless, as SIGINT does whatever the parent left on Unix.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    if (!::SetConsoleCtrlHandler(onConsoleEvent, TRUE)) {
        ::CloseHandle(wakeUp);
        wakeUp = nullptr;
        return false;
    }
    auto *eventNotifier = new QWinEventNotifier(wakeUp, this);
    connect(eventNotifier, &QWinEventNotifier::activated, this, &StopSignals::readWakeUp);
    notifier = eventNotifier;
    return true;
}

void StopSignals::readWakeUp()
{
    emit received(lastEvent == CTRL_C_EVENT ? QStringLiteral("CTRL_C_EVENT")
                                            : QStringLiteral("CTRL_BREAK_EVENT"));
}
