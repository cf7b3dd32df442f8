#ifndef QUENMAR_HTTPDESCRIPTORLIMIT_H
#define QUENMAR_HTTPDESCRIPTORLIMIT_H

// Plain system calls on the process's open-file limit; safe from any thread.

#include <QtGlobal>

namespace quenmar {

// The process's budget of file descriptors. Running out of them is fatal in places the program
// does not control (a new thread's event loop aborts the process when it cannot make its wake-up
// descriptor), so the server checks the budget before it takes on more work.
namespace HttpDescriptorLimit {

// Raises the soft limit on open files to the hard limit, the most the process may have without
// privileges. Call once at start-up, before other threads exist. Returns false, changing nothing,
// where the limit cannot be read or set. Every event loop of the program polls with poll(), so
// descriptors beyond 1024 are safe.
bool raiseSoftLimit();

// True when count more descriptors can be opened right now. Probes by duplicating
// existingDescriptor (any open descriptor) count times and closing the copies at once, which is
// exact whatever other code holds, and costs two system calls per descriptor. Always true where
// descriptors are not a per-process budget (Windows).
bool canOpen(qintptr existingDescriptor, int count);

} // namespace HttpDescriptorLimit

} // namespace quenmar

#endif // QUENMAR_HTTPDESCRIPTORLIMIT_H
