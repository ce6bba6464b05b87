// One decoder over arbitrary blocks: the first bytes choose the format's free fields
// (channels, block size, rate), the rest is coded audio, decoded to PCM through a stream
// in small and odd pieces.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/acm/Acm.h"

using namespace korrin::platform;

namespace {

WAVEFORMATEX SourceFormat(std::uint8_t a, std::uint8_t b) {
    const DWORD rates[] = {8000, 11025, 22050, 44100, 48000, 16000, 1000, 96000};
    WAVEFORMATEX f;
    f.wFormatTag = KORRIN_FUZZ_TAG;
    f.nChannels = WORD(1 + (a & 1));
    f.nSamplesPerSec = rates[(a >> 1) & 7];
    switch (f.wFormatTag) {
        case WAVE_FORMAT_GSM610:
            f.nChannels = 1;
            f.nBlockAlign = 65;
            f.nAvgBytesPerSec = f.nSamplesPerSec * 65 / 320;
            f.cbSize = 2;
            f.extra = {0x40, 0x01};
            break;
        case WAVE_FORMAT_IMA_ADPCM: {
            f.wBitsPerSample = 4;
            f.nBlockAlign = WORD(4u * f.nChannels * (2 + b % 64));
            const WORD spb = WORD((f.nBlockAlign - 4u * f.nChannels) * 2u / f.nChannels + 1u);
            f.nAvgBytesPerSec = DWORD(double(f.nSamplesPerSec) * f.nBlockAlign / spb);
            f.cbSize = 2;
            f.extra = {std::uint8_t(spb), std::uint8_t(spb >> 8)};
            break;
        }
        case WAVE_FORMAT_PCM:
            f.wBitsPerSample = (b & 1) ? 16 : 8;
            f.nBlockAlign = WORD(f.nChannels * f.wBitsPerSample / 8);
            f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
            break;
        default:  // A-law, u-law
            f.wBitsPerSample = 8;
            f.nBlockAlign = f.nChannels;
            f.nAvgBytesPerSec = f.nSamplesPerSec * f.nChannels;
            break;
    }
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > 1 << 15)
        return 0;
    const WAVEFORMATEX from = SourceFormat(data[0], data[1]);
    WAVEFORMATEX to;
    to.wFormatTag = WAVE_FORMAT_PCM;
    to.nChannels = WORD(1 + (data[2] & 1));
    to.nSamplesPerSec = (data[2] & 2) ? 8000 : from.nSamplesPerSec;
    to.wBitsPerSample = 16;
    to.nBlockAlign = WORD(2 * to.nChannels);
    to.nAvgBytesPerSec = to.nSamplesPerSec * to.nBlockAlign;
    HACMSTREAM s = nullptr;
    if (acmStreamOpen(&s, nullptr, from, to, nullptr, 0, 0, 0) != 0)
        return 0;
    const DWORD piece = DWORD(from.nBlockAlign) * (1 + data[2] % 7) + (data[2] >> 5);
    DWORD out = 0;
    acmStreamSize(s, piece, &out, ACM_STREAMSIZEF_SOURCE);
    std::vector<std::uint8_t> src(piece), dst(std::max<DWORD>(out / 2, 1));
    ACMSTREAMHEADER h;
    h.cbStruct = kAcmStreamHeaderSize;
    h.pbSrc = src.data();
    h.cbSrcLength = piece;
    h.pbDst = dst.data();
    h.cbDstLength = DWORD(dst.size());
    acmStreamPrepareHeader(s, &h, 0);
    std::size_t pos = 3;
    for (int guard = 0; guard < 100000; ++guard) {
        const std::size_t n = std::min<std::size_t>(piece, size - pos);
        std::copy(data + pos, data + pos + n, src.begin());
        h.cbSrcLength = DWORD(n);
        const bool end = pos + n >= size;
        if (acmStreamConvert(
                s, &h, ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0)) != 0)
            break;
        pos += h.cbSrcLengthUsed;
        if (end && h.cbDstLengthUsed == 0)
            break;
    }
    h.cbSrcLength = piece;
    h.cbDstLength = DWORD(dst.size());
    acmStreamUnprepareHeader(s, &h, 0);
    acmStreamClose(s, 0);
    return 0;
}
