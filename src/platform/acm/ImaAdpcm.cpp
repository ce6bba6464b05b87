// The IMA ADPCM driver (tag 17), in the block layout of wave files: each block starts with
// one 4-byte header per channel (the first sample, little-endian, and the step index), then
// 4-bit codes in groups of 4 bytes (8 samples) per channel, low nibble first.
// samples per block = (block - 4 * channels) * 2 / channels + 1; cbSize 2 carries it.
#include <algorithm>
#include <cstdio>

#include "platform/Endian.h"
#include "platform/acm/Codec.h"

namespace korrin::platform::acm {

namespace {

constexpr int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct ChannelState {
    int predictor = 0;
    int index = 0;
};

// Applies one 4-bit code to the state and returns the new sample.
inline int Step(ChannelState& s, int code) {
    const int step = kStepTable[s.index];
    int diff = step >> 3;
    if (code & 1)
        diff += step >> 2;
    if (code & 2)
        diff += step >> 1;
    if (code & 4)
        diff += step;
    s.predictor += (code & 8) ? -diff : diff;
    s.predictor = std::clamp(s.predictor, -32768, 32767);
    s.index = std::clamp(s.index + kIndexTable[code], 0, 88);
    return s.predictor;
}

inline int Quantize(ChannelState& s, int sample) {
    int diff = sample - s.predictor;
    int code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    int step = kStepTable[s.index];
    for (int mask = 4; mask; mask >>= 1) {
        if (diff >= step) {
            code |= mask;
            diff -= step;
        }
        step >>= 1;
    }
    Step(s, code);
    return code;
}

class ImaCodec : public Codec {
  public:
    ImaCodec(WORD channels, WORD block)
        : channels_(channels),
          block_(block),
          groups_((block - 4u * channels) / (4u * channels)),
          state_(channels) {}
    std::size_t blockBytes() const override { return block_; }
    std::size_t framesPerBlock() const override { return 1 + 8 * groups_; }

    void decode(const std::uint8_t* in, std::size_t blocks,
                std::vector<std::int16_t>& out) override {
        const std::size_t frames = framesPerBlock();
        for (std::size_t b = 0; b < blocks; ++b, in += block_) {
            const std::size_t at = out.size();
            out.resize(at + frames * channels_);
            std::int16_t* o = out.data() + at;
            for (unsigned c = 0; c < channels_; ++c) {
                ChannelState s;
                s.predictor = static_cast<std::int16_t>(LoadLE16(in + 4 * c));
                s.index = std::min<int>(in[4 * c + 2], 88);
                o[c] = static_cast<std::int16_t>(s.predictor);
                const std::uint8_t* data = in + 4u * channels_ + 4u * c;
                for (std::size_t g = 0; g < groups_; ++g, data += 4u * channels_)
                    for (int k = 0; k < 8; ++k) {
                        const int code = (data[k / 2] >> ((k & 1) * 4)) & 0x0F;
                        o[(1 + g * 8 + k) * channels_ + c] =
                            static_cast<std::int16_t>(Step(s, code));
                    }
            }
        }
    }

    void encode(const std::int16_t* in, std::size_t blocks, std::uint8_t* out) override {
        const std::size_t frames = framesPerBlock();
        for (std::size_t b = 0; b < blocks; ++b, in += frames * channels_, out += block_) {
            for (unsigned c = 0; c < channels_; ++c) {
                ChannelState& s = state_[c];
                s.predictor = in[c];
                StoreLE16(out + 4 * c, static_cast<std::uint16_t>(in[c]));
                out[4 * c + 2] = static_cast<std::uint8_t>(s.index);
                out[4 * c + 3] = 0;
                std::uint8_t* data = out + 4u * channels_ + 4u * c;
                for (std::size_t g = 0; g < groups_; ++g, data += 4u * channels_) {
                    for (int k = 0; k < 4; ++k) {
                        const std::size_t f = 1 + g * 8 + 2 * k;
                        const int lo = Quantize(s, in[f * channels_ + c]);
                        const int hi = Quantize(s, in[(f + 1) * channels_ + c]);
                        data[k] = static_cast<std::uint8_t>(lo | hi << 4);
                    }
                }
            }
        }
    }

  private:
    WORD channels_;
    WORD block_;
    std::size_t groups_;
    std::vector<ChannelState> state_;
};

// The block size listed for a rate: 256 bytes per channel up to 11,025 Hz, doubling with
// each doubling of the rate.
WORD StandardBlock(DWORD rate, WORD channels) {
    WORD perChannel = rate <= 11025 ? 256 : rate <= 22050 ? 512 : 1024;
    return static_cast<WORD>(perChannel * channels);
}

WORD SamplesPerBlock(WORD block, WORD channels) {
    return static_cast<WORD>((block - 4u * channels) * 2u / channels + 1u);
}

class ImaDriver_ : public Driver {
  public:
    WORD tag() const override { return WAVE_FORMAT_IMA_ADPCM; }
    const char* name() const override { return "IMA/DVI ADPCM"; }
    DWORD largestFormatSize() const override { return 20; }

    bool accepts(const WAVEFORMATEX& f) const override {
        // Only what the decoder needs is checked: files from other writers differ in the rest
        // (the average rate above all, which some set to what they please).
        if (f.wFormatTag != WAVE_FORMAT_IMA_ADPCM || (f.nChannels != 1 && f.nChannels != 2) ||
            f.wBitsPerSample != 4)
            return false;
        if (f.nSamplesPerSec < kLowestRate || f.nSamplesPerSec > kHighestRate)
            return false;
        const unsigned header = 4u * f.nChannels;
        if (f.nBlockAlign < 2 * header || (f.nBlockAlign - header) % header != 0)
            return false;
        // A block whose sample count does not fit the 16-bit field cannot be described: cut
        // to 16 bits the count would make the average rate (and what is read per second)
        // thousands of times too large.
        const unsigned samples = (f.nBlockAlign - header) * 2u / f.nChannels + 1u;
        if (samples > 0xFFFF)
            return false;
        // The samples per block follow from the block; a stated count must agree with them
        // (a file without one is read by its block size).
        const WORD spb = SamplesPerBlock(f.nBlockAlign, f.nChannels);
        return f.cbSize < 2 || f.extra.size() < 2 || LoadLE16(f.extra.data()) == spb;
    }

    std::string describe(const WAVEFORMATEX& f) const override {
        char text[64];
        std::snprintf(text, sizeof text, "%s, 4 Bit, %s", RateText(f.nSamplesPerSec).c_str(),
                      ChannelText(f.nChannels));
        return text;
    }

    std::vector<WAVEFORMATEX> standardFormats() const override {
        std::vector<WAVEFORMATEX> list;
        for (DWORD rate : kStandardRates)
            for (WORD channels : {1, 2}) {
                WAVEFORMATEX f;
                f.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
                f.nChannels = channels;
                f.nSamplesPerSec = rate;
                f.nBlockAlign = StandardBlock(rate, channels);
                const WORD spb = SamplesPerBlock(f.nBlockAlign, channels);
                f.nAvgBytesPerSec = rate * f.nBlockAlign / spb;
                f.wBitsPerSample = 4;
                f.cbSize = 2;
                f.extra = {static_cast<std::uint8_t>(spb), static_cast<std::uint8_t>(spb >> 8)};
                list.push_back(f);
            }
        return list;
    }

    std::unique_ptr<Codec> makeCodec(const WAVEFORMATEX& f) const override {
        return std::make_unique<ImaCodec>(f.nChannels, f.nBlockAlign);
    }
};

}  // namespace

const Driver& ImaDriver() {
    static const ImaDriver_ driver;
    return driver;
}

}  // namespace korrin::platform::acm
