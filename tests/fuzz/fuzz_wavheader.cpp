// Feeds arbitrary bytes to the WAV header checks as a whole input file and as
// a compressed file, then codes whatever they accept, so a check that lets a
// chunk size reach past the file shows as an out-of-bounds read.

#include "adpcm.h"
#include "fuzzsupport.h"
#include "wavheader.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact copy, so the sanitizers see the end of the file.
    std::vector<char> file(data, data + size);
    const char *bytes = file.data();
    const qint64 length = static_cast<qint64>(size);

    WavHeader::Layout layout;
    const WavHeader::PcmVerdict verdict = WavHeader::checkPcm(bytes, length, &layout);
    if (layout.dataOffset >= 0) {
        FUZZ_CHECK(layout.presentDataBytes >= 0
                && layout.presentDataBytes <= qint64(layout.declaredDataBytes)
                && layout.dataOffset + layout.presentDataBytes <= length);
        FUZZ_CHECK(layout.dataOffset % 2 == 0);
    }
    if (verdict == WavHeader::PcmAccepted) {
        const int samples = layout.sampleCount();
        FUZZ_CHECK(samples >= 0 && layout.dataOffset + 2 * qint64(samples) <= length);
        std::vector<qint16> pcm(static_cast<size_t>(samples));
        if (samples > 0)
            memcpy(pcm.data(), bytes + layout.dataOffset, pcm.size() * 2);
        std::vector<unsigned char> coded((pcm.size() + 1) / 2);
        AdpcmState state = { 0, 0 };
        FUZZ_CHECK(adpcm_coder(pcm.data(), samples, coded.data(), &state)
                == static_cast<int>(coded.size()));
        char header[WavHeader::size];
        WavHeader::writeCompressed(layout.format, quint32(coded.size()), header);
    }

    quint32 dataBytes = 0;
    quint32 rate = 0;
    if (WavHeader::checkCompressed(bytes, length, &dataBytes, &rate)
            == WavHeader::CompressedAccepted) {
        FUZZ_CHECK(WavHeader::size + static_cast<qint64>(dataBytes) <= length);
        std::vector<qint16> decoded(static_cast<size_t>(dataBytes) * 2);
        AdpcmState state = { 0, 0 };
        adpcm_decoder(reinterpret_cast<const unsigned char *>(bytes + WavHeader::size),
                static_cast<int>(decoded.size()), decoded.data(), &state);
    }
    return 0;
}
