// Wave files made for the audio tests: a PCM file whose audio runs through a list of
// constant sample values, one per segment, so a test can see where each part ended up.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <cmath>

#include "platform/Endian.h"
#include "platform/acm/Acm.h"
#include "platform/mci/WaveData.h"

namespace korrin::test {

// Segments of (milliseconds, byte value) for 8-bit audio; each byte of 16-bit audio and
// each channel gets the same value.
inline std::vector<std::uint8_t> SegmentAudio(
    const platform::PcmFormat& f, const std::vector<std::pair<unsigned, std::uint8_t>>& parts) {
    std::vector<std::uint8_t> data;
    for (const auto& [ms, value] : parts)
        data.insert(data.end(), std::size_t(ms) * f.samplesPerSec / 1000 * f.blockAlign(), value);
    return data;
}

inline void WriteWave(const std::string& path, const platform::PcmFormat& f,
                      const std::vector<std::uint8_t>& data) {
    const auto bytes = platform::SerializeWave(platform::ToWaveFormat(f), data.data(), data.size());
    platform::ReplaceFile(path, bytes);
}

inline platform::WaveImage ReadWave(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    platform::WaveImage image;
    platform::ReadWholeFile(path, bytes);
    platform::ParseWave(bytes.data(), bytes.size(), image);
    return image;
}

// pcm converted from src into target by the compression manager, as one whole run; empty when
// the stream cannot be opened.
inline std::vector<std::uint8_t> AcmConvert(const platform::WAVEFORMATEX& src,
                                            const platform::WAVEFORMATEX& target,
                                            std::vector<std::uint8_t> pcm) {
    using namespace platform;
    HACMSTREAM s = nullptr;
    if (acmStreamOpen(&s, nullptr, src, target, nullptr, 0, 0, 0) != 0)
        return {};
    std::vector<std::uint8_t> out(pcm.size() * 4 + 4096), encoded;
    ACMSTREAMHEADER h;
    h.cbStruct = kAcmStreamHeaderSize;
    h.pbSrc = pcm.data();
    h.cbSrcLength = static_cast<DWORD>(pcm.size());
    h.pbDst = out.data();
    h.cbDstLength = static_cast<DWORD>(out.size());
    acmStreamPrepareHeader(s, &h, 0);
    DWORD flags = ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
    do {
        if (acmStreamConvert(s, &h, flags) != 0)
            break;
        encoded.insert(encoded.end(), out.begin(), out.begin() + h.cbDstLengthUsed);
        h.cbSrcLength = 0;
        flags = ACM_STREAMCONVERTF_END;
    } while (h.cbDstLengthUsed);
    h.cbSrcLength = static_cast<DWORD>(pcm.size());
    acmStreamUnprepareHeader(s, &h, 0);
    acmStreamClose(s, 0);
    return encoded;
}

// A GSM 6.10 wave file (8,000 Hz mono, fact chunk left out) of a tone lasting ms
// milliseconds (a multiple of 40), encoded by the compression manager.
inline std::vector<std::uint8_t> GsmWave(unsigned ms) {
    using namespace platform;
    std::vector<std::uint8_t> pcm;
    for (unsigned i = 0; i < ms * 8; ++i)
        AppendLE16(
            pcm, static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(i * 0.345))));
    WAVEFORMATEX src;
    src.wFormatTag = WAVE_FORMAT_PCM;
    src.nChannels = 1;
    src.nSamplesPerSec = 8000;
    src.nAvgBytesPerSec = 16000;
    src.nBlockAlign = 2;
    src.wBitsPerSample = 16;
    WAVEFORMATEX gsm;
    gsm.wFormatTag = WAVE_FORMAT_GSM610;
    gsm.nChannels = 1;
    gsm.nSamplesPerSec = 8000;
    gsm.nAvgBytesPerSec = 1625;
    gsm.nBlockAlign = 65;
    gsm.cbSize = 2;
    gsm.extra = {0x40, 0x01};
    const std::vector<std::uint8_t> encoded = AcmConvert(src, gsm, pcm);
    if (encoded.empty())
        return {};
    const WaveFormat format{49, 1, 8000, 1625, 65, 0, {2, 0, 0x40, 0x01}};
    return SerializeWave(format, encoded.data(), encoded.size());
}

}  // namespace korrin::test
