#ifndef WRITELIMIT_H
#define WRITELIMIT_H

#include <QtGlobal>

// File size limits are POSIX; the tests that use them skip elsewhere.
#ifdef Q_OS_UNIX
#include <csignal>

#include <sys/resource.h>

// Makes writes to files beyond a given size fail with EFBIG (instead of
// raising SIGXFSZ) while it lives, to test how write failures are handled.
class WriteLimit
{
public:
    explicit WriteLimit(rlim_t limitBytes)
    {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = limitBytes;
        active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~WriteLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    WriteLimit(const WriteLimit &) = delete;
    WriteLimit &operator=(const WriteLimit &) = delete;

    bool active = false;

private:
    rlimit previous{};
    void (*previousHandler)(int) = nullptr;
};

#endif // Q_OS_UNIX
#endif // WRITELIMIT_H
