// The GSM 6.10 driver (tag 49) over libgsm, in the framing wave files use: one 65-byte block
// holds two 160-sample frames (320 samples), packed by libgsm's WAV49 option. Mono only.
// The format: nBlockAlign 65, wBitsPerSample 0, cbSize 2 and 320 samples per block;
// 8,000 Hz gives 1,625 bytes a second.
#include <gsm/gsm.h>

#include <cstdio>
#include <cstring>

#include "platform/Endian.h"
#include "platform/acm/Codec.h"

namespace korrin::platform::acm {

namespace {

constexpr WORD kBlock = 65;
constexpr WORD kSamplesPerBlock = 320;
constexpr std::size_t kFrame = 160;

// One libgsm state per direction; the WAV49 packing alternates between the two halves of a
// block, so encoder and decoder must each see every frame in order.
class GsmCodec : public Codec {
  public:
    GsmCodec() : encoder_(gsm_create()), decoder_(gsm_create()) {
        int one = 1;
        if (encoder_)
            gsm_option(encoder_, GSM_OPT_WAV49, &one);
        if (decoder_)
            gsm_option(decoder_, GSM_OPT_WAV49, &one);
    }
    ~GsmCodec() override {
        if (encoder_)
            gsm_destroy(encoder_);
        if (decoder_)
            gsm_destroy(decoder_);
    }
    GsmCodec(const GsmCodec&) = delete;
    GsmCodec& operator=(const GsmCodec&) = delete;
    bool ok() const { return encoder_ && decoder_; }

    std::size_t blockBytes() const override { return kBlock; }
    std::size_t framesPerBlock() const override { return kSamplesPerBlock; }

    void decode(const std::uint8_t* in, std::size_t blocks,
                std::vector<std::int16_t>& out) override {
        for (std::size_t b = 0; b < blocks; ++b, in += kBlock) {
            const std::size_t at = out.size();
            out.resize(at + kSamplesPerBlock);
            // libgsm does not write through the frame, but its prototype is not const.
            std::uint8_t frame[kBlock];
            std::memcpy(frame, in, kBlock);
            gsm_signal* o = out.data() + at;
            // A frame libgsm refuses decodes to silence.
            if (gsm_decode(decoder_, frame, o) < 0)
                std::memset(o, 0, kFrame * sizeof(gsm_signal));
            if (gsm_decode(decoder_, frame + 33, o + kFrame) < 0)
                std::memset(o + kFrame, 0, kFrame * sizeof(gsm_signal));
        }
    }

    void encode(const std::int16_t* in, std::size_t blocks, std::uint8_t* out) override {
        gsm_signal frame[kSamplesPerBlock];
        for (std::size_t b = 0; b < blocks; ++b, in += kSamplesPerBlock, out += kBlock) {
            std::memcpy(frame, in, sizeof frame);
            gsm_encode(encoder_, frame, out);
            gsm_encode(encoder_, frame + kFrame, out + 32);
        }
    }

  private:
    gsm encoder_;
    gsm decoder_;
};

class GsmDriver_ : public Driver {
  public:
    WORD tag() const override { return WAVE_FORMAT_GSM610; }
    const char* name() const override { return "GSM 6.10"; }
    DWORD largestFormatSize() const override { return 20; }

    bool accepts(const WAVEFORMATEX& f) const override {
        if (f.wFormatTag != WAVE_FORMAT_GSM610 || f.nChannels != 1 || f.nBlockAlign != kBlock ||
            f.cbSize < 2 || f.extra.size() < 2 || LoadLE16(f.extra.data()) != kSamplesPerBlock)
            return false;
        if (f.nSamplesPerSec < kLowestRate || f.nSamplesPerSec > kHighestRate)
            return false;
        const double exact = double(f.nSamplesPerSec) * kBlock / kSamplesPerBlock;
        return f.nAvgBytesPerSec + 1.0 >= exact && f.nAvgBytesPerSec <= exact + 1.0;
    }

    std::string describe(const WAVEFORMATEX& f) const override {
        char text[64];
        std::snprintf(text, sizeof text, "%s, %s", RateText(f.nSamplesPerSec).c_str(),
                      ChannelText(f.nChannels));
        return text;
    }

    std::vector<WAVEFORMATEX> standardFormats() const override {
        WAVEFORMATEX f;
        f.wFormatTag = WAVE_FORMAT_GSM610;
        f.nChannels = 1;
        f.nSamplesPerSec = 8000;
        f.nAvgBytesPerSec = 1625;
        f.nBlockAlign = kBlock;
        f.wBitsPerSample = 0;
        f.cbSize = 2;
        f.extra = {kSamplesPerBlock & 0xFF, kSamplesPerBlock >> 8};
        return {f};
    }

    std::unique_ptr<Codec> makeCodec(const WAVEFORMATEX&) const override {
        auto codec = std::make_unique<GsmCodec>();
        if (!codec->ok())
            return nullptr;
        return codec;
    }
};

}  // namespace

const Driver& GsmDriver() {
    static const GsmDriver_ driver;
    return driver;
}

}  // namespace korrin::platform::acm
