// Wave files made for the audio tests: a PCM file whose audio runs through a list of
// constant sample values, one per segment, so a test can see where each part ended up.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace korrin::test
