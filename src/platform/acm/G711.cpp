// The two companding drivers, A-law (tag 6) and u-law (tag 7): one byte per sample, 8,000
// or any other rate, one or two channels. Decoding goes through a 256-entry table.
#include <array>
#include <cstdio>

#include "platform/acm/Codec.h"

namespace korrin::platform::acm {

namespace {

// u-law: 14-bit magnitude biased by 0x84, segment = position of the highest set bit.
std::uint8_t UlawFromLinear(int sample) {
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    int sign = 0;
    if (sample < 0) {
        sample = -sample;
        sign = 0x80;
    }
    if (sample > kClip)
        sample = kClip;
    sample += kBias;
    int exponent = 7;
    for (int mask = 0x4000; exponent > 0 && !(sample & mask); mask >>= 1)
        --exponent;
    const int mantissa = (sample >> (exponent + 3)) & 0x0F;
    return static_cast<std::uint8_t>(~(sign | exponent << 4 | mantissa));
}

int LinearFromUlaw(std::uint8_t code) {
    code = static_cast<std::uint8_t>(~code);
    const int exponent = (code >> 4) & 0x07;
    const int mantissa = code & 0x0F;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return (code & 0x80) ? -magnitude : magnitude;
}

// A-law: 13-bit magnitude, eight segments, even bits inverted.
std::uint8_t AlawFromLinear(int sample) {
    sample >>= 3;
    int mask;
    if (sample >= 0) {
        mask = 0xD5;
    } else {
        mask = 0x55;
        sample = -sample - 1;
    }
    int segment = 0;
    while (segment < 8 && sample > (0x20 << segment) - 1)
        ++segment;
    if (segment >= 8)
        return static_cast<std::uint8_t>(0x7F ^ mask);
    int code = segment << 4;
    code |= segment < 2 ? (sample >> 1) & 0x0F : (sample >> segment) & 0x0F;
    return static_cast<std::uint8_t>(code ^ mask);
}

int LinearFromAlaw(std::uint8_t code) {
    code ^= 0x55;
    int t = (code & 0x0F) << 4;
    const int segment = (code & 0x70) >> 4;
    if (segment == 0)
        t += 8;
    else
        t = (t + 0x108) << (segment - 1);
    return (code & 0x80) ? t : -t;
}

class G711Codec : public Codec {
  public:
    G711Codec(bool alaw, WORD channels) : alaw_(alaw), channels_(channels) {
        for (int i = 0; i < 256; ++i)
            table_[i] = static_cast<std::int16_t>(alaw ? LinearFromAlaw(std::uint8_t(i))
                                                       : LinearFromUlaw(std::uint8_t(i)));
    }
    std::size_t blockBytes() const override { return channels_; }
    std::size_t framesPerBlock() const override { return 1; }

    void decode(const std::uint8_t* in, std::size_t blocks,
                std::vector<std::int16_t>& out) override {
        const std::size_t samples = blocks * channels_;
        const std::size_t at = out.size();
        out.resize(at + samples);
        for (std::size_t i = 0; i < samples; ++i)
            out[at + i] = table_[in[i]];
    }

    void encode(const std::int16_t* in, std::size_t blocks, std::uint8_t* out) override {
        const std::size_t samples = blocks * channels_;
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = alaw_ ? AlawFromLinear(in[i]) : UlawFromLinear(in[i]);
    }

  private:
    bool alaw_;
    WORD channels_;
    std::array<std::int16_t, 256> table_{};
};

class G711Driver : public Driver {
  public:
    G711Driver(WORD tag, const char* name) : tag_(tag), name_(name) {}
    WORD tag() const override { return tag_; }
    const char* name() const override { return name_; }
    DWORD largestFormatSize() const override { return 18; }

    bool accepts(const WAVEFORMATEX& f) const override {
        return f.wFormatTag == tag_ && (f.nChannels == 1 || f.nChannels == 2) &&
               f.wBitsPerSample == 8 && f.nSamplesPerSec >= kLowestRate &&
               f.nSamplesPerSec <= kHighestRate && f.nBlockAlign == f.nChannels &&
               f.nAvgBytesPerSec == f.nSamplesPerSec * f.nChannels;
    }

    std::string describe(const WAVEFORMATEX& f) const override {
        char text[64];
        std::snprintf(text, sizeof text, "%s, 8 Bit, %s", RateText(f.nSamplesPerSec).c_str(),
                      ChannelText(f.nChannels));
        return text;
    }

    std::vector<WAVEFORMATEX> standardFormats() const override {
        std::vector<WAVEFORMATEX> list;
        for (DWORD rate : kStandardRates)
            for (WORD channels : {1, 2}) {
                WAVEFORMATEX f;
                f.wFormatTag = tag_;
                f.nChannels = channels;
                f.nSamplesPerSec = rate;
                f.nAvgBytesPerSec = rate * channels;
                f.nBlockAlign = channels;
                f.wBitsPerSample = 8;
                list.push_back(f);
            }
        return list;
    }

    std::unique_ptr<Codec> makeCodec(const WAVEFORMATEX& f) const override {
        return std::make_unique<G711Codec>(tag_ == WAVE_FORMAT_ALAW, f.nChannels);
    }

  private:
    WORD tag_;
    const char* name_;
};

}  // namespace

const Driver& AlawDriver() {
    static const G711Driver driver(WAVE_FORMAT_ALAW, "A-Law");
    return driver;
}

const Driver& MulawDriver() {
    static const G711Driver driver(WAVE_FORMAT_MULAW, "u-Law");
    return driver;
}

}  // namespace korrin::platform::acm
