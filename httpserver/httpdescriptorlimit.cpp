#include "httpdescriptorlimit.h"

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>
#endif

namespace quenmar {
namespace HttpDescriptorLimit {

#ifdef Q_OS_WIN

bool raiseSoftLimit()
{
    return true;
}

bool canOpen(qintptr, int)
{
    return true;
}

#else

bool raiseSoftLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool canOpen(qintptr existingDescriptor, int count)
{
    std::vector<int> copies;
    copies.reserve(static_cast<size_t>(qMax(0, count)));
    while (int(copies.size()) < count) {
        const int copy = ::fcntl(static_cast<int>(existingDescriptor), F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            break;
        copies.push_back(copy);
    }
    const bool enough = int(copies.size()) >= count;
    for (const int copy : copies)
        ::close(copy);
    return enough;
}

#endif

} // namespace HttpDescriptorLimit
} // namespace quenmar
