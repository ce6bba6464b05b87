// Changes PCM audio from one layout into another as it streams by: sample size (8-bit
// unsigned, 16-bit signed), channel count (mono is duplicated, stereo is averaged) and rate
// (linear interpolation, which is plenty for speech). Used for what a sound device or a
// capture file gives when it is not in the format of the file being recorded into.
//
// One object per stream; not shared between threads.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/mci/WaveData.h"

namespace korrin::platform {

class PcmConverter {
  public:
    PcmConverter(const PcmFormat& from, const PcmFormat& to);

    // Converts whole source frames (a trailing partial frame is ignored) and appends the
    // result to out. The rate change carries over between calls, so a stream cut into any
    // pieces converts to the same frames as in one piece.
    void Convert(const std::uint8_t* in, std::size_t bytes, std::vector<std::uint8_t>& out);

  private:
    PcmFormat from_, to_;
    double step_;              // source frames per output frame
    double pos_ = 0;           // next output frame, in source frames from this piece's start
    std::vector<float> prev_;  // the previous piece's last frame (at position -1)
};

// Sample value of 8-bit unsigned or 16-bit signed PCM as -1 .. 1, and back (clipped).
float PcmSampleToFloat(const std::uint8_t* p, unsigned bits);
void PcmFloatToSample(float v, unsigned bits, std::vector<std::uint8_t>& out);

}  // namespace korrin::platform
