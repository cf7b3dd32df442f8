#ifndef KERNELCOPY_H
#define KERNELCOPY_H

#include <QtGlobal>

// Copies file contents from one descriptor to another inside the kernel
// (copy_file_range on Linux), without passing them through the process.
// Positions are explicit: neither descriptor's own file position moves.
namespace KernelCopy {

enum Result {
    ReachedEnd, // the input's end was reached, or what it yielded reached the limit
    Refused, // the kernel would not (go on), for whatever reason; go on another way
};

// Copies from input at *inputOffset to output at *outputOffset until the
// input ends or *outputOffset reaches outputLimit; both offsets advance by
// what was copied, also when the copy is refused part-way. expectedBytes is
// what the input is believed to hold from *inputOffset: a short copy once
// that many bytes arrived counts as the end, which spares a call per file.
Result copy(int input, qint64 *inputOffset, int output, qint64 *outputOffset, qint64 expectedBytes,
        qint64 outputLimit);

} // namespace KernelCopy

#endif // KERNELCOPY_H
