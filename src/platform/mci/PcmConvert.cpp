#include "platform/mci/PcmConvert.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

#include "platform/Endian.h"
#include "platform/lazy/LazyLibrary.h"

namespace korrin::platform {

namespace {

// Sample value of 8-bit unsigned or 16-bit signed PCM as -1 .. 1, and back (clipped).
float PcmSampleToFloat(const std::uint8_t* p, unsigned bits) {
    if (bits == 8)
        return (float(p[0]) - 128.0f) / 128.0f;
    return float(static_cast<std::int16_t>(LoadLE16(p))) / 32768.0f;
}

void PcmFloatToSample(float v, unsigned bits, std::vector<std::uint8_t>& out) {
    v = std::clamp(v, -1.0f, 1.0f);
    if (bits == 8) {
        out.push_back(
            static_cast<std::uint8_t>(std::lround(std::min(v * 128.0f + 128.0f, 255.0f))));
        return;
    }
    const long s = std::lround(std::min(v * 32768.0f, 32767.0f));
    AppendLE16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(s)));
}

}  // namespace

PcmConverter::PcmConverter(const PcmFormat& from, const PcmFormat& to) : from_(from), to_(to) {
    if (from.samplesPerSec == to.samplesPerSec)
        return;
    ok_ = false;
    // libsoxr is loaded now, for the first rate change.
    if (!SoxrLibrary().Available())
        return;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    resampler_ = soxr_create(from.samplesPerSec, to.samplesPerSec, to.channels, &error, &io,
                             &quality, nullptr);
    ok_ = resampler_ && !error;
}

PcmConverter::~PcmConverter() {
    if (resampler_)
        soxr_delete(resampler_);
}

void PcmConverter::emit(const std::vector<float>& frames, std::vector<std::uint8_t>& out) const {
    for (float v : frames)
        PcmFloatToSample(v, to_.bitsPerSample, out);
}

// Runs frames through the resampler (null input: drains it) and appends its output.
void PcmConverter::resample(const float* in, std::size_t frames, std::vector<std::uint8_t>& out) {
    const std::size_t ch = to_.channels;
    const double ratio = double(to_.samplesPerSec) / from_.samplesPerSec;
    const std::size_t room = static_cast<std::size_t>(double(frames) * ratio) + 256;
    std::size_t done = 0;
    for (;;) {
        resampled_.resize(room * ch);
        std::size_t idone = 0, odone = 0;
        const soxr_error_t error =
            soxr_process(resampler_, in ? in + done * ch : nullptr, in ? frames - done : 0, &idone,
                         resampled_.data(), room, &odone);
        resampled_.resize(odone * ch);
        emit(resampled_, out);
        done += idone;
        if (error || (in ? done >= frames && odone < room : odone == 0))
            return;
        if (in && idone == 0 && odone == 0)
            return;  // a resampler that neither takes nor gives would spin here for ever
    }
}

void PcmConverter::Convert(const std::uint8_t* in, std::size_t bytes,
                           std::vector<std::uint8_t>& out) {
    if (!ok_)
        return;
    const std::size_t inBlock = from_.blockAlign();
    const std::size_t n = bytes / inBlock;
    if (n == 0)
        return;
    const unsigned inBits = from_.bitsPerSample;
    const unsigned inSample = inBits / 8;
    mixed_.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = in + i * inBlock;
        const float l = PcmSampleToFloat(p, inBits);
        const float r = from_.channels == 2 ? PcmSampleToFloat(p + inSample, inBits) : l;
        if (to_.channels == 1) {
            mixed_.push_back(from_.channels == 2 ? (l + r) / 2 : l);
        } else {
            mixed_.push_back(l);
            mixed_.push_back(r);
        }
    }
    if (resampler_)
        resample(mixed_.data(), n, out);
    else
        emit(mixed_, out);
}

void PcmConverter::Finish(std::vector<std::uint8_t>& out) {
    if (resampler_ && ok_) {
        resample(nullptr, 0, out);
        soxr_clear(resampler_);
    }
}

}  // namespace korrin::platform
