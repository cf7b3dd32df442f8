#ifndef REFERENCEADPCMCODER_H
#define REFERENCEADPCMCODER_H

#include "adpcm.h"

#include <algorithm>

// The IMA ADPCM coder written as the algorithm reads, one branch per step: the yardstick that the
// tests hold the table-driven adpcm_coder() to and that the benchmark measures it against. The
// same contract as adpcm_coder(); predictions, when given, receives the predictor after each of
// the count samples.
inline int referenceAdpcmCoder(const qint16 *samples, int count, unsigned char *output,
        AdpcmState *state, qint16 *predictions = nullptr)
{
    static const int steps[89] = { 7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34,
        37, 41, 45, 50, 55, 60, 66, 73, 80, 88, 97, 107, 118, 130, 143, 157, 173, 190, 209, 230,
        253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282,
        1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358,
        5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350,
        22385, 24623, 27086, 29794, 32767 };
    static const int adjustments[16] = { -1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8 };
    int predictor = state->predictor;
    int index = state->step_index;
    unsigned char *out = output;
    for (int i = 0; i < count; ++i) {
        const int step = steps[index];
        int diff = samples[i] - predictor;
        const int sign = diff < 0 ? 8 : 0;
        if (sign)
            diff = -diff;
        int code = 0;
        int vpdiff = step >> 3;
        if (diff >= step) {
            code = 4;
            diff -= step;
            vpdiff += step;
        }
        if (diff >= (step >> 1)) {
            code |= 2;
            diff -= step >> 1;
            vpdiff += step >> 1;
        }
        if (diff >= (step >> 2)) {
            code |= 1;
            vpdiff += step >> 2;
        }
        predictor =
                sign ? std::max(predictor - vpdiff, -32768) : std::min(predictor + vpdiff, 32767);
        code |= sign;
        index = std::clamp(index + adjustments[code], 0, 88);
        if (predictions)
            predictions[i] = static_cast<qint16>(predictor);
        if (i & 1)
            *out++ |= static_cast<unsigned char>(code);
        else
            *out = static_cast<unsigned char>(code << 4);
    }
    if (count & 1)
        ++out;
    state->predictor = static_cast<qint16>(predictor);
    state->step_index = static_cast<qint8>(index);
    return static_cast<int>(out - output);
}

#endif // REFERENCEADPCMCODER_H
