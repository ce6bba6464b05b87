// The PCM driver: 8-bit unsigned and 16-bit signed little-endian samples, one or two
// channels. Rate changes are the stream's business (libsoxr); this coder only packs samples.
#include <cstdio>

#include "platform/Endian.h"
#include "platform/acm/Codec.h"

namespace korrin::platform::acm {

namespace {

class PcmCodec : public Codec {
  public:
    PcmCodec(WORD channels, WORD bits) : channels_(channels), bits_(bits) {}
    std::size_t blockBytes() const override { return channels_ * (bits_ / 8u); }
    std::size_t framesPerBlock() const override { return 1; }

    void decode(const std::uint8_t* in, std::size_t blocks,
                std::vector<std::int16_t>& out) override {
        const std::size_t samples = blocks * channels_;
        const std::size_t at = out.size();
        out.resize(at + samples);
        std::int16_t* o = out.data() + at;
        if (bits_ == 8) {
            for (std::size_t i = 0; i < samples; ++i)
                o[i] = static_cast<std::int16_t>((in[i] - 128) * 256);
        } else {
            for (std::size_t i = 0; i < samples; ++i)
                o[i] = static_cast<std::int16_t>(LoadLE16(in + 2 * i));
        }
    }

    void encode(const std::int16_t* in, std::size_t blocks, std::uint8_t* out) override {
        const std::size_t samples = blocks * channels_;
        if (bits_ == 8) {
            for (std::size_t i = 0; i < samples; ++i)
                out[i] = static_cast<std::uint8_t>((in[i] >> 8) + 128);
        } else {
            for (std::size_t i = 0; i < samples; ++i)
                StoreLE16(out + 2 * i, static_cast<std::uint16_t>(in[i]));
        }
    }

  private:
    WORD channels_;
    WORD bits_;
};

class PcmDriver_ : public Driver {
  public:
    WORD tag() const override { return WAVE_FORMAT_PCM; }
    const char* name() const override { return "PCM"; }
    DWORD largestFormatSize() const override { return 16; }

    bool accepts(const WAVEFORMATEX& f) const override {
        if (f.wFormatTag != WAVE_FORMAT_PCM || (f.nChannels != 1 && f.nChannels != 2) ||
            (f.wBitsPerSample != 8 && f.wBitsPerSample != 16))
            return false;
        if (f.nSamplesPerSec < kLowestRate || f.nSamplesPerSec > kHighestRate)
            return false;
        const DWORD align = f.nChannels * f.wBitsPerSample / 8u;
        return f.nBlockAlign == align && f.nAvgBytesPerSec == f.nSamplesPerSec * align;
    }

    std::string describe(const WAVEFORMATEX& f) const override {
        char text[64];
        std::snprintf(text, sizeof text, "%s, %u Bit, %s", RateText(f.nSamplesPerSec).c_str(),
                      unsigned(f.wBitsPerSample), ChannelText(f.nChannels));
        return text;
    }

    std::vector<WAVEFORMATEX> standardFormats() const override {
        std::vector<WAVEFORMATEX> list;
        for (DWORD rate : kStandardRates)
            for (WORD bits : {8, 16})
                for (WORD channels : {1, 2}) {
                    WAVEFORMATEX f;
                    f.wFormatTag = WAVE_FORMAT_PCM;
                    f.nChannels = channels;
                    f.nSamplesPerSec = rate;
                    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
                    f.nAvgBytesPerSec = rate * f.nBlockAlign;
                    f.wBitsPerSample = bits;
                    list.push_back(f);
                }
        return list;
    }

    std::unique_ptr<Codec> makeCodec(const WAVEFORMATEX& f) const override {
        return std::make_unique<PcmCodec>(f.nChannels, f.wBitsPerSample);
    }
};

}  // namespace

const Driver& PcmDriver() {
    static const PcmDriver_ driver;
    return driver;
}

}  // namespace korrin::platform::acm
