// Feeds arbitrary bytes to the WAV header checks as a whole input file and as
// a compressed file, then codes whatever they accept, so a check that lets a
// declared size reach past the file shows as an out-of-bounds read.

#include "adpcm.h"
#include "wavheader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact copy, so the sanitizers see the end of the file.
    std::vector<char> file(data, data + size);
    const char *bytes = file.data();
    const qint64 length = static_cast<qint64>(size);

    int samples = -1;
    if (WavHeader::checkPcm(bytes, length, &samples) == WavHeader::PcmAccepted) {
        if (samples < 0 || WavHeader::size + 2 * static_cast<qint64>(samples) > length)
            abort();
        std::vector<qint16> pcm(static_cast<size_t>(samples));
        if (samples > 0)
            memcpy(pcm.data(), bytes + WavHeader::size, pcm.size() * 2);
        std::vector<unsigned char> coded((pcm.size() + 1) / 2);
        AdpcmState state = { 0, 0 };
        if (adpcm_coder(pcm.data(), samples, coded.data(), &state)
                != static_cast<int>(coded.size()))
            abort();
    }

    quint32 dataBytes = 0;
    quint32 rate = 0;
    if (WavHeader::checkCompressed(bytes, length, &dataBytes, &rate)
            == WavHeader::CompressedAccepted) {
        if (WavHeader::size + static_cast<qint64>(dataBytes) > length)
            abort();
        std::vector<qint16> decoded(static_cast<size_t>(dataBytes) * 2);
        AdpcmState state = { 0, 0 };
        adpcm_decoder(reinterpret_cast<const unsigned char *>(bytes + WavHeader::size),
                static_cast<int>(decoded.size()), decoded.data(), &state);
    }
    return 0;
}
