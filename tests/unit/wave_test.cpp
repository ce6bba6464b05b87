// Wave files: reading their layout, creating, converting and describing them, and the two
// stored formats.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include <string>
#include <vector>

#include "helpers/TestSupport.h"
#include "korrin/app/Defaults.h"
#include "korrin/audio/Acm.h"
#include "korrin/audio/FormatSpec.h"
#include "korrin/audio/Mci.h"
#include "korrin/audio/Zip.h"
#include "platform/Endian.h"
#include "platform/mci/WaveData.h"
#include "platform/registry/Registry.h"

using namespace korrin;
using namespace korrin::platform;
using korrin::test::JsonField;
using korrin::test::ReadFile;
using korrin::test::ReadLines;
using korrin::test::ScopedEnv;
using korrin::test::TempDir;
using korrin::test::WriteFile;

namespace {

std::string Le16(unsigned v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)};
}
std::string Le32(DWORD v) {
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}
std::string Chunk(const std::string& id, const std::string& body) {
    return id + Le32(DWORD(body.size())) + body + (body.size() & 1 ? std::string(1, '\0') : "");
}
std::string Riff(const std::string& chunks) {
    return "RIFF" + Le32(DWORD(4 + chunks.size())) + "WAVE" + chunks;
}
std::string Fmt(unsigned tag, unsigned ch, DWORD rate, DWORD avg, unsigned align, unsigned bits,
                const std::string& extra = "") {
    std::string f = Le16(tag) + Le16(ch) + Le32(rate) + Le32(avg) + Le16(align) + Le16(bits);
    if (tag != 1 || !extra.empty())
        f += Le16(unsigned(extra.size())) + extra;
    return f;
}
const std::string kPcm8 = Fmt(1, 1, 8000, 8000, 1, 8);
const std::string kGsm = Fmt(49, 1, 8000, 1625, 65, 0, Le16(320));

// Records the progress texts a conversion shows.
class RecordingWindow : public AudioWindow {
  public:
    void SetItemText(void* owner, int item, const std::string& text) override {
        EXPECT_EQ(owner, this);
        EXPECT_EQ(item, 102);
        texts.push_back(text);
    }
    void BeginWaitCursor() override { ++waits; }
    void EndWaitCursor() override { --waits; }
    std::vector<std::string> texts;
    int waits = 0;
};

class WaveTest : public korrin::test::RegistryTest {
  protected:
    void SetUp() override {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    std::vector<std::string> log() const { return ReadLines(dir_.file("messages.log")); }
    ScopedEnv log_{"KORRIN_MESSAGE_LOG", dir_.file("messages.log")};

    // A target format in a chooser.
    static void Put(FormatChooser& c, const std::string& fmt) {
        std::fill(c.format(), c.format() + c.formatSize(), 0);
        std::copy(fmt.begin(), fmt.end(), c.format());
    }
};

std::vector<std::uint8_t> RegValue(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key) != ERROR_SUCCESS)
        return {};
    DWORD size = 0;
    RegQueryValueEx(key, name, nullptr, nullptr, &size);
    std::vector<std::uint8_t> data(size);
    if (RegQueryValueEx(key, name, nullptr, data.data(), &size) != ERROR_SUCCESS)
        data.clear();
    RegCloseKey(key);
    return data;
}

void SetRegValue(const char* name, DWORD type, const std::vector<std::uint8_t>& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key), ERROR_SUCCESS);
    RegSetValueEx(key, name, type, data.data(), DWORD(data.size()));
    RegCloseKey(key);
}

std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> v, std::size_t n) {
    v.resize(n, 0);
    return v;
}

}  // namespace

TEST_F(WaveTest, SampleCountsComeFromFactOrAreComputedForPcmOnly) {
    const std::string pcm = dir_.file("pcm.wav");
    WriteFile(pcm, Riff(Chunk("fmt ", kPcm8) + Chunk("data", std::string(1001, '\x80'))));
    WaveFileInfo info;
    ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, pcm));
    EXPECT_EQ(info.title, "pcm.wav");
    EXPECT_EQ(info.dataSize, 1001u);
    EXPECT_EQ(info.sampleCount, 1001u);
    // A 16-byte PCM fmt chunk is held as 18 zero-filled bytes: cbSize reads 0.
    EXPECT_EQ(info.formatSize, 16u);
    EXPECT_EQ(info.fileSize, 12u + 8 + 16 + 8 + 1002);

    const std::string stereo16 = dir_.file("s16.wav");
    WriteFile(stereo16, Riff(Chunk("fmt ", Fmt(1, 2, 8000, 32000, 4, 16)) +
                             Chunk("data", std::string(40, 0))));
    ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, stereo16));
    EXPECT_EQ(info.sampleCount, 10u);

    const std::string gsm = dir_.file("gsm.wav");
    WriteFile(gsm, Riff(Chunk("fmt ", kGsm) + Chunk("data", std::string(130, 0))));
    ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, gsm));
    EXPECT_EQ(info.sampleCount, 0u);
    EXPECT_EQ(info.formatSize, 20u);

    WriteFile(gsm, Riff(Chunk("fact", Le32(640)) + Chunk("fmt ", kGsm) +
                        Chunk("data", std::string(130, 0)) + Chunk("fact", Le32(9))));
    ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, gsm));
    EXPECT_EQ(info.sampleCount, 640u);
    EXPECT_TRUE(log().empty());
}

TEST_F(WaveTest, FilesThatAreNotWaveFilesAreNamedWithTheirWioError) {
    WaveFileInfo info;
    // A missing file: false and no message.
    EXPECT_FALSE(LoadWaveFileInfo(nullptr, info, dir_.file("none.wav")));
    EXPECT_TRUE(log().empty());
    // Nor is anything but a plain file, and a FIFO does not hold the caller.
    {
        korrin::test::FifoGuard fifo(dir_.file("pipe.wav"));
        EXPECT_FALSE(LoadWaveFileInfo(nullptr, info, dir_.file("pipe.wav")));
        EXPECT_FALSE(fifo.rescued());
    }
    EXPECT_TRUE(log().empty());

    const struct {
        std::string bytes;
        DWORD code;
    } cases[] = {{"not a wave file at all", 6},
                 {Riff(Chunk("data", "xx")), 1},
                 {Riff(Chunk("fmt ", std::string(0x10001, 0))), 7},
                 {"RIFF" + Le32(100) + "WAVEfmt " + Le32(18) + "short", 6}};
    for (const auto& c : cases) {
        const std::string path = dir_.file("bad.wav");
        WriteFile(path, c.bytes);
        WioFile wio;
        EXPECT_EQ(wioFileOpen(&wio, path, 0), c.code);
        EXPECT_EQ(wio.file, nullptr);
        EXPECT_FALSE(LoadWaveFileInfo(nullptr, info, path));
        ASSERT_FALSE(log().empty());
        EXPECT_EQ(JsonField(log().back(), "text"),
                  "The file '" + path + "' cannot be loaded as a wave file (wio error=" +
                      std::to_string(c.code) + ").");
        EXPECT_EQ(JsonField(log().back(), "icon"), "exclamation");
    }
    EXPECT_EQ(wioFileOpen(nullptr, dir_.file("x"), 0), 4u);
    EXPECT_EQ(wioFileClose(nullptr), 4u);
}

TEST_F(WaveTest, AChunkPastTheRiffEndAsksBeforeLoading) {
    const std::string path = dir_.file("over.wav");
    // data claims 5000 bytes, the RIFF chunk holds 100 of them.
    std::string chunks = Chunk("fmt ", kPcm8) + "data" + Le32(5000) + std::string(100, '\x80');
    WriteFile(path, "RIFF" + Le32(DWORD(4 + chunks.size())) + "WAVE" + chunks);
    WaveFileInfo info;
    {
        ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "No,No");
        EXPECT_FALSE(LoadWaveFileInfo(nullptr, info, path));
    }
    const auto lines = log();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(JsonField(lines[0], "caption"), "wioFileOpen");
    EXPECT_EQ(JsonField(lines[0], "buttons"), "YesNo");
    EXPECT_EQ(JsonField(lines[0], "text"),
              "This wave file might be corrupt. The RIFF chunk.ckid '61746164' (data offset at 44) "
              "specifies a cksize of 5000 that extends beyond what the RIFF header cksize of 136 "
              "allows. Attempt to load?");
    EXPECT_NE(JsonField(lines[1], "text").find("(wio error=8)."), std::string::npos);
    {
        ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "Yes");
        ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, path));
    }
    // What the file holds, not what the chunk claims.
    EXPECT_EQ(info.dataSize, 100u);
    // Once accepted, the file converts as far as it holds audio, as it loaded.
    FormatChooser pcm(nullptr);
    Put(pcm, Fmt(1, 1, 8000, 16000, 2, 16));
    {
        ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "Yes");
        ASSERT_EQ(ConvertWaveFile(pcm, path, dir_.file("over16.wav"), info), 0u);
    }
    ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, dir_.file("over16.wav")));
    EXPECT_EQ(info.dataSize, 200u);
}

TEST_F(WaveTest, NewFileIsFiftySixBytesForPcm) {
    FormatChooser chooser(nullptr);
    ASSERT_EQ(chooser.formatSize(), 20u);
    Put(chooser, kPcm8);
    const std::string path = dir_.file("new.wav");
    WaveFileInfo info;
    ASSERT_TRUE(AcmAppFileNew(chooser, path, info));
    EXPECT_EQ(ReadFile(path),
              Riff(Chunk("fmt ", kPcm8) + Chunk("fact", Le32(0)) + Chunk("data", "")));
    EXPECT_EQ(ReadFile(path).size(), 56u);
    EXPECT_EQ(info.sampleCount, 0u);
    EXPECT_EQ(info.dataSize, 0u);
    // A folder that does not exist cannot hold it.
    EXPECT_FALSE(AcmAppFileNew(chooser, dir_.file("no/such/new.wav"), info));
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(JsonField(log()[0], "text"),
              "AcmAppFileNew() cannot create file '" + dir_.file("no/such/new.wav") + "'!");
    EXPECT_EQ(JsonField(log()[0], "caption"), "Error");
}

TEST_F(WaveTest, ConversionKeepsDispAndPlstAheadOfTheFormatAndDropsTheRest) {
    const std::string src = dir_.file("src.wav");
    std::string pcm(16000 + 37, '\0');
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = char(128 + int(60 * ((i / 20) % 2 ? 1 : -1)));
    WriteFile(src, Riff(Chunk("LIST", "INFOxx") + Chunk("DISP", "odd") + Chunk("fmt ", kPcm8) +
                        Chunk("plst", "1234") + Chunk("data", pcm)) +
                       "trailing bytes of a message file");
    FormatChooser target(nullptr);
    Put(target, kGsm);
    RecordingWindow window;
    FormatChooser owned(&window);
    Put(owned, kGsm);
    InstallAudioWindow(&window);
    WaveFileInfo info;
    const std::string dst = dir_.file("dst.wav");
    const DWORD result = ConvertWaveFile(owned, src, dst, info);
    InstallAudioWindow(nullptr);
    ASSERT_EQ(result, 0u);
    EXPECT_EQ(window.waits, 0);
    EXPECT_EQ(info.sampleCount, 16037u);

    const std::string out = ReadFile(dst);
    const std::size_t blocks = (16037 + 319) / 320;
    const std::string head =
        Riff(Chunk("DISP", "odd") + Chunk("plst", "1234") + Chunk("fmt ", kGsm) +
             Chunk("fact", Le32(16037)) + "data" + Le32(DWORD(blocks * 65)));
    ASSERT_EQ(out.size(), head.size() + blocks * 65 + 1);  // odd data size: one pad byte
    EXPECT_EQ(out.substr(0, 4), "RIFF");
    EXPECT_EQ(out.substr(8, head.size() - 8), head.substr(8));
    EXPECT_EQ(LoadLE32(reinterpret_cast<const std::uint8_t*>(out.data()) + 4), out.size() - 8);

    // Two one-second blocks and the rest: 0 %, 49 %, 99 %, then the cleanup pass at 100 %.
    const std::vector<std::string> expected = {"0%", "49%", "99%", "Cleanup Pass -- 100%"};
    EXPECT_EQ(window.texts, expected);
}

TEST_F(WaveTest, PartialBlocksAreReadAgainAndEmptyDataConverts) {
    // 15 whole GSM blocks and 25 bytes of a 16th: the tail cannot be decoded and is left.
    const std::string src = dir_.file("g.wav");
    std::string blocks;
    for (int b = 0; b < 15; ++b)
        blocks += std::string(65, char(0x11 * (b % 5)));
    WriteFile(src, Riff(Chunk("fmt ", kGsm) + Chunk("fact", Le32(4800)) +
                        Chunk("data", blocks + std::string(25, 0))));
    FormatChooser pcm(nullptr);
    Put(pcm, Fmt(1, 1, 8000, 16000, 2, 16));
    WaveFileInfo info;
    ASSERT_EQ(ConvertWaveFile(pcm, src, dir_.file("p.wav"), info), 0u);
    ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, dir_.file("p.wav")));
    EXPECT_EQ(info.dataSize, 15u * 320 * 2);

    const std::string empty = dir_.file("e.wav");
    WriteFile(empty, Riff(Chunk("fmt ", kPcm8) + Chunk("data", "")));
    FormatChooser gsm(nullptr);
    Put(gsm, kGsm);
    ASSERT_EQ(ConvertWaveFile(gsm, empty, dir_.file("eg.wav"), info), 0u);
    EXPECT_EQ(ReadFile(dir_.file("eg.wav")),
              Riff(Chunk("fmt ", kGsm) + Chunk("fact", Le32(0)) + Chunk("data", "")));
}

TEST_F(WaveTest, NoCodecForThePairShowsTheTipAndKeepsEveryFile) {
    const std::string src = dir_.file("adpcm.wav");
    const std::string original = Riff(Chunk("fmt ", Fmt(2, 1, 8000, 4096, 256, 4, Le16(500))) +
                                      Chunk("data", std::string(512, 1)));
    WriteFile(src, original);
    const std::string dst = dir_.file("keep.wav");
    WriteFile(dst, "the user's recording");
    FormatChooser target(nullptr);
    Put(target, kPcm8);
    WaveFileInfo info;
    EXPECT_NE(ConvertWaveFile(target, src, dst, info), 0u);
    EXPECT_EQ(ReadFile(src), original);
    EXPECT_EQ(ReadFile(dst), "the user's recording");
    const auto lines = log();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(JsonField(lines[0], "kind"), "tip");
    EXPECT_EQ(JsonField(lines[0], "source"), "Acm");
    EXPECT_NE(JsonField(lines[0], "text").find("has detected an improperly configured option"),
              std::string::npos);
    EXPECT_NE(JsonField(lines[0], "text").find("codecs.html or click the 'Fix info from the web'"),
              std::string::npos);
    EXPECT_NE(JsonField(lines[0], "detail").find(" | Fix info from the Web | http"),
              std::string::npos);
}

TEST_F(WaveTest, ConvertingAFileOntoItselfFailsWithoutHarm) {
    const std::string src = dir_.file("same.wav");
    const std::string original = Riff(Chunk("fmt ", kPcm8) + Chunk("data", std::string(800, 'a')));
    WriteFile(src, original);
    FormatChooser target(nullptr);
    Put(target, kGsm);
    WaveFileInfo info;
    EXPECT_NE(ConvertWaveFile(target, src, src, info), 0u);
    EXPECT_EQ(ReadFile(src), original);
}

// A source that stops giving its audio in the middle (here cut short while the conversion
// runs) fails the conversion; it never ends as a success with a short file.
class TruncatingWindow : public AudioWindow {
  public:
    explicit TruncatingWindow(std::string path) : path_(std::move(path)) {}
    void SetItemText(void*, int, const std::string& text) override {
        if (text == "10%") {
            EXPECT_EQ(truncate(path_.c_str(), 200), 0);
        }
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

  private:
    std::string path_;
};

TEST_F(WaveTest, ASourceThatFailsInTheMiddleFailsTheConversion) {
    // Ten seconds of 16-bit audio: more than the reader holds at once.
    const std::string src = dir_.file("long.wav");
    std::string pcm(160000, '\0');
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = char(i * 13);
    WriteFile(src, Riff(Chunk("fmt ", Fmt(1, 1, 8000, 16000, 2, 16)) + Chunk("data", pcm)));
    TruncatingWindow window(src);
    FormatChooser target(&window);
    Put(target, kGsm);
    InstallAudioWindow(&window);
    WaveFileInfo info;
    const DWORD result = ConvertWaveFile(target, src, dir_.file("short.wav"), info);
    InstallAudioWindow(nullptr);
    EXPECT_NE(result, 0u);
    ASSERT_FALSE(log().empty());
    EXPECT_NE(JsonField(log().back(), "text").find("failed in the middle of its audio"),
              std::string::npos);
}

// A path longer than the file routines take is refused with a report that says why.
TEST_F(WaveTest, APathTooLongIsReportedAsSuch) {
    const std::string src = dir_.file("s.wav");
    WriteFile(src, Riff(Chunk("fmt ", kPcm8) + Chunk("data", "abcd")));
    const std::string longPath = dir_.file(std::string(150, 'x') + ".wav");
    FormatChooser chooser(nullptr);
    Put(chooser, kPcm8);
    WaveFileInfo info;
    const std::vector<std::function<bool()>> calls = {
        [&] { return AcmAppFileNew(chooser, longPath, info); },
        [&] { return ConvertWaveFile(chooser, src, longPath, info) == 0; },
        [&] { return ConvertWaveFile(chooser, longPath, src, info) == 0; },
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_FALSE(calls[i]()) << i;
        const auto lines = log();
        ASSERT_EQ(lines.size(), i + 1);
        EXPECT_EQ(JsonField(lines.back(), "kind"), "report");
        EXPECT_EQ(JsonField(lines.back(), "text").rfind("path too long", 0), 0u)
            << JsonField(lines.back(), "text");
    }
}

// After a rate change the fact chunk counts the samples at the new rate.
TEST_F(WaveTest, TheFactChunkCountsTheOutputsSamples) {
    const std::string src = dir_.file("radio.wav");
    WriteFile(src, Riff(Chunk("fmt ", Fmt(1, 1, 22050, 22050, 1, 8)) +
                        Chunk("data", std::string(22050 * 3, '\x80'))));
    FormatChooser gsm(nullptr);
    Put(gsm, kGsm);
    WaveFileInfo info;
    ASSERT_EQ(ConvertWaveFile(gsm, src, dir_.file("g.wav"), info), 0u);
    ASSERT_TRUE(LoadWaveFileInfo(nullptr, info, dir_.file("g.wav")));
    EXPECT_EQ(info.sampleCount, 24000u);
    EXPECT_EQ(ConvertedSampleCount(16037, 8000, 8000), 16037u);
    EXPECT_EQ(ConvertedSampleCount(3, 22050, 8000), 1u);
}

// The wave device's reader and wioFileOpen read a file by the same rules: which format and
// which data count, in whatever order and company they come.
TEST_F(WaveTest, TheDeviceAndTheFileRoutinesReadAFileAlike) {
    const std::string pcm16k = Fmt(1, 1, 16000, 16000, 1, 8);
    const struct {
        const char* what;
        std::string bytes;
        DWORD rate;
        DWORD data;
    } cases[] = {
        {"plain", Riff(Chunk("fmt ", kPcm8) + Chunk("data", "abcd")), 8000, 4},
        {"data before fmt", Riff(Chunk("data", "abcdef") + Chunk("fmt ", kPcm8)), 8000, 6},
        {"two formats", Riff(Chunk("fmt ", kPcm8) + Chunk("fmt ", pcm16k) + Chunk("data", "ab")),
         8000, 2},
        {"other chunks",
         Riff(Chunk("LIST", "abc") + Chunk("fmt ", kPcm8) + Chunk("fact", "x") +
              Chunk("data", "abc")),
         8000, 3},
        {"an empty data first",
         Riff(Chunk("fmt ", kPcm8) + Chunk("data", "") + Chunk("data", "ab")), 8000, 2},
    };
    for (const auto& c : cases) {
        const std::string path = dir_.file("alike.wav");
        WriteFile(path, c.bytes);
        WioFile wio;
        ASSERT_EQ(wioFileOpen(&wio, path, 0), 0u) << c.what;
        const WAVEFORMATEX f = ReadWaveFormat(wio.format.data(), wio.format.size());
        EXPECT_EQ(f.nSamplesPerSec, c.rate) << c.what;
        EXPECT_EQ(wio.dataSize, c.data) << c.what;
        wioFileClose(&wio);
        WaveImage image;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
        ASSERT_EQ(ParseWave(bytes, c.bytes.size(), image), WaveReadResult::kOk) << c.what;
        EXPECT_EQ(image.format.samplesPerSec, c.rate) << c.what;
        EXPECT_EQ(image.data.size(), c.data) << c.what;
    }
}

// The edges of the one rule set, met through the file routines and through the sound device the
// player opens: both refuse the same files, both ask before reading past the RIFF end, and both
// find the same audio. Sizes are multiples of 8 bytes (1 ms of the 8 kHz format).
TEST_F(WaveTest, TheFileRoutinesAndTheDeviceKeepOneRuleSet) {
    ScopedEnv audio("KORRIN_AUDIO", "virtual");
    const std::string audio800(800, '\x80');
    // data claims 4000 bytes where the RIFF chunk and the file hold 800.
    const std::string pastEnd = Chunk("fmt ", kPcm8) + "data" + Le32(4000) + audio800;
    const std::string pastRiff = "RIFF" + Le32(DWORD(4 + pastEnd.size())) + "WAVE" + pastEnd;
    // The RIFF header claims more than the file: no question, what is there is read.
    const std::string longRiff = "RIFF" + Le32(0xFFFFFF00) + "WAVE" + pastEnd;
    const struct {
        const char* what;
        std::string bytes;
        const char* answers;
        DWORD wioCode;    // wioFileOpen's result
        DWORD dataBytes;  // when it loads: the audio both find
        int questions;    // asked by each reader
    } cases[] = {
        {"fmt over 64 KB",
         Riff(Chunk("fmt ", kPcm8 + std::string(0x10001 - 16, '\0')) + Chunk("data", audio800)), "",
         kWioNoMemory, 0, 0},
        {"fmt of 64 KB",
         Riff(Chunk("fmt ", kPcm8 + std::string(0x10000 - 16, '\0')) + Chunk("data", audio800)), "",
         0, 800, 0},
        {"fmt of 14 bytes", Riff(Chunk("fmt ", kPcm8.substr(0, 14)) + Chunk("data", audio800)), "",
         kWioNoFormat, 0, 0},
        {"fmt cut by the end of the file", "RIFF" + Le32(100) + "WAVEfmt " + Le32(16) + "short", "",
         kWioFileError, 0, 0},
        {"data past the RIFF end, loaded", pastRiff, "Yes", 0, 800, 1},
        {"data past the RIFF end, declined", pastRiff, "No", kWioDeclined, 0, 1},
        {"RIFF header past the end of the file", longRiff, "", 0, 800, 0},
        {"odd chunks padded",
         Riff(Chunk("LIST", "abc") + Chunk("fmt ", kPcm8) + Chunk("junk", "x") +
              Chunk("data", audio800 + "\x80") + Chunk("fact", Le32(7))),
         "", 0, 801, 0},
        {"odd data with its pad byte missing at the end",
         Riff(Chunk("fmt ", kPcm8) + Chunk("data", audio800 + "\x80"))
             .substr(0, 8 + 4 + 24 + 8 + 801),
         "", 0, 801, 0},
        {"no data chunk", Riff(Chunk("fmt ", kPcm8) + Chunk("fact", Le32(0))), "", kWioFileError, 0,
         0},
        {"no fmt chunk", Riff(Chunk("data", audio800)), "", kWioNoFormat, 0, 0},
    };
    auto questions = [this] {
        int n = 0;
        for (const auto& line : log())
            n += JsonField(line, "caption") == "wioFileOpen";
        return n;
    };
    for (const auto& c : cases) {
        const std::string path = dir_.file("edge.wav");
        WriteFile(path, c.bytes);
        std::remove(dir_.file("messages.log").c_str());
        // The same answer for each reader's question.
        ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", std::string(c.answers) + "," + c.answers);
        WioFile wio;
        EXPECT_EQ(wioFileOpen(&wio, path, 0), c.wioCode) << c.what;
        if (c.wioCode == 0) {
            EXPECT_EQ(wio.dataSize, c.dataBytes) << c.what;
        }
        wioFileClose(&wio);
        EXPECT_EQ(questions(), c.questions) << c.what;

        std::remove(dir_.file("messages.log").c_str());
        MciDevice device;
        const MCIERROR opened = device.Open(path);
        EXPECT_EQ(opened == 0, c.wioCode == 0) << c.what;
        if (opened == 0) {
            EXPECT_EQ(device.GetLength(0), c.dataBytes / 8) << c.what;
        }
        EXPECT_EQ(questions(), c.questions) << c.what;
    }
}

TEST(WaveDescription, CodecTextsAndTheBuiltInFallback) {
    std::string tag, text;
    const auto pcm = WaveFormatBytes(
        ReadWaveFormat(reinterpret_cast<const std::uint8_t*>(kPcm8.data()), kPcm8.size()));
    EXPECT_TRUE(GetFormatDescription(pcm.data(), pcm.size(), &tag, &text));
    EXPECT_EQ(tag + " " + text, "PCM 8,000 Hz, 8 Bit, Mono");

    const std::string four = Fmt(4, 1, 8000, 8000, 1, 8, Le16(0));
    EXPECT_FALSE(GetFormatDescription(reinterpret_cast<const std::uint8_t*>(four.data()),
                                      four.size(), &tag, &text));
    EXPECT_EQ(tag, "[4] (unknown)");
    EXPECT_EQ(text, "8.000 kHz, 8 Bit, Mono");

    const std::string tsp = Fmt(34, 2, 22050, 88200, 4, 16, Le16(0));
    EXPECT_FALSE(GetFormatDescription(reinterpret_cast<const std::uint8_t*>(tsp.data()), tsp.size(),
                                      &tag, nullptr));
    EXPECT_EQ(tag, "DSP Group TrueSpeech");
    EXPECT_FALSE(GetFormatDescription(reinterpret_cast<const std::uint8_t*>(tsp.data()), tsp.size(),
                                      nullptr, &text));
    EXPECT_EQ(text, "22.050 kHz, 16 Bit, Stereo");
    // Damaged headers: no rate, five channels.
    const std::string odd = Fmt(2, 5, 0, 100, 4, 16, Le16(0));
    EXPECT_FALSE(GetFormatDescription(reinterpret_cast<const std::uint8_t*>(odd.data()), odd.size(),
                                      nullptr, &text));
    EXPECT_EQ(text, "0.000 kHz, 0 Bit, 5 Channels");
    EXPECT_EQ(BuiltInTagName(65535), "** RESERVED DEVELOPMENT ONLY TAG **");
    EXPECT_EQ(BuiltInTagName(513), "[513] (unknown)");
}

TEST_F(WaveTest, FirstReadsStoreTheDefaultsWithTheirExactBytes) {
    FormatChooser local(nullptr), transport(nullptr);
    std::string details;
    ASSERT_EQ(local.GetFormat(kKorrinKey, details), 0);
    EXPECT_EQ(details, "PCM 8,000 Hz, 8 Bit, Mono");
    const std::vector<std::uint8_t> pcm = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F,
                                           0, 0, 1, 0, 8,    0,    0, 0, 0,    0};
    EXPECT_EQ(std::vector<std::uint8_t>(local.format(), local.format() + 20), pcm);
    EXPECT_EQ(RegValue(setting::kWaveFormat), pcm);
    const std::string text = "PCM 8,000 Hz, 8 Bit, Mono";
    EXPECT_EQ(RegValue(setting::kFormatDetails),
              std::vector<std::uint8_t>(text.c_str(), text.c_str() + text.size() + 1));

    ASSERT_EQ(transport.GetFormatTransport(kKorrinKey, details), 0);
    EXPECT_EQ(details, "GSM 6.10 8,000 Hz, Mono");
    const std::vector<std::uint8_t> gsm = {49, 0, 1,  0, 0x40, 0x1F, 0, 0, 0x59, 6,
                                           0,  0, 65, 0, 0,    0,    2, 0, 0x40, 1};
    EXPECT_EQ(RegValue(setting::kWaveFormatTransport), gsm);
}

TEST_F(WaveTest, UnreadableValuesBringBackTheDefault) {
    FormatChooser chooser(nullptr);
    std::string details;
    const std::vector<std::uint8_t> radio =
        Padded({1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x22, 0x56, 0, 0, 1, 0, 8, 0, 0, 0}, 20);
    // Format present but its text missing: both are reset.
    SetRegValue(setting::kWaveFormat, REG_BINARY, radio);
    ASSERT_EQ(chooser.GetFormat(kKorrinKey, details), 0);
    EXPECT_EQ(details, "PCM 8,000 Hz, 8 Bit, Mono");
    EXPECT_EQ(RegValue(setting::kWaveFormat)[4], 0x40);

    // A value longer than the largest format counts as unreadable.
    SetRegValue(setting::kWaveFormatTransport, REG_BINARY, Padded(radio, 21));
    SetRegValue(setting::kFormatDetailsTransport, REG_SZ, {'x', 0});
    ASSERT_EQ(chooser.GetFormatTransport(kKorrinKey, details), 0);
    EXPECT_EQ(details, "GSM 6.10 8,000 Hz, Mono");

    // A shorter stored value and its text are taken as they are.
    SetRegValue(setting::kWaveFormat, REG_BINARY,
                std::vector<std::uint8_t>(radio.begin(), radio.begin() + 18));
    SetRegValue(setting::kFormatDetails, REG_SZ, {'R', 'a', 'd', 'i', 'o', 0});
    ASSERT_EQ(chooser.GetFormat(kKorrinKey, details), 0);
    EXPECT_EQ(details, "Radio");
    EXPECT_EQ(chooser.Format().nSamplesPerSec, 22050u);

    // Writing stores the text first and the whole buffer.
    ASSERT_EQ(chooser.SetFormat(kKorrinKey, "PCM 22,050 Hz, 8 Bit, Mono"), 0);
    EXPECT_EQ(RegValue(setting::kWaveFormat).size(), 20u);

    // Without the key: reported, 1, buffer untouched.
    HKEY root = nullptr;
    RegOpenKeyEx(HKEY_LOCAL_MACHINE, "", &root);
    RegDeleteTree(root, kKorrinKey);
    RegCloseKey(root);
    FormatChooser fresh(nullptr);
    EXPECT_EQ(fresh.GetFormat(kKorrinKey, details), 1);
    EXPECT_EQ(fresh.format()[0], 0);
    ASSERT_FALSE(log().empty());
    EXPECT_EQ(
        JsonField(log().back(), "text").find("RegOpenKeyEx failed") != std::string::npos ||
            JsonField(log().back(), "detail").find("RegOpenKeyEx failed") != std::string::npos,
        true);
    EXPECT_EQ(JsonField(log().back(), "source"), "Acm");
}

TEST_F(WaveTest, ChoosingReportsFailuresAndIsSilentOnCancel) {
    FormatChooser chooser(nullptr);
    std::string details = "unchanged";
    {
        ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "Cancel");
        EXPECT_EQ(chooser.ChangeACMFormat("Choose Local Message Format", details, 1), 515u);
    }
    EXPECT_EQ(details, "unchanged");
    EXPECT_TRUE(log().empty() || JsonField(log().back(), "kind") == "formatchooser");
    // Started on GSM but restricted to PCM: the first PCM format is offered and taken.
    Put(chooser, kGsm);
    {
        ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "OK");
        EXPECT_EQ(chooser.ChangeACMFormat("Choose Local Message Format", details, 1), 0u);
    }
    EXPECT_EQ(details, "PCM 8,000 Hz, 8 Bit, Mono");
    // Mode 2 offers every format: the GSM one stays.
    Put(chooser, kGsm);
    EXPECT_EQ(chooser.ChangeACMFormat("Choose Transport Message Format", details, 2), 0u);
    EXPECT_EQ(details, "GSM 6.10 8,000 Hz, Mono");
}

TEST_F(WaveTest, AChooserFailureIsReportedWithItsText) {
    FormatChooser chooser(nullptr);
    std::string details = "unchanged";
    // A window that returns a choice outside the list fails the call.
    SetFormatChooseDialog([](const ACMFORMATCHOOSE&, const std::vector<AcmFormatTagEntry>&,
                             std::size_t& tag, std::size_t&) {
        tag = 99;
        return true;
    });
    EXPECT_EQ(chooser.ChangeACMFormat("Choose Transport Message Format", details, 2), 1u);
    SetFormatChooseDialog(nullptr);
    EXPECT_EQ(details, "unchanged");
    ASSERT_EQ(log().size(), 1u);
    EXPECT_NE(
        JsonField(log()[0], "detail").find("acmFormatChoose failed,mmr=1 - Unknown Error,Acm:"),
        std::string::npos)
        << log()[0];
}

TEST(FormatSpec, NamesListedFormatsAndAnyPcmRate) {
    WAVEFORMATEX f;
    ASSERT_TRUE(ParseFormatSpec("49:8000:0:1", f));
    EXPECT_EQ(f.nBlockAlign, 65);
    EXPECT_EQ(f.nAvgBytesPerSec, 1625u);
    ASSERT_TRUE(ParseFormatSpec("17:22050:4:2", f));
    EXPECT_EQ(f.nBlockAlign, 1024);
    ASSERT_TRUE(ParseFormatSpec("1:16000:16:2", f));
    EXPECT_EQ(f.nAvgBytesPerSec, 64000u);
    for (const char* bad :
         {"", "49:8000:0", "49:8000:0:1:", "49:11025:0:1", "17:16000:4:1", "1:8000:12:1",
          "1:999999999:16:2", "1:8000:8:1x", "+1:8000:8:1", "2:8000:4:1"})
        EXPECT_FALSE(ParseFormatSpec(bad, f)) << bad;
}

// The compression choice gets its default (no zip) only when it is missing; a stored value
// that cannot be read as a number is left for the user to see, not replaced.
TEST_F(WaveTest, TheCompressionDefaultIsStoredOnlyWhenMissing) {
    const struct {
        std::vector<std::uint8_t> stored;  // empty: missing
        DWORD type;
        DWORD read;
        std::vector<std::uint8_t> after;
    } cases[] = {
        {{}, REG_DWORD, kCompressionNone, {1, 0, 0, 0}},
        {{2, 0, 0, 0}, REG_DWORD, kCompressionZip, {2, 0, 0, 0}},
        {{2, 0, 0, 0, 9, 9, 9, 9}, REG_BINARY, kCompressionNone, {2, 0, 0, 0, 9, 9, 9, 9}},
    };
    for (const auto& c : cases) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key), ERROR_SUCCESS);
        RegDeleteValue(key, setting::kCompression);
        RegCloseKey(key);
        if (!c.stored.empty())
            SetRegValue(setting::kCompression, c.type, c.stored);
        EXPECT_EQ(ReadCompression(), c.read);
        EXPECT_EQ(RegValue(setting::kCompression), c.after);
    }
}
