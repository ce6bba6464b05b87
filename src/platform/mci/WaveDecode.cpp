#include "platform/mci/WaveDecode.h"

#include <algorithm>

#include "platform/Endian.h"
#include "platform/acm/Acm.h"

namespace korrin::platform {

// Through the compression manager into 16-bit PCM of the file's own rate and channels,
// in pieces of whole source blocks.
bool DecodeWaveToPcm(const WaveImage& image, PcmFormat& format, std::vector<std::uint8_t>& pcm) {
    const WaveFormat& f = image.format;
    if (f.channels < 1 || f.channels > 2 || f.samplesPerSec == 0 || f.samplesPerSec > 384000 ||
        f.blockAlign == 0)
        return false;
    std::vector<std::uint8_t> fmt;
    AppendLE16(fmt, f.formatTag);
    AppendLE16(fmt, f.channels);
    AppendLE32(fmt, f.samplesPerSec);
    AppendLE32(fmt, f.avgBytesPerSec);
    AppendLE16(fmt, f.blockAlign);
    AppendLE16(fmt, f.bitsPerSample);
    fmt.insert(fmt.end(), f.extra.begin(), f.extra.end());
    const WAVEFORMATEX source = ReadWaveFormat(fmt.data(), fmt.size());
    const PcmFormat out{f.channels, f.samplesPerSec, 16};
    WAVEFORMATEX destination;
    destination.wFormatTag = WAVE_FORMAT_PCM;
    destination.nChannels = out.channels;
    destination.nSamplesPerSec = out.samplesPerSec;
    destination.nAvgBytesPerSec = out.samplesPerSec * out.blockAlign();
    destination.nBlockAlign = static_cast<WORD>(out.blockAlign());
    destination.wBitsPerSample = 16;

    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, source, destination, nullptr, 0, 0, 0) != MMSYSERR_NOERROR)
        return false;
    const DWORD piece = f.blockAlign * std::max<DWORD>(1, 65536 / f.blockAlign);
    DWORD outSize = 0;
    bool ok = acmStreamSize(stream, piece, &outSize, ACM_STREAMSIZEF_SOURCE) == MMSYSERR_NOERROR &&
              outSize > 0;
    std::vector<std::uint8_t> in(piece), buffer(outSize);
    ACMSTREAMHEADER header;
    header.cbStruct = kAcmStreamHeaderSize;
    header.pbSrc = in.data();
    header.cbSrcLength = piece;
    header.pbDst = buffer.data();
    header.cbDstLength = outSize;
    ok = ok && acmStreamPrepareHeader(stream, &header, 0) == MMSYSERR_NOERROR;
    std::vector<std::uint8_t> result;
    std::size_t at = 0;
    DWORD flags = ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN;
    while (ok) {
        const std::size_t n = std::min<std::size_t>(piece, image.data.size() - at);
        const bool last = n < piece || at + n == image.data.size();
        std::copy_n(image.data.begin() + static_cast<std::ptrdiff_t>(at), n, in.begin());
        header.cbSrcLength = static_cast<DWORD>(n);
        if (last)
            flags |= ACM_STREAMCONVERTF_END;
        ok = acmStreamConvert(stream, &header, flags) == MMSYSERR_NOERROR;
        if (!ok)
            break;
        result.insert(result.end(), buffer.begin(), buffer.begin() + header.cbDstLengthUsed);
        at += header.cbSrcLengthUsed;
        flags &= ~ACM_STREAMCONVERTF_START;
        // Output that did not fit comes on the following calls; nothing more: done.
        if (last && header.cbDstLengthUsed == 0 && header.cbSrcLengthUsed == 0)
            break;
        if (!last && header.cbSrcLengthUsed == 0 && header.cbDstLengthUsed == 0)
            ok = false;  // a stream that takes nothing and gives nothing would loop for ever
    }
    header.cbSrcLength = piece;
    header.cbDstLength = outSize;
    acmStreamUnprepareHeader(stream, &header, 0);
    acmStreamClose(stream, 0);
    if (!ok)
        return false;
    result.resize(result.size() - result.size() % out.blockAlign());
    format = out;
    pcm = std::move(result);
    return true;
}

}  // namespace korrin::platform
