#ifndef ADPCM_H
#define ADPCM_H

#include <QtGlobal>

// 4-bit IMA ADPCM over memory, one continuous stream without block headers.
// Byte k holds the code of sample 2k in its high nibble and that of sample
// 2k+1 in its low nibble; for an odd count the last low nibble is 0.
// Pure functions: safe to call from any thread on distinct data.

// Coder state carried from one sample to the next; both fields start at 0
// for every file.
struct AdpcmState
{
    qint16 predictor; // last predicted sample
    qint8 step_index; // position in the step size table, 0 to 88
};

// Encodes count signed 16-bit samples into output, which must hold at least
// (count + 1) / 2 bytes, and updates state in place. Returns the number of
// bytes written. A negative count writes nothing.
int adpcm_coder(const qint16 *samples, int count, unsigned char *output, AdpcmState *state);

// One of several independent streams encoded by one adpcm_coder_streams call.
struct AdpcmStream
{
    const qint16 *samples;
    int count; // samples; a negative count writes nothing
    unsigned char *output; // at least (count + 1) / 2 bytes
    AdpcmState *state; // updated in place
};

// Encodes each stream exactly as adpcm_coder would on its own. Each sample
// depends on the one before, so one stream keeps the processor waiting; the
// streams' chains are independent, and coding them side by side overlaps
// them. Streams of unequal lengths are fine.
void adpcm_coder_streams(const AdpcmStream *streams, int streamCount);

// Decodes count samples from input (at least (count + 1) / 2 bytes) into
// output and updates state in place. Given the same starting state, it
// reproduces the predictor sequence of adpcm_coder exactly. Returns the number
// of samples written.
int adpcm_decoder(const unsigned char *input, int count, qint16 *output, AdpcmState *state);

#endif // ADPCM_H
