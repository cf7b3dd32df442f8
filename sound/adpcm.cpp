#include "adpcm.h"

#include <array>
#include <utility>

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
// difference reaches, and the predictor moves by step >> 3 plus the highest
// threshold reached. Counting comparisons instead of branching keeps the
// serial chain from one sample to the next short and the instructions per
// sample few, which is what bounds several streams coded side by side; the
// next row is a pointer so that no index arithmetic sits on that chain either.
struct CoderRow
{
    qint32 thresholds[7]; // smallest difference for magnitudes 1 to 7
    qint32 changes[8]; // predictor change for each magnitude
    const CoderRow *next[8]; // row after each magnitude, clamped to 0..88
};

struct CoderTable
{
    CoderRow rows[stepCount] = {};

    CoderTable()
    {
        for (int index = 0; index < stepCount; ++index) {
            const qint32 step = stepSizes[index];
            CoderRow &row = rows[index];
            row.changes[0] = step >> 3;
            for (int magnitude = 1; magnitude < 8; ++magnitude) {
                const qint32 threshold = ((magnitude & 4) ? step : 0)
                        + ((magnitude & 2) ? step >> 1 : 0) + ((magnitude & 1) ? step >> 2 : 0);
                row.thresholds[magnitude - 1] = threshold;
                row.changes[magnitude] = (step >> 3) + threshold;
            }
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
    // Balanced sums: a running total would put seven additions in a row.
    const int magnitude =
            ((int(distance >= r.thresholds[0]) + int(distance >= r.thresholds[1]))
                    + (int(distance >= r.thresholds[2]) + int(distance >= r.thresholds[3])))
            + ((int(distance >= r.thresholds[4]) + int(distance >= r.thresholds[5]))
                    + int(distance >= r.thresholds[6]));
    const int change = r.changes[magnitude];
    int next = predictor + ((change ^ sign) - sign);
    // Only the side the change moved towards can overflow: compare in the
    // mirrored domain and take the matching limit.
    next = (next ^ sign) > sampleMaximum ? (sampleMaximum ^ sign) : next;
    predictor = next;
    row = r.next[magnitude];
    return magnitude | (sign & signBit);
}

// A stream while it is being coded: where it stands and its coder state.
struct Lane
{
    const qint16 *samples;
    unsigned char *output;
    const CoderRow *row;
    int remaining;
    int predictor;
};

// At most this many streams are coded side by side: beyond it the lanes'
// state no longer fits in the processor's registers.
constexpr int maxLanes = 4;

// Codes pairs sample pairs of every lane, the lanes' steps interleaved. The
// lane count is a template parameter and the lanes' state is held in locals,
// so the compiler keeps it in registers.
template <int... K>
void encodePairs(Lane *const *lanes, int pairs, std::integer_sequence<int, K...>)
{
    constexpr int count = sizeof...(K);
    const qint16 *samples[count] = { lanes[K]->samples... };
    unsigned char *output[count] = { lanes[K]->output... };
    int predictor[count] = { lanes[K]->predictor... };
    const CoderRow *row[count] = { lanes[K]->row... };
    for (int pair = 0; pair < pairs; ++pair) {
        const int high[count] = { encodeSample(samples[K][2 * pair], predictor[K], row[K])... };
        const int low[count] = { encodeSample(samples[K][2 * pair + 1], predictor[K], row[K])... };
        ((output[K][pair] = static_cast<unsigned char>((high[K] << 4) | low[K])), ...);
    }
    ((lanes[K]->samples += 2 * pairs, lanes[K]->output += pairs, lanes[K]->remaining -= 2 * pairs,
             lanes[K]->predictor = predictor[K], lanes[K]->row = row[K]),
            ...);
}

// Codes up to maxLanes lanes to their ends: side by side while at least two
// have whole pairs left, then the last pairs alone, then any odd last sample.
void encodeLanes(Lane *lanes, int laneCount)
{
    for (;;) {
        Lane *active[maxLanes];
        int activeCount = 0;
        int pairs = 0;
        for (int i = 0; i < laneCount; ++i) {
            if (lanes[i].remaining < 2)
                continue;
            const int lanePairs = lanes[i].remaining / 2;
            pairs = activeCount == 0 ? lanePairs : qMin(pairs, lanePairs);
            active[activeCount++] = &lanes[i];
        }
        switch (activeCount) {
        case 0:
            for (int i = 0; i < laneCount; ++i) {
                if (lanes[i].remaining == 1) {
                    *lanes[i].output++ = static_cast<unsigned char>(
                            encodeSample(*lanes[i].samples++, lanes[i].predictor, lanes[i].row)
                            << 4);
                    lanes[i].remaining = 0;
                }
            }
            return;
        case 1:
            encodePairs(active, pairs, std::make_integer_sequence<int, 1>());
            break;
        case 2:
            encodePairs(active, pairs, std::make_integer_sequence<int, 2>());
            break;
        case 3:
            encodePairs(active, pairs, std::make_integer_sequence<int, 3>());
            break;
        default:
            encodePairs(active, pairs, std::make_integer_sequence<int, maxLanes>());
            break;
        }
    }
}

} // namespace

void adpcm_coder_streams(const AdpcmStream *streams, int streamCount)
{
    const CoderTable &table = coderTable();
    for (int first = 0; first < streamCount; first += maxLanes) {
        const int laneCount = qMin(maxLanes, streamCount - first);
        Lane lanes[maxLanes];
        for (int i = 0; i < laneCount; ++i) {
            const AdpcmStream &stream = streams[first + i];
            lanes[i] = { stream.samples, stream.output,
                &table.rows[qBound(0, int(stream.state->step_index), maxStepIndex)],
                qMax(stream.count, 0), stream.state->predictor };
        }
        encodeLanes(lanes, laneCount);
        for (int i = 0; i < laneCount; ++i) {
            AdpcmState *state = streams[first + i].state;
            state->predictor = static_cast<qint16>(lanes[i].predictor);
            state->step_index = static_cast<qint8>(lanes[i].row - table.rows);
        }
    }
}

int adpcm_coder(const qint16 *samples, int count, unsigned char *output, AdpcmState *state)
{
    const AdpcmStream stream = { samples, count, output, state };
    adpcm_coder_streams(&stream, 1);
    return count < 0 ? 0 : (count + 1) / 2;
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
