#include "kernelcopy.h"

#ifdef Q_OS_LINUX
#include <cerrno>
#include <unistd.h>
#endif

namespace KernelCopy {

#ifdef Q_OS_LINUX

Result copy(int input, qint64 *inputOffset, int output, qint64 *outputOffset, qint64 expectedBytes,
        qint64 outputLimit)
{
    // Bounds one call, so a file that grows without end is noticed at the limit.
    constexpr qint64 maxRequest = qint64(1) << 30;
    qint64 copied = 0;
    for (;;) {
        // One byte beyond what is expected: a file of exactly that length
        // then ends with a short copy instead of one more call.
        const qint64 wanted = qMin(
                copied < expectedBytes ? qMin(expectedBytes - copied + 1, maxRequest) : maxRequest,
                outputLimit - *outputOffset);
        if (wanted <= 0)
            return ReachedEnd;
        loff_t from = *inputOffset;
        loff_t to = *outputOffset;
        const ssize_t done = ::copy_file_range(input, &from, output, &to, size_t(wanted), 0);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return Refused;
        }
        *inputOffset += done;
        *outputOffset += done;
        copied += done;
        if (done == 0 || (done < wanted && copied >= expectedBytes))
            return ReachedEnd;
    }
}

#else

Result copy(int, qint64 *, int, qint64 *, qint64, qint64)
{
    return Refused;
}

#endif

} // namespace KernelCopy
