#include "adpcm.h"

#include <array>

namespace {

// Number of entries in the IMA ADPCM step size table.
constexpr int stepCount = 89;
constexpr int maxStepIndex = stepCount - 1;

constexpr std::array<qint32, stepCount> stepSizes = { 7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21,
    23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88, 97, 107, 118, 130, 143, 157, 173,
    190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060,
    1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871,
    5358, 5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500,
    20350, 22385, 24623, 27086, 29794, 32767 };

constexpr std::array<qint32, 16> indexAdjustments = { -1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2,
    4, 6, 8 };

constexpr int sampleMinimum = -32768;
constexpr int sampleMaximum = 32767;
constexpr int signBit = 8;

int nextStepIndex(int stepIndex, int code)
{
    const int next = stepIndex + indexAdjustments[code];
    return next < 0 ? 0 : (next > maxStepIndex ? maxStepIndex : next);
}

// Everything the coder needs for one step index. The classic coder subtracts
// step, step >> 1 and step >> 2 in turn; because those three parts never grow,
// the magnitude it picks is the number of cumulative thresholds that the
// difference reaches, and the predictor moves by the parts those thresholds
// add. Counting comparisons instead of branching keeps the serial chain from
// one sample to the next short; the next row is a pointer so that no index
// arithmetic sits on that chain either.
struct CoderRow
{
    qint32 thresholds[7]; // smallest difference for magnitudes 1 to 7
    qint32 base; // step >> 3, always part of the predictor change
    qint32 increments[7]; // predictor change added on reaching each threshold
    const CoderRow *next[8]; // row after each magnitude, clamped to 0..88
};

struct CoderTable
{
    CoderRow rows[stepCount] = {};

    CoderTable()
    {
        for (int index = 0; index < stepCount; ++index) {
            const qint32 step = stepSizes[index];
            qint32 previous = 0;
            CoderRow &row = rows[index];
            for (int magnitude = 1; magnitude < 8; ++magnitude) {
                const qint32 threshold = ((magnitude & 4) ? step : 0)
                        + ((magnitude & 2) ? step >> 1 : 0) + ((magnitude & 1) ? step >> 2 : 0);
                row.thresholds[magnitude - 1] = threshold;
                row.increments[magnitude - 1] = threshold - previous;
                previous = threshold;
            }
            row.base = step >> 3;
            for (int magnitude = 0; magnitude < 8; ++magnitude)
                row.next[magnitude] = &rows[nextStepIndex(index, magnitude)];
        }
    }
};

const CoderTable &coderTable()
{
    static const CoderTable table;
    return table;
}

inline int encodeSample(int sample, int &predictor, const CoderRow *&row)
{
    const CoderRow &r = *row;
    const int difference = sample - predictor;
    const int sign = difference >> 31; // all ones when negative
    const int distance = (difference ^ sign) - sign;
    const int c0 = distance >= r.thresholds[0];
    const int c1 = distance >= r.thresholds[1];
    const int c2 = distance >= r.thresholds[2];
    const int c3 = distance >= r.thresholds[3];
    const int c4 = distance >= r.thresholds[4];
    const int c5 = distance >= r.thresholds[5];
    const int c6 = distance >= r.thresholds[6];
    // Balanced sums: a running total would put seven additions in a row.
    const int magnitude = ((c0 + c1) + (c2 + c3)) + ((c4 + c5) + c6);
    const int change = (((-c0 & r.increments[0]) + (-c1 & r.increments[1]))
                               + ((-c2 & r.increments[2]) + (-c3 & r.increments[3])))
            + (((-c4 & r.increments[4]) + (-c5 & r.increments[5]))
                    + ((-c6 & r.increments[6]) + r.base));
    int next = predictor + ((change ^ sign) - sign);
    // Only the side the change moved towards can overflow: compare in the
    // mirrored domain and take the matching limit.
    next = (next ^ sign) > sampleMaximum ? (sampleMaximum ^ sign) : next;
    predictor = next;
    row = r.next[magnitude];
    return magnitude | (sign & signBit);
}

} // namespace

int adpcm_coder(const qint16 *samples, int count, unsigned char *output, AdpcmState *state)
{
    const CoderTable &table = coderTable();
    int predictor = state->predictor;
    const CoderRow *row = &table.rows[qBound(0, int(state->step_index), maxStepIndex)];
    unsigned char *out = output;
    int i = 0;
    for (; i + 1 < count; i += 2) {
        const int high = encodeSample(samples[i], predictor, row);
        const int low = encodeSample(samples[i + 1], predictor, row);
        *out++ = static_cast<unsigned char>((high << 4) | low);
    }
    if (i < count)
        *out++ = static_cast<unsigned char>(encodeSample(samples[i], predictor, row) << 4);
    state->predictor = static_cast<qint16>(predictor);
    state->step_index = static_cast<qint8>(row - table.rows);
    return static_cast<int>(out - output);
}

int adpcm_decoder(const unsigned char *input, int count, qint16 *output, AdpcmState *state)
{
    int predictor = state->predictor;
    int stepIndex = qBound(0, int(state->step_index), maxStepIndex);
    for (int i = 0; i < count; ++i) {
        const int code = (i & 1) ? (input[i >> 1] & 0x0f) : (input[i >> 1] >> 4);
        const int step = stepSizes[stepIndex];
        int change = step >> 3;
        if (code & 4)
            change += step;
        if (code & 2)
            change += step >> 1;
        if (code & 1)
            change += step >> 2;
        if (code & signBit)
            predictor = predictor - change < sampleMinimum ? sampleMinimum : predictor - change;
        else
            predictor = predictor + change > sampleMaximum ? sampleMaximum : predictor + change;
        stepIndex = nextStepIndex(stepIndex, code);
        output[i] = static_cast<qint16>(predictor);
    }
    state->predictor = static_cast<qint16>(predictor);
    state->step_index = static_cast<qint8>(stepIndex);
    return count < 0 ? 0 : count;
}
