// Wave files read and written in memory, and PCM changed between layouts.
#include <gtest/gtest.h>

#include <cmath>

#include "helpers/TestSupport.h"
#include "platform/Endian.h"
#include "platform/mci/PcmConvert.h"
#include "platform/mci/WaveData.h"

namespace {

using namespace korrin::platform;

std::vector<std::uint8_t> chunk(const char* id, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out(id, id + 4);
    AppendLE32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1)
        out.push_back(0);
    return out;
}

std::vector<std::uint8_t> riff(const std::vector<std::vector<std::uint8_t>>& chunks) {
    std::vector<std::uint8_t> body{'W', 'A', 'V', 'E'};
    for (const auto& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    return chunk("RIFF", body);
}

std::vector<std::uint8_t> pcmFmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    std::vector<std::uint8_t> f;
    AppendLE16(f, 1);
    AppendLE16(f, channels);
    AppendLE32(f, rate);
    AppendLE32(f, rate * channels * bits / 8);
    AppendLE16(f, static_cast<std::uint16_t>(channels * bits / 8));
    AppendLE16(f, bits);
    return f;
}

TEST(WaveRead, SkipsOtherChunksWithTheirPadByte) {
    const auto file = riff({chunk("LIST", {1, 2, 3}), chunk("fmt ", pcmFmt(2, 8000, 16)),
                            chunk("fact", {9}), chunk("data", {1, 2, 3, 4, 5, 6, 7, 8})});
    WaveImage image;
    ASSERT_EQ(ParseWave(file.data(), file.size(), image), WaveReadResult::kOk);
    EXPECT_TRUE(IsPlayablePcm(image.format));
    EXPECT_EQ(image.format.channels, 2);
    EXPECT_EQ(image.data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(WaveRead, ADataChunkLongerThanTheFileGivesWholeFramesOfWhatIsThere) {
    auto file = riff({chunk("fmt ", pcmFmt(1, 8000, 16)), chunk("data", {1, 2, 3, 4, 5, 6})});
    file.resize(file.size() - 1);  // cut inside the third frame
    StoreLE32(file.data() + 4, 0xFFFFFFF0);
    WaveImage image;
    ASSERT_EQ(ParseWave(file.data(), file.size(), image), WaveReadResult::kOk);
    EXPECT_EQ(image.data.size(), 4u);
}

TEST(WaveRead, RefusesWhatIsNoWave) {
    WaveImage image;
    const std::vector<std::uint8_t> text{'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(ParseWave(text.data(), text.size(), image), WaveReadResult::kNotRiffWave);
    auto noFmt = riff({chunk("data", {1, 2})});
    EXPECT_EQ(ParseWave(noFmt.data(), noFmt.size(), image), WaveReadResult::kNoFormat);
    auto noData = riff({chunk("fmt ", pcmFmt(1, 8000, 8))});
    EXPECT_EQ(ParseWave(noData.data(), noData.size(), image), WaveReadResult::kNoData);
    auto shortFmt = riff({chunk("fmt ", {1, 0, 1, 0}), chunk("data", {1})});
    EXPECT_EQ(ParseWave(shortFmt.data(), shortFmt.size(), image), WaveReadResult::kBadFormat);
    auto zeroBlock = pcmFmt(1, 8000, 8);
    zeroBlock[12] = 0;
    auto z = riff({chunk("fmt ", zeroBlock), chunk("data", {1})});
    EXPECT_EQ(ParseWave(z.data(), z.size(), image), WaveReadResult::kBadFormat);
}

TEST(WaveWrite, WritesTheCanonicalLayoutAndReadsBack) {
    const PcmFormat f{1, 8000, 8};
    const std::vector<std::uint8_t> data{1, 2, 3};
    const auto bytes = SerializeWave(ToWaveFormat(f), data.data(), data.size());
    ASSERT_EQ(bytes.size(), 44u + 3u + 1u);  // odd data gets its pad byte
    EXPECT_EQ(LoadLE32(bytes.data() + 4), bytes.size() - 8);
    EXPECT_EQ(LoadLE32(bytes.data() + 16), 16u);
    EXPECT_EQ(LoadLE32(bytes.data() + 40), 3u);
    WaveImage image;
    ASSERT_EQ(ParseWave(bytes.data(), bytes.size(), image), WaveReadResult::kOk);
    EXPECT_EQ(image.format, ToWaveFormat(f));
    EXPECT_EQ(image.data, data);

    WaveFormat gsm{49, 1, 8000, 1625, 65, 0, {2, 0, 0x40, 0x01}};
    const auto g = SerializeWave(gsm, data.data(), data.size());
    ASSERT_EQ(ParseWave(g.data(), g.size(), image), WaveReadResult::kOk);
    EXPECT_EQ(image.format, gsm);
    EXPECT_FALSE(IsPlayablePcm(image.format));
}

TEST(WaveFiles, OnlyPlainFilesAreReadWhole) {
    // A FIFO named like a wave file would hold the reader until some writer came along; a
    // device would be read for ever.
    korrin::test::TempDir dir;
    korrin::test::FifoGuard fifo(dir.file("pipe.wav"));
    std::vector<std::uint8_t> bytes{1};
    EXPECT_FALSE(ReadWholeFile(dir.file("pipe.wav"), bytes));
    EXPECT_FALSE(fifo.rescued());
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(ReadWholeFile(dir.path(), bytes));

    const std::vector<std::uint8_t> content{'R', 'I', 'F', 'F', 0, 1, 2};
    ASSERT_TRUE(ReplaceFile(dir.file("plain.wav"), content));
    ASSERT_TRUE(ReadWholeFile(dir.file("plain.wav"), bytes));
    EXPECT_EQ(bytes, content);
}

TEST(PcmConvert, ChangesSampleSizeAndChannels) {
    // 16-bit stereo: left +0.5, right -0.5 -> 8-bit mono silence; -> 8-bit stereo.
    std::vector<std::uint8_t> in;
    AppendLE16(in, 0x4000);
    AppendLE16(in, static_cast<std::uint16_t>(-0x4000));
    std::vector<std::uint8_t> out;
    PcmConverter({2, 8000, 16}, {1, 8000, 8}).Convert(in.data(), in.size(), out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x80}));
    out.clear();
    PcmConverter({2, 8000, 16}, {2, 8000, 8}).Convert(in.data(), in.size(), out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0xC0, 0x40}));
    // 8-bit mono full scale up to 16-bit stereo, clipped at the top.
    const std::vector<std::uint8_t> loud{0xFF, 0x00};
    out.clear();
    PcmConverter({1, 8000, 8}, {2, 8000, 16}).Convert(loud.data(), loud.size(), out);
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(static_cast<std::int16_t>(LoadLE16(out.data())), 32512);
    EXPECT_EQ(static_cast<std::int16_t>(LoadLE16(out.data() + 4)), -32768);
}

TEST(PcmConvert, RateChangeIsTheSameInPiecesAsInOne) {
    std::vector<std::uint8_t> in;
    for (int i = 0; i < 441; ++i)
        in.push_back(static_cast<std::uint8_t>(128 + 60 * std::sin(i * 0.05)));
    std::vector<std::uint8_t> whole, pieces;
    PcmConverter one({1, 44100, 8}, {1, 8000, 8});
    one.Convert(in.data(), in.size(), whole);
    one.Finish(whole);
    EXPECT_NEAR(double(whole.size()), 80.0, 1.0);
    PcmConverter c({1, 44100, 8}, {1, 8000, 8});
    for (std::size_t at = 0; at < in.size(); at += 13)
        c.Convert(in.data() + at, std::min<std::size_t>(13, in.size() - at), pieces);
    c.Finish(pieces);
    EXPECT_EQ(pieces, whole);
}

// A card that offers only 48 or 44.1 kHz recording into an 8 kHz file: what lies above the
// new rate's half (4 kHz) is filtered out instead of folding back into the speech band;
// what lies below passes.
TEST(PcmConvert, CaptureAtAnotherRateDoesNotAlias) {
    const struct {
        unsigned rate;
        double hz;
        bool passes;
    } cases[] = {{48000, 1000, true}, {48000, 6000, false}, {48000, 7000, false},
                 {44100, 1000, true}, {44100, 6500, false}, {16000, 5000, false}};
    for (const auto& k : cases) {
        std::vector<std::uint8_t> in, out;
        for (unsigned i = 0; i < k.rate; ++i)  // one second at half scale
            AppendLE16(in, static_cast<std::uint16_t>(static_cast<std::int16_t>(
                               16384 * std::sin(2 * M_PI * k.hz * i / k.rate))));
        PcmConverter c({1, k.rate, 16}, {1, 8000, 16});
        ASSERT_TRUE(c.ok());
        c.Convert(in.data(), in.size(), out);
        c.Finish(out);
        ASSERT_NEAR(double(out.size() / 2), 8000.0, 2.0) << k.rate << " " << k.hz;
        double power = 0;
        for (std::size_t i = 400; i + 400 < out.size() / 2; ++i) {  // past the edges
            const double v = static_cast<std::int16_t>(LoadLE16(out.data() + 2 * i)) / 32768.0;
            power += v * v;
        }
        const double rms = std::sqrt(power / double(out.size() / 2 - 800));
        if (k.passes)
            EXPECT_NEAR(rms, 0.5 / std::sqrt(2.0), 0.02) << k.rate << " Hz, " << k.hz << " Hz";
        else
            EXPECT_LT(rms, 0.01) << k.rate << " Hz, " << k.hz << " Hz folds back";
    }
}

}  // namespace
