// Our wave files against other programs: sox and ffmpeg decode what we write, and we decode
// what sox writes, sample for sample where the codec is deterministic.
#include <gsm/gsm.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/audio/Acm.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using korrin::test::ReadFile;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;

namespace {

std::vector<std::int16_t> Raw16(const std::string& bytes) {
    std::vector<std::int16_t> s(bytes.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::int16_t(LoadLE16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2 * i));
    return s;
}

// The data chunk of a wave file we can read.
std::string DataOf(const std::string& path) {
    WioFile wio;
    if (wioFileOpen(&wio, path, 0) != 0)
        return {};
    std::string data(wio.dataSize, '\0');
    mmioSeek(wio.file, long(wio.dataOffset), SEEK_SET);
    data.resize(std::size_t(std::max(0L, mmioRead(wio.file, data.data(), long(data.size())))));
    wioFileClose(&wio);
    return data;
}

double Snr(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& got) {
    double sig = 0, noise = 0;
    for (std::size_t i = 0; i < ref.size() && i < got.size(); ++i) {
        sig += double(ref[i]) * ref[i];
        noise += (double(ref[i]) - got[i]) * (double(ref[i]) - got[i]);
    }
    return 10 * std::log10(sig / std::max(noise, 1e-9));
}

std::string FmtBytes(WORD tag, WORD ch, DWORD rate, DWORD avg, WORD align, WORD bits,
                     std::vector<std::uint8_t> extra = {}) {
    WAVEFORMATEX f;
    f.wFormatTag = tag;
    f.nChannels = ch;
    f.nSamplesPerSec = rate;
    f.nAvgBytesPerSec = avg;
    f.nBlockAlign = align;
    f.wBitsPerSample = bits;
    f.cbSize = WORD(extra.size());
    f.extra = extra;
    auto b = WaveFormatBytes(f);
    return std::string(b.begin(), b.end());
}

class InteropTest : public korrin::test::RegistryTest {
  protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/sox", "/usr/bin/ffmpeg", "/usr/bin/espeak-ng"})
            ASSERT_EQ(access(tool, X_OK), 0) << tool << " is needed (scripts/install-deps.sh)";
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key), ERROR_SUCCESS);
        RegCloseKey(key);
        // A spoken message, as the recorder would keep it: 8 kHz 8-bit mono PCM.
        ASSERT_EQ(
            korrin::test::Run({"/usr/bin/espeak-ng", "-w", file("voice.wav"),
                               "Hello, this is a voice message. Call me back tomorrow at nine."})
                .exitCode,
            0);
        ASSERT_EQ(korrin::test::Run({"/usr/bin/sox", file("voice.wav"), "-r", "8000", "-b", "8",
                                     "-e", "unsigned-integer", "-c", "1", file("local.wav")})
                      .exitCode,
                  0);
        ASSERT_EQ(korrin::test::Run({"/usr/bin/sox", file("voice.wav"), "-r", "8000", "-b", "16",
                                     "-e", "signed-integer", "-c", "1", file("local16.wav")})
                      .exitCode,
                  0);
    }
    std::string file(const std::string& name) const { return dir_.file(name); }

    std::vector<std::int16_t> SoxDecode(const std::string& path) {
        auto r = korrin::test::Run({"/usr/bin/sox", path, "-t", "raw", "-e", "signed-integer", "-b",
                                    "16", "-c", "1", file("sox.raw")});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return Raw16(ReadFile(file("sox.raw")));
    }
    std::vector<std::int16_t> FfmpegDecode(const std::string& path) {
        auto r =
            korrin::test::Run({"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", path, "-f", "s16le",
                               "-acodec", "pcm_s16le", "-ac", "1", file("ffmpeg.raw")});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return Raw16(ReadFile(file("ffmpeg.raw")));
    }
    // Our own decode into 8 kHz 16-bit mono PCM.
    std::vector<std::int16_t> OurDecode(const std::string& path) {
        FormatChooser pcm(nullptr);
        const std::string f = FmtBytes(1, 1, 8000, 16000, 2, 16);
        std::copy(f.begin(), f.end(), pcm.format());
        WaveFileInfo info;
        EXPECT_EQ(ConvertWaveFile(pcm, path, file("ours.wav"), info), 0u);
        return Raw16(DataOf(file("ours.wav")));
    }
    DWORD Convert(const std::string& format, const std::string& from, const std::string& to) {
        FormatChooser target(nullptr);
        std::copy(format.begin(), format.end(), target.format());
        WaveFileInfo info;
        return ConvertWaveFile(target, from, to, info);
    }
};

}  // namespace

TEST_F(InteropTest, DefaultTransportOfASpokenMessageMatchesLibgsmItself) {
    FormatChooser transport(nullptr);
    std::string details;
    ASSERT_EQ(transport.GetFormatTransport(kKorrinKey, details), 0);
    ASSERT_EQ(details, "GSM 6.10 8,000 Hz, Mono");
    WaveFileInfo info;
    ASSERT_EQ(ConvertWaveFile(transport, file("local.wav"), file("sent.wav"), info), 0u);

    // libgsm's own round trip of the same samples.
    const std::string local = DataOf(file("local.wav"));
    ASSERT_GT(local.size(), 8000u);
    std::vector<std::int16_t> input(local.size());
    for (std::size_t i = 0; i < local.size(); ++i)
        input[i] = std::int16_t((std::uint8_t(local[i]) - 128) * 256);
    std::vector<std::int16_t> padded = input;
    padded.resize((input.size() + 319) / 320 * 320, 0);
    std::vector<std::int16_t> reference(padded.size());
    gsm enc = gsm_create(), dec = gsm_create();
    int one = 1;
    gsm_option(enc, GSM_OPT_WAV49, &one);
    gsm_option(dec, GSM_OPT_WAV49, &one);
    for (std::size_t b = 0; b < padded.size() / 320; ++b) {
        std::uint8_t frame[65];
        gsm_encode(enc, padded.data() + b * 320, frame);
        gsm_encode(enc, padded.data() + b * 320 + 160, frame + 32);
        gsm_decode(dec, frame, reference.data() + b * 320);
        gsm_decode(dec, frame + 33, reference.data() + b * 320 + 160);
    }
    gsm_destroy(enc);
    gsm_destroy(dec);
    reference.resize(input.size());
    const double expected = Snr(input, reference);
    EXPECT_GT(expected, 3.0);

    auto sox = SoxDecode(file("sent.wav"));
    ASSERT_GE(sox.size(), input.size());
    sox.resize(input.size());
    EXPECT_EQ(sox, reference);
    EXPECT_DOUBLE_EQ(Snr(input, sox), expected);

    auto ffmpeg = FfmpegDecode(file("sent.wav"));
    ASSERT_GE(ffmpeg.size(), input.size());
    ffmpeg.resize(input.size());
    EXPECT_EQ(ffmpeg, reference);
    EXPECT_DOUBLE_EQ(Snr(input, ffmpeg), expected);
    std::printf("GSM 6.10 SNR: libgsm %.4f dB, sox %.4f dB, ffmpeg %.4f dB\n", expected,
                Snr(input, sox), Snr(input, ffmpeg));
}

TEST_F(InteropTest, SoxAndFfmpegDecodeEveryCodecWeWrite) {
    const std::vector<std::int16_t> input = Raw16(DataOf(file("local16.wav")));
    const struct {
        const char* name;
        std::string format;
        double minSnr;
    } cases[] = {
        {"gsm", FmtBytes(49, 1, 8000, 1625, 65, 0, {0x40, 0x01}), 3},
        {"ima", FmtBytes(17, 1, 8000, 4055, 256, 4, {0xF9, 0x01}), 15},
        {"alaw", FmtBytes(6, 1, 8000, 8000, 1, 8), 25},
        {"ulaw", FmtBytes(7, 1, 8000, 8000, 1, 8), 25},
    };
    for (const auto& c : cases) {
        const std::string out = file(std::string(c.name) + ".wav");
        ASSERT_EQ(Convert(c.format, file("local16.wav"), out), 0u) << c.name;
        const auto ours = OurDecode(out);
        const auto sox = SoxDecode(out);
        const auto ffmpeg = FfmpegDecode(out);
        ASSERT_GE(sox.size(), input.size()) << c.name;
        ASSERT_GE(ffmpeg.size(), input.size()) << c.name;
        EXPECT_GT(Snr(input, sox), c.minSnr) << c.name;
        EXPECT_GT(Snr(input, ffmpeg), c.minSnr) << c.name;
        // The same bits decode to the same samples here and in sox.
        EXPECT_EQ(std::vector<std::int16_t>(ours.begin(), ours.begin() + long(input.size())),
                  std::vector<std::int16_t>(sox.begin(), sox.begin() + long(input.size())))
            << c.name;
    }
}

TEST_F(InteropTest, WeDecodeWhatSoxWrites) {
    const std::vector<std::int16_t> input = Raw16(DataOf(file("local16.wav")));
    for (const char* encoding : {"gsm-full-rate", "ima-adpcm", "a-law", "u-law"}) {
        const std::string path = file(std::string(encoding) + ".wav");
        ASSERT_EQ(
            korrin::test::Run({"/usr/bin/sox", file("local16.wav"), "-e", encoding, path}).exitCode,
            0)
            << encoding;
        WaveFileInfo info;
        ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, path)) << encoding;
        std::string tag, text;
        EXPECT_TRUE(GetFormatDescription(info.format.data(), info.format.size(), &tag, &text))
            << encoding;
        const auto ours = OurDecode(path);
        const auto sox = SoxDecode(path);
        ASSERT_GE(ours.size(), sox.size()) << encoding;
        EXPECT_EQ(std::vector<std::int16_t>(ours.begin(), ours.begin() + long(sox.size())), sox)
            << encoding;
        EXPECT_GT(Snr(input, ours), 3.0) << encoding;
    }
}

// What ffmpeg writes decodes too (its IMA ADPCM files state an average rate of their own),
// with the same samples ffmpeg decodes them to; and korrinctl plays it.
TEST_F(InteropTest, WeDecodeAndPlayWhatFfmpegWrites) {
    const struct {
        const char* codec;
        std::vector<std::string> extra;
    } cases[] = {{"adpcm_ima_wav", {}},
                 {"adpcm_ima_wav", {"-ar", "22050", "-ac", "2"}},
                 {"gsm_ms", {}},
                 {"pcm_alaw", {}},
                 {"pcm_mulaw", {}}};
    for (const auto& c : cases) {
        const std::string path =
            file(std::string(c.codec) + std::to_string(c.extra.size()) + ".wav");
        std::vector<std::string> argv{"/usr/bin/ffmpeg",   "-v",   "error", "-y", "-i",
                                      file("local16.wav"), "-c:a", c.codec};
        argv.insert(argv.end(), c.extra.begin(), c.extra.end());
        argv.push_back(path);
        ASSERT_EQ(korrin::test::Run(argv).exitCode, 0) << c.codec;
        WaveFileInfo info;
        ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, path)) << c.codec;
        FormatChooser pcm(nullptr);
        const WAVEFORMATEX f = ReadWaveFormat(info.format.data(), info.format.size());
        const std::string target =
            FmtBytes(1, f.nChannels, f.nSamplesPerSec, f.nSamplesPerSec * 2 * f.nChannels,
                     2 * f.nChannels, 16);
        ASSERT_EQ(Convert(target, path, file("decoded.wav")), 0u) << c.codec;
        const auto ours = Raw16(DataOf(file("decoded.wav")));
        auto r = korrin::test::Run({"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", path, "-f",
                                    "s16le", "-acodec", "pcm_s16le", file("ffmpeg.raw")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto theirs = Raw16(ReadFile(file("ffmpeg.raw")));
        ASSERT_GE(ours.size(), theirs.size()) << c.codec;
        EXPECT_GT(Snr(theirs,
                      std::vector<std::int16_t>(ours.begin(), ours.begin() + long(theirs.size()))),
                  30.0)
            << c.codec;  // ffmpeg rounds its IMA steps its own way: close, not the same bits
        std::remove(file("decoded.wav").c_str());
        if (&c == &cases[0]) {  // in real time: once is enough
            r = korrin::test::Run({korrin::test::BuildDir() + "/korrinctl", "play", path},
                                  {{"KORRIN_AUDIO", "virtual"}});
            EXPECT_EQ(r.exitCode, 0) << c.codec << ": " << r.err;
        }
    }
}

// After a rate change other players show the length the message has: the fact chunk counts
// the output's samples.
TEST_F(InteropTest, OtherPlayersShowTheConvertedLength) {
    ASSERT_EQ(access("/usr/bin/ffprobe", X_OK), 0) << "ffprobe is needed (package ffmpeg)";
    ASSERT_EQ(korrin::test::Run({"/usr/bin/sox", file("voice.wav"), "-r", "22050", "-b", "16", "-c",
                                 "1", file("radio.wav")})
                  .exitCode,
              0);
    for (const auto& format :
         {FmtBytes(49, 1, 8000, 1625, 65, 0, {0x40, 0x01}),
          FmtBytes(17, 1, 8000, 4055, 256, 4, {0xF9, 0x01}), FmtBytes(1, 1, 11025, 11025, 1, 8)}) {
        ASSERT_EQ(Convert(format, file("radio.wav"), file("sent.wav")), 0u);
        const auto sox = korrin::test::Run({"/usr/bin/soxi", "-D", file("sent.wav")});
        const auto probe =
            korrin::test::Run({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                               "format=duration", "-of", "csv=p=0", file("sent.wav")});
        ASSERT_EQ(sox.exitCode, 0) << sox.err;
        ASSERT_EQ(probe.exitCode, 0) << probe.err;
        const double soxSeconds = std::stod(sox.out), probeSeconds = std::stod(probe.out);
        EXPECT_GT(soxSeconds, 2.0);
        EXPECT_NEAR(probeSeconds, soxSeconds, 0.030)
            << "sox " << sox.out << " ffprobe " << probe.out;
        std::remove(file("sent.wav").c_str());
    }
}
