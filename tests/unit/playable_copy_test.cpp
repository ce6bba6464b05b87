// The audio of message files as Ogg Opus and as wave: every codec a message may hold, read
// back with libopusfile (length, tags); damaged audio refused with a reason and nothing left
// behind; the copy of the transmission in an unnamed file, made only while the setting asks.
#include <gtest/gtest.h>

#include <opus/opusfile.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>

#include "helpers/TestSupport.h"
#include "helpers/WaveSupport.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/PlayableCopy.h"
#include "korrin/store/Trailer.h"

using namespace korrin;
using namespace korrin::platform;
using namespace korrin::test;
using namespace std::string_literals;

namespace {

// ms of a gliding tone with some noise (so the coder has work) as 16-bit mono PCM at rate.
std::vector<std::uint8_t> Voice(unsigned ms, unsigned rate) {
    std::vector<std::uint8_t> pcm;
    unsigned x = 12345;
    for (unsigned i = 0; i < ms * rate / 1000; ++i) {
        x = x * 1103515245u + 12345u;
        const double t = double(i) / rate;
        const double v = 6000 * std::sin(2 * M_PI * (200 + 300 * t) * t) + int(x >> 20) % 2000;
        AppendLE16(pcm, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }
    return pcm;
}

// PCM (16-bit mono at rate) converted into target by the compression manager, as a wave file.
std::vector<std::uint8_t> EncodedWave(const WAVEFORMATEX& target,
                                      const std::vector<std::uint8_t>& pcm, unsigned rate) {
    WAVEFORMATEX src;
    src.wFormatTag = WAVE_FORMAT_PCM;
    src.nChannels = 1;
    src.nSamplesPerSec = rate;
    src.nAvgBytesPerSec = rate * 2;
    src.nBlockAlign = 2;
    src.wBitsPerSample = 16;
    const std::vector<std::uint8_t> encoded = AcmConvert(src, target, pcm);
    EXPECT_FALSE(encoded.empty());
    std::vector<std::uint8_t> extra;
    if (target.cbSize) {
        AppendLE16(extra, target.cbSize);
        extra.insert(extra.end(), target.extra.begin(), target.extra.end());
    }
    const WaveFormat format{target.wFormatTag,
                            target.nChannels,
                            target.nSamplesPerSec,
                            target.nAvgBytesPerSec,
                            target.nBlockAlign,
                            target.wBitsPerSample,
                            extra};
    return SerializeWave(format, encoded.data(), encoded.size());
}

std::string Str(const std::vector<std::uint8_t>& b) {
    return std::string(b.begin(), b.end());
}

struct Opus {
    double seconds = -1;
    std::string title, artist, date, encoder;
};
Opus ReadOpus(const std::string& path) {
    Opus r;
    int error = 0;
    OggOpusFile* f = op_open_file(path.c_str(), &error);
    if (!f)
        return r;
    r.seconds = double(op_pcm_total(f, -1)) / 48000;
    const OpusTags* tags = op_tags(f, -1);
    auto tag = [&](const char* name) {
        const char* v = opus_tags_query(tags, name, 0);
        return std::string(v ? v : "");
    };
    r.title = tag("TITLE");
    r.artist = tag("ARTIST");
    r.date = tag("DATE");
    r.encoder = tag("ENCODER");
    op_free(f);
    return r;
}

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PlayableCopyTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegKeyGuard key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out()), ERROR_SUCCESS);
        std::filesystem::create_directory(tmp_);
        std::filesystem::create_directory(files_);
    }
    // A message file: the payload and a full envelope dated 2 March 1999 16:05:07 UTC.
    std::string message(const std::string& name, const std::string& payload) {
        const std::string path = files_ + "/" + name;
        WriteFile(path, payload);
        CMessageTrailer t;
        t.subject = "Ünïcode hello";
        t.SetNoteFromEdit("note");
        EXPECT_EQ(t.WriteNew(path, "Jo Sender", "jo@here.test", "a", "a@x.test", "", ""), 0);
        CMessageTrailer r;
        EXPECT_EQ(r.ReadForSending(path, true, false), 0);
        r.date = {1999, 3, 2, 2, 16, 5, 7, 0};
        EXPECT_EQ(r.ReplaceTrailer(path), 0);
        return path;
    }
    std::string tmp_ = dir_.file("tmp");
    std::string files_ = dir_.file("files");
    ScopedEnv tmpdir_{"TMPDIR", tmp_};
    ScopedEnv windir_{"KORRIN_WINDIR", dir_.file("no-tools")};
};

TEST_F(PlayableCopyTest, EveryCodecBecomesOpusAndWaveOfTheMessagesLengthWithItsTags) {
    const auto pcm = Voice(2000, 8000);
    std::vector<WAVEFORMATEX> formats;
    for (const auto& tag : AcmStandardFormats())
        for (const auto& f : tag.formats)
            if (f.format.nSamplesPerSec == 8000 && f.format.nChannels == 1) {
                formats.push_back(f.format);
                break;
            }
    ASSERT_EQ(formats.size(), 5u);     // PCM, GSM 6.10, A-law, u-law, IMA ADPCM
    WAVEFORMATEX stereo = formats[0];  // 16-bit stereo at 11,025 Hz goes through the rate changer
    stereo.nChannels = 2;
    stereo.nSamplesPerSec = 11025;
    stereo.wBitsPerSample = 16;
    stereo.nBlockAlign = 4;
    stereo.nAvgBytesPerSec = 44100;
    formats.push_back(stereo);
    for (const WAVEFORMATEX& f : formats) {
        SCOPED_TRACE("tag " + std::to_string(f.wFormatTag) + " rate " +
                     std::to_string(f.nSamplesPerSec));
        const std::string path = message("KX5O.kx0", Str(EncodedWave(f, pcm, 8000)));
        std::string why;
        ASSERT_EQ(ExportMessageAudio(path, files_ + "/out.opus", why), 0) << why;
        ASSERT_EQ(ExportMessageAudio(path, files_ + "/out.WAV", why), 0) << why;
        const Opus o = ReadOpus(files_ + "/out.opus");
        EXPECT_NEAR(o.seconds, 2.0, 0.04);
        EXPECT_EQ(o.title, "Ünïcode hello");
        EXPECT_EQ(o.artist, "Jo Sender");
        EXPECT_EQ(o.date, "1999-03-02T16:05:07Z");
        EXPECT_EQ(o.encoder, "Korrin 6.0");
        const WaveImage wave = ReadWave(files_ + "/out.WAV");
        EXPECT_EQ(wave.format.formatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(wave.format.channels, 1);
        EXPECT_EQ(wave.format.bitsPerSample, 16);
        EXPECT_EQ(wave.format.samplesPerSec, f.nSamplesPerSec);
        EXPECT_NEAR(double(wave.data.size()) / 2 / f.nSamplesPerSec, 2.0, 0.04);
        const std::string bytes = ReadFile(files_ + "/out.WAV");
        EXPECT_NE(bytes.find("INAM"), std::string::npos);
        EXPECT_NE(bytes.find("Korrin 6.0"), std::string::npos);
    }
    EXPECT_EQ(Listing(files_), (std::vector<std::string>{"KX5O.kx0", "out.WAV", "out.opus"}));
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(PlayableCopyTest, DamagedAudioFailsWithAReasonAndLeavesNothingBehind) {
    const std::string gsm = Str(GsmWave(400));
    WriteFile(files_ + "/keep.opus", "old");
    const struct {
        const char* what;
        std::string payload;
        const char* out;
        const char* reason;
    } cases[] = {
        {"not a wave file", "hello, this is no audio at all", "x.opus", "no wave file"},
        {"cut inside the format", gsm.substr(0, 30), "x.opus", "damaged"},
        {"no data chunk", gsm.substr(0, 40), "x.opus", "no data chunk"},
        {"a data chunk with nothing in it", gsm.substr(0, 48), "x.opus", "no audio"},
        {"format chunk too short", "RIFF\x20\0\0\0WAVEfmt \x04\0\0\0abcd"s, "x.wav", "damaged"},
        {"no codec for the tag",
         "RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x55\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0data\x04\0\0\0abcd"s,
         "x.opus", "no codec"},
        {"zipped without the unpacking tool", "PK\x03\x04 and so on"s, "x.opus", "pkunzip"},
        {"neither ending", gsm, "x.mp3", ".opus or .wav"},
        {"an existing file is left alone on failure", "junk", "keep.opus", "no wave file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = message("m.kx0", c.payload);
        std::string why;
        EXPECT_EQ(ExportMessageAudio(path, files_ + "/" + c.out, why), 1);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(Listing(files_), (std::vector<std::string>{"keep.opus", "m.kx0"}));
    }
    EXPECT_EQ(ReadFile(files_ + "/keep.opus"), "old");
    std::string why;
    EXPECT_EQ(ExportMessageAudio(files_ + "/missing.kx0", files_ + "/x.wav", why), 1);
    // A wave file with no envelope is audio all the same, without tags.
    WriteFile(files_ + "/plain.wav", gsm);
    ASSERT_EQ(ExportMessageAudio(files_ + "/plain.wav", files_ + "/keep.opus", why), 0) << why;
    EXPECT_NEAR(ReadOpus(files_ + "/keep.opus").seconds, 0.4, 0.04);
    EXPECT_EQ(ReadOpus(files_ + "/keep.opus").title, "");
}

TEST_F(PlayableCopyTest, TheCopyFollowsTheSettingLivesInAnUnnamedFileAndStaysSmall) {
    // 30 s of noise-like audio is the hardest case for the rate.
    WAVEFORMATEX gsm;
    for (const auto& tag : AcmStandardFormats())
        if (tag.tag == WAVE_FORMAT_GSM610)
            gsm = tag.formats.at(0).format;
    ASSERT_EQ(gsm.nSamplesPerSec, 8000u);
    const std::string path = message("KX7O.kx0", Str(EncodedWave(gsm, Voice(30000, 8000), 8000)));
    CMessageTrailer envelope;
    ASSERT_EQ(envelope.ReadForSending(path, true, false), 0);
    ASSERT_EQ(CUtils().GetSettingDword(setting::kAttachPlayableCopy), 1u);
    {
        PlayableCopy copy;
        ASSERT_TRUE(copy.Make(path, envelope));
        EXPECT_EQ(copy.fileName(), "KX7O.opus");
        struct stat st {};
        ASSERT_EQ(::stat(copy.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_LE(double(st.st_size) / 30, 2200.0);
        EXPECT_NEAR(ReadOpus(copy.path()).seconds, 30.0, 0.04);
        EXPECT_TRUE(std::filesystem::is_empty(tmp_));  // no name anywhere
    }
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kAttachPlayableCopy, 0), 1);
    PlayableCopy off;
    EXPECT_FALSE(off.Make(path, envelope));
    EXPECT_TRUE(off.path().empty());
}

}  // namespace
