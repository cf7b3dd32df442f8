#include "adpcm.h"
#include "referenceadpcmcoder.h"

#include <QtTest>

#include <cmath>
#include <iterator>
#include <random>
#include <vector>

Q_DECLARE_METATYPE(std::vector<qint16>)

namespace {

// What the reference coder makes of samples, from the starting state.
struct ReferenceResult
{
    std::vector<unsigned char> bytes;
    std::vector<qint16> predictions;
    AdpcmState state = { 0, 0 };
};

ReferenceResult referenceEncode(const std::vector<qint16> &samples)
{
    ReferenceResult result;
    result.bytes.resize((samples.size() + 1) / 2);
    result.predictions.resize(samples.size());
    referenceAdpcmCoder(samples.data(), static_cast<int>(samples.size()), result.bytes.data(),
            &result.state, result.predictions.data());
    return result;
}

enum SignalKind { Noise, SineAndNoise, ClippedSquare, RandomWalk, Silence };

std::vector<qint16> makeSignal(SignalKind kind, int count, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::uniform_int_distribution<int> small(-2000, 2000);
    std::vector<qint16> samples(static_cast<size_t>(count));
    int walk = 0;
    for (int i = 0; i < count; ++i) {
        int value = 0;
        switch (kind) {
        case Noise:
            value = full(random);
            break;
        case SineAndNoise:
            value = static_cast<int>(24000 * std::sin(i * 0.013)) + small(random);
            break;
        case ClippedSquare:
            value = ((i / 37) % 2) ? 32767 : -32768;
            break;
        case RandomWalk:
            walk = qBound(-32768, walk + small(random) * 4, 32767);
            value = walk;
            break;
        case Silence:
            break;
        }
        samples[static_cast<size_t>(i)] = static_cast<qint16>(qBound(-32768, value, 32767));
    }
    return samples;
}

std::vector<unsigned char> encode(const std::vector<qint16> &samples, AdpcmState *state)
{
    std::vector<unsigned char> bytes((samples.size() + 1) / 2 + 1, 0xAA);
    const int written =
            adpcm_coder(samples.data(), static_cast<int>(samples.size()), bytes.data(), state);
    // The byte after the stream must be untouched.
    if (bytes[static_cast<size_t>(written)] != 0xAA)
        return {};
    bytes.resize(static_cast<size_t>(written));
    return bytes;
}

} // namespace

class tst_Adpcm : public QObject
{
    Q_OBJECT

private slots:
    void goldenVectors_data();
    void goldenVectors();
    void matchesReference_data();
    void matchesReference();
    void stateCarriesAcrossCalls();
    void streamsMatchReference();
    void decoderFollowsCoder_data();
    void decoderFollowsCoder();
    void signalToNoiseFloor();
};

void tst_Adpcm::goldenVectors_data()
{
    QTest::addColumn<std::vector<qint16>>("samples");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("predictor");
    QTest::addColumn<int>("stepIndex");

    QTest::newRow("workedExample") << std::vector<qint16>{ 0, 1000, 2000, 1000 }
                                   << QByteArray::fromHex("0777") << 104 << 24;
    QTest::newRow("oddCount-lowNibbleZero") << std::vector<qint16>{ 0, 1000, 2000, 1000, -500 }
                                            << QByteArray::fromHex("0777f0") << -32 << 32;
    QTest::newRow("empty") << std::vector<qint16>() << QByteArray() << 0 << 0;
    QTest::newRow("single") << std::vector<qint16>{ -1 } << QByteArray::fromHex("90") << -1 << 0;
    std::vector<qint16> ramp;
    for (int i = 0; i < 40; ++i)
        ramp.push_back(static_cast<qint16>(i * 300 - 6000));
    QTest::newRow("ramp") << ramp << QByteArray::fromHex("fffffffb01011102112223333433434333433434")
                          << 5732 << 41;
    std::vector<qint16> square;
    for (int i = 0; i < 48; ++i)
        square.push_back(static_cast<qint16>((i / 8) % 2 == 0 ? 32767 : -32768));
    QTest::newRow("fullScaleSquare")
            << square << QByteArray::fromHex("77777777ffc8088076000000fb80880874000000fb808808")
            << -32537 << 81;
    std::vector<qint16> sine;
    for (int i = 0; i < 32; ++i)
        sine.push_back(static_cast<qint16>(std::lround(20000 * std::sin(i * 0.3))));
    QTest::newRow("sine") << sine << QByteArray::fromHex("0777777773fbbca88034434322199ccc") << 2265
                          << 71;
}

void tst_Adpcm::goldenVectors()
{
    QFETCH(std::vector<qint16>, samples);
    QFETCH(QByteArray, expected);
    QFETCH(int, predictor);
    QFETCH(int, stepIndex);

    AdpcmState state = { 0, 0 };
    const std::vector<unsigned char> bytes = encode(samples, &state);
    QCOMPARE(QByteArray(
                     reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size())),
            expected);
    QCOMPARE(int(state.predictor), predictor);
    QCOMPARE(int(state.step_index), stepIndex);
}

void tst_Adpcm::matchesReference_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("count");
    QTest::addColumn<unsigned>("seed");

    // Long enough to visit every step index many times; odd lengths check the
    // last half byte.
    QTest::newRow("noise") << int(Noise) << 1000001 << 1u;
    QTest::newRow("noise-otherSeed") << int(Noise) << 1000000 << 7u;
    QTest::newRow("sineAndNoise") << int(SineAndNoise) << 1000003 << 2u;
    QTest::newRow("clippedSquare") << int(ClippedSquare) << 200001 << 3u;
    QTest::newRow("randomWalk") << int(RandomWalk) << 1000000 << 4u;
    QTest::newRow("silence") << int(Silence) << 4097 << 5u;
}

void tst_Adpcm::matchesReference()
{
    QFETCH(int, kind);
    QFETCH(int, count);
    QFETCH(unsigned, seed);

    const std::vector<qint16> samples = makeSignal(static_cast<SignalKind>(kind), count, seed);
    const ReferenceResult reference = referenceEncode(samples);
    AdpcmState state = { 0, 0 };
    const std::vector<unsigned char> bytes = encode(samples, &state);
    QVERIFY(bytes == reference.bytes);
    QCOMPARE(state.predictor, reference.state.predictor);
    QCOMPARE(state.step_index, reference.state.step_index);
}

void tst_Adpcm::stateCarriesAcrossCalls()
{
    const std::vector<qint16> samples = makeSignal(SineAndNoise, 100000, 9);
    const ReferenceResult reference = referenceEncode(samples);
    AdpcmState state = { 0, 0 };
    std::vector<unsigned char> bytes;
    // Even chunk lengths, so every call starts on a byte boundary.
    for (size_t offset = 0; offset < samples.size(); offset += 4096) {
        const size_t length = qMin<size_t>(4096, samples.size() - offset);
        std::vector<unsigned char> chunk(length / 2 + 1);
        const int written = adpcm_coder(
                samples.data() + offset, static_cast<int>(length), chunk.data(), &state);
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + written);
    }
    QVERIFY(bytes == reference.bytes);
    QCOMPARE(state.predictor, reference.state.predictor);
    QCOMPARE(state.step_index, reference.state.step_index);
}

void tst_Adpcm::streamsMatchReference()
{
    // More streams than are coded side by side, of unequal lengths (empty,
    // one sample, odd and even), so every lane count and every tail is taken.
    const int lengths[] = { 100001, 0, 37, 1, 250000, 2, 99998, 3, 5000, 123457 };
    const int streamCount = int(std::size(lengths));
    std::vector<std::vector<qint16>> samples;
    std::vector<std::vector<unsigned char>> outputs;
    std::vector<AdpcmState> states(size_t(streamCount), AdpcmState{ 0, 0 });
    std::vector<AdpcmStream> streams;
    for (int i = 0; i < streamCount; ++i) {
        samples.push_back(makeSignal(i % 2 ? Noise : SineAndNoise, lengths[i], unsigned(20 + i)));
        // One guard byte past each stream's output.
        outputs.emplace_back(size_t(lengths[i] + 1) / 2 + 1, 0xAA);
    }
    for (int i = 0; i < streamCount; ++i)
        streams.push_back({ samples[size_t(i)].data(), lengths[i], outputs[size_t(i)].data(),
                &states[size_t(i)] });
    adpcm_coder_streams(streams.data(), streamCount);

    for (int i = 0; i < streamCount; ++i) {
        const ReferenceResult reference = referenceEncode(samples[size_t(i)]);
        std::vector<unsigned char> &bytes = outputs[size_t(i)];
        QCOMPARE(bytes.back(), static_cast<unsigned char>(0xAA));
        bytes.pop_back();
        QVERIFY2(bytes == reference.bytes, qPrintable(QString::number(i)));
        QCOMPARE(states[size_t(i)].predictor, reference.state.predictor);
        QCOMPARE(states[size_t(i)].step_index, reference.state.step_index);
    }
}

void tst_Adpcm::decoderFollowsCoder_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("count");
    QTest::newRow("noise") << int(Noise) << 300000;
    QTest::newRow("sineAndNoise") << int(SineAndNoise) << 300001;
    QTest::newRow("clippedSquare") << int(ClippedSquare) << 50000;
}

void tst_Adpcm::decoderFollowsCoder()
{
    QFETCH(int, kind);
    QFETCH(int, count);

    const std::vector<qint16> samples = makeSignal(static_cast<SignalKind>(kind), count, 11);
    const ReferenceResult reference = referenceEncode(samples);
    std::vector<qint16> decoded(samples.size());
    AdpcmState state = { 0, 0 };
    QCOMPARE(adpcm_decoder(reference.bytes.data(), count, decoded.data(), &state), count);
    QVERIFY(decoded == reference.predictions);
    QCOMPARE(state.predictor, reference.state.predictor);
    QCOMPARE(state.step_index, reference.state.step_index);
}

void tst_Adpcm::signalToNoiseFloor()
{
    // Speech-like material: a few tones at 16000 samples per second.
    std::vector<qint16> samples(160000);
    for (size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 16000.0;
        samples[i] = static_cast<qint16>(std::lround(9000 * std::sin(2 * M_PI * 220 * t)
                + 6000 * std::sin(2 * M_PI * 1230 * t) + 3000 * std::sin(2 * M_PI * 3100 * t)));
    }
    AdpcmState state = { 0, 0 };
    const std::vector<unsigned char> bytes = encode(samples, &state);
    std::vector<qint16> decoded(samples.size());
    AdpcmState decoderState = { 0, 0 };
    adpcm_decoder(bytes.data(), static_cast<int>(samples.size()), decoded.data(), &decoderState);

    double signal = 0;
    double noise = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        signal += double(samples[i]) * samples[i];
        noise += double(samples[i] - decoded[i]) * (samples[i] - decoded[i]);
    }
    const double snr = 10 * std::log10(signal / noise);
    // Measured 26.8 dB; a coder that loses a bit or an index step falls far
    // below this floor.
    QVERIFY2(snr > 26.0, qPrintable(QString::number(snr)));
}

QTEST_APPLESS_MAIN(tst_Adpcm)
#include "tst_adpcm.moc"
