// Decoding a wave file that is not PCM into PCM, for the MCI device to play it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/mci/WaveData.h"

namespace korrin::platform {

// The audio of a non-PCM file as PCM (16-bit, its own rate and channels), through the
// compression manager's drivers. false when none takes the format or the audio is damaged
// beyond decoding.
bool DecodeWaveToPcm(const WaveImage& image, PcmFormat& format, std::vector<std::uint8_t>& pcm);

}  // namespace korrin::platform
