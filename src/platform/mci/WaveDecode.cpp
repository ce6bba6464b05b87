#include "platform/mci/WaveDecode.h"

namespace korrin::platform {

// No decoder is built in yet: the compression layer that knows the formats is not part of
// this build. Files in formats other than PCM fail to open with
// MCIERR_WAVE_OUTPUTSUNSUITABLE.
bool DecodeWaveToPcm(const WaveImage&, PcmFormat&, std::vector<std::uint8_t>&) {
    return false;
}

}  // namespace korrin::platform
