#include "platform/mci/PcmConvert.h"

#include <algorithm>
#include <cmath>

#include "platform/Endian.h"

namespace korrin::platform {

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

PcmConverter::PcmConverter(const PcmFormat& from, const PcmFormat& to)
    : from_(from), to_(to), step_(double(from.samplesPerSec) / double(to.samplesPerSec)) {}

void PcmConverter::Convert(const std::uint8_t* in, std::size_t bytes,
                           std::vector<std::uint8_t>& out) {
    const std::size_t inBlock = from_.blockAlign();
    const std::size_t n = bytes / inBlock;
    if (n == 0)
        return;
    const unsigned inBits = from_.bitsPerSample;
    const unsigned inSample = inBits / 8;
    // A source frame as the output's channels.
    auto frame = [&](std::ptrdiff_t i, float* v) {
        if (i < 0) {
            std::copy(prev_.begin(), prev_.end(), v);
            return;
        }
        const std::uint8_t* p = in + std::size_t(i) * inBlock;
        const float l = PcmSampleToFloat(p, inBits);
        const float r = from_.channels == 2 ? PcmSampleToFloat(p + inSample, inBits) : l;
        if (to_.channels == 1) {
            v[0] = from_.channels == 2 ? (l + r) / 2 : l;
        } else {
            v[0] = l;
            v[1] = r;
        }
    };
    float a[2], b[2];
    while (pos_ <= double(n - 1)) {
        const double fl = std::floor(pos_);
        const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(fl);
        const float f = static_cast<float>(pos_ - fl);
        frame(i, a);
        if (f > 0)
            frame(i + 1, b);
        for (unsigned c = 0; c < to_.channels; ++c)
            PcmFloatToSample(f > 0 ? a[c] + (b[c] - a[c]) * f : a[c], to_.bitsPerSample, out);
        pos_ += step_;
    }
    pos_ -= double(n);
    prev_.assign(to_.channels, 0.0f);
    frame(static_cast<std::ptrdiff_t>(n - 1), prev_.data());
}

}  // namespace korrin::platform
