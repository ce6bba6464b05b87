// Changes PCM audio from one layout into another as it streams by: sample size (8-bit
// unsigned, 16-bit signed), channel count (mono is duplicated, stereo is averaged) and rate
// (libsoxr, the resampler the codecs use, so a card that offers only 44.1 or 48 kHz gives
// an 8 kHz recording without aliasing). Used for what a sound device or a capture file gives
// when it is not in the format of the file being recorded into.
//
// One object per stream; not shared between threads.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/mci/WaveData.h"

struct soxr;

namespace korrin::platform {

class PcmConverter {
  public:
    PcmConverter(const PcmFormat& from, const PcmFormat& to);
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    // False when the rate change cannot be made (libsoxr missing): nothing is converted.
    bool ok() const { return ok_; }

    // Converts whole source frames (a trailing partial frame is ignored) and appends the
    // result to out. A rate change carries over between calls and holds back a few
    // milliseconds (the resampler's delay) until Finish, so a stream cut into any pieces
    // converts to the same frames as in one piece.
    void Convert(const std::uint8_t* in, std::size_t bytes, std::vector<std::uint8_t>& out);
    // Appends what a rate change still holds; the end of the stream.
    void Finish(std::vector<std::uint8_t>& out);

  private:
    void emit(const std::vector<float>& frames, std::vector<std::uint8_t>& out) const;
    void resample(const float* in, std::size_t frames, std::vector<std::uint8_t>& out);

    PcmFormat from_, to_;
    soxr* resampler_ = nullptr;
    bool ok_ = true;
    std::vector<float> mixed_, resampled_;
};

}  // namespace korrin::platform
