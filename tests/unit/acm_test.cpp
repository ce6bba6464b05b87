#include <gsm/gsm.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "helpers/TestSupport.h"
#include "platform/Endian.h"
#include "platform/acm/Acm.h"
#include "platform/seam/MessageSeam.h"

using namespace korrin::platform;
using korrin::test::ScopedEnv;

namespace {

WAVEFORMATEX Pcm(DWORD rate, WORD bits, WORD channels) {
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.wBitsPerSample = bits;
    return f;
}

WAVEFORMATEX Gsm() {
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_GSM610;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.nAvgBytesPerSec = 1625;
    f.nBlockAlign = 65;
    f.cbSize = 2;
    f.extra = {0x40, 0x01};
    return f;
}

WAVEFORMATEX G711(WORD tag) {
    WAVEFORMATEX f = Pcm(8000, 8, 1);
    f.wFormatTag = tag;
    return f;
}

WAVEFORMATEX Ima(WORD channels = 1) {
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
    f.nChannels = channels;
    f.nSamplesPerSec = 8000;
    f.nBlockAlign = static_cast<WORD>(256 * channels);
    f.nAvgBytesPerSec = 4055 * channels;
    f.wBitsPerSample = 4;
    f.cbSize = 2;
    f.extra = {0xF9, 0x01};  // 505
    return f;
}

// A voice-like test signal: two tones with a slow swell.
std::vector<std::int16_t> Tone(std::size_t frames, DWORD rate, WORD channels = 1) {
    std::vector<std::int16_t> s(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double v = (0.5 + 0.4 * std::sin(2 * M_PI * 3 * t)) *
                         (0.6 * std::sin(2 * M_PI * 440 * t) + 0.3 * std::sin(2 * M_PI * 1230 * t));
        for (WORD c = 0; c < channels; ++c)
            s[i * channels + c] = static_cast<std::int16_t>(v * 20000 * (c ? -1 : 1));
    }
    return s;
}

std::vector<std::uint8_t> Bytes16(const std::vector<std::int16_t>& s) {
    std::vector<std::uint8_t> b(s.size() * 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        StoreLE16(b.data() + 2 * i, static_cast<std::uint16_t>(s[i]));
    return b;
}

std::vector<std::int16_t> Samples16(const std::vector<std::uint8_t>& b) {
    std::vector<std::int16_t> s(b.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>(LoadLE16(b.data() + 2 * i));
    return s;
}

// Converts everything the way a caller does: pieces of `piece` source bytes, unused bytes
// offered again, then END until nothing more comes.
std::vector<std::uint8_t> Convert(const WAVEFORMATEX& from, const WAVEFORMATEX& to,
                                  const std::vector<std::uint8_t>& in, DWORD piece,
                                  DWORD outBytes = 0) {
    HACMSTREAM s = nullptr;
    EXPECT_EQ(acmStreamOpen(&s, nullptr, from, to, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
    if (!s)
        return {};
    if (!outBytes) {
        EXPECT_EQ(acmStreamSize(s, piece, &outBytes, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    }
    std::vector<std::uint8_t> src(piece), dst(outBytes), out;
    ACMSTREAMHEADER h;
    h.cbStruct = kAcmStreamHeaderSize;
    h.pbSrc = src.data();
    h.cbSrcLength = piece;
    h.pbDst = dst.data();
    h.cbDstLength = outBytes;
    EXPECT_EQ(acmStreamPrepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    std::size_t pos = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        const std::size_t n = std::min<std::size_t>(piece, in.size() - pos);
        std::memcpy(src.data(), in.data() + pos, n);
        h.cbSrcLength = static_cast<DWORD>(n);
        const bool end = pos + n >= in.size();
        EXPECT_EQ(acmStreamConvert(
                      s, &h, ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0)),
                  MMSYSERR_NOERROR);
        EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
        out.insert(out.end(), dst.begin(), dst.begin() + h.cbDstLengthUsed);
        pos += h.cbSrcLengthUsed;
        if (end && h.cbDstLengthUsed == 0)
            break;
    }
    h.cbSrcLength = piece;
    EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);
    return out;
}

double Snr(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& got,
           std::size_t skip = 0) {
    double sig = 0, noise = 0;
    for (std::size_t i = skip; i < ref.size() && i < got.size(); ++i) {
        sig += double(ref[i]) * ref[i];
        noise += (double(ref[i]) - got[i]) * (double(ref[i]) - got[i]);
    }
    return 10 * std::log10(sig / std::max(noise, 1.0));
}

}  // namespace

TEST(AcmFormats, BytesReadAndWrittenFieldByField) {
    const std::vector<std::uint8_t> gsm = WaveFormatBytes(Gsm());
    const std::vector<std::uint8_t> expected = {49, 0, 1,  0, 0x40, 0x1F, 0, 0, 0x59, 6,
                                                0,  0, 65, 0, 0,    0,    2, 0, 0x40, 0x01};
    EXPECT_EQ(gsm, expected);
    WAVEFORMATEX back = ReadWaveFormat(gsm.data(), gsm.size());
    EXPECT_EQ(WaveFormatBytes(back), gsm);
    // A 16-byte PCM chunk reads cbSize 0; a cbSize beyond the buffer takes what is there.
    WAVEFORMATEX pcm = ReadWaveFormat(gsm.data(), 16);
    EXPECT_EQ(pcm.cbSize, 0);
    WAVEFORMATEX cut = ReadWaveFormat(gsm.data(), 19);
    EXPECT_EQ(cut.cbSize, 2);
    EXPECT_EQ(cut.extra.size(), 1u);
}

TEST(AcmFormats, MetricsNamesAndTexts) {
    DWORD largest = 0;
    ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &largest), MMSYSERR_NOERROR);
    EXPECT_EQ(largest, 20u);

    struct Case {
        WAVEFORMATEX format;
        const char* tag;
        const char* text;
    } cases[] = {{Pcm(8000, 8, 1), "PCM", "8,000 Hz, 8 Bit, Mono"},
                 {Pcm(44100, 16, 2), "PCM", "44,100 Hz, 16 Bit, Stereo"},
                 {Gsm(), "GSM 6.10", "8,000 Hz, Mono"},
                 {G711(WAVE_FORMAT_ALAW), "A-Law", "8,000 Hz, 8 Bit, Mono"},
                 {G711(WAVE_FORMAT_MULAW), "u-Law", "8,000 Hz, 8 Bit, Mono"},
                 {Ima(), "IMA/DVI ADPCM", "8,000 Hz, 4 Bit, Mono"}};
    for (const Case& c : cases) {
        ACMFORMATTAGDETAILS tag;
        tag.dwFormatTag = c.format.wFormatTag;
        ASSERT_EQ(acmFormatTagDetails(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG),
                  MMSYSERR_NOERROR);
        EXPECT_STREQ(tag.szFormatTag, c.tag);
        std::vector<std::uint8_t> bytes = WaveFormatBytes(c.format);
        ACMFORMATDETAILS details;
        details.dwFormatTag = c.format.wFormatTag;
        details.pwfx = bytes.data();
        details.cbwfx = static_cast<DWORD>(bytes.size());
        ASSERT_EQ(acmFormatDetails(nullptr, &details, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_NOERROR);
        EXPECT_STREQ(details.szFormat, c.text);
    }
    ACMFORMATTAGDETAILS unknown;
    unknown.dwFormatTag = 4;
    EXPECT_EQ(acmFormatTagDetails(nullptr, &unknown, ACM_FORMATTAGDETAILSF_FORMATTAG),
              ACMERR_NOTPOSSIBLE);
}

TEST(AcmStreams, UnsupportedFormatsFailAtOpen) {
    WAVEFORMATEX msAdpcm = Pcm(8000, 4, 1);
    msAdpcm.wFormatTag = 2;
    WAVEFORMATEX pcm24 = Pcm(8000, 24, 1);
    WAVEFORMATEX gsmStereo = Gsm();
    gsmStereo.nChannels = 2;
    WAVEFORMATEX badAverage = Pcm(8000, 8, 1);
    badAverage.nAvgBytesPerSec = 0;
    // 32,772-byte blocks hold 65,537 samples, more than the 16-bit field can say: cut to 16
    // bits the field reads 1, and the average rate that goes with it is gigabytes a second.
    WAVEFORMATEX imaHuge = Ima();
    imaHuge.nSamplesPerSec = 100000;
    imaHuge.nBlockAlign = 32772;
    imaHuge.nAvgBytesPerSec = 100000u * 32772u;
    imaHuge.extra = {0x01, 0x00};
    HACMSTREAM s = nullptr;
    for (const WAVEFORMATEX& bad : {msAdpcm, pcm24, gsmStereo, badAverage, imaHuge}) {
        EXPECT_EQ(acmStreamOpen(&s, nullptr, bad, Pcm(8000, 16, 1), nullptr, 0, 0, 0),
                  ACMERR_NOTPOSSIBLE);
        EXPECT_EQ(acmStreamOpen(&s, nullptr, Pcm(8000, 16, 1), bad, nullptr, 0, 0, 0),
                  ACMERR_NOTPOSSIBLE);
        EXPECT_EQ(s, nullptr);
    }
    // Codec to codec goes through PCM inside.
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, Gsm(), Ima(), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              MMSYSERR_NOERROR);
}

TEST(AcmStreams, GsmMatchesLibgsmWavFramingByteForByte) {
    const auto tone = Tone(8000 * 3 + 100, 8000);  // not a whole number of blocks
    const auto ours = Convert(Pcm(8000, 16, 1), Gsm(), Bytes16(tone), 16000);
    ASSERT_EQ(ours.size(), (tone.size() + 319) / 320 * 65);

    gsm g = gsm_create();
    int one = 1;
    gsm_option(g, GSM_OPT_WAV49, &one);
    std::vector<std::int16_t> padded = tone;
    padded.resize(ours.size() / 65 * 320, 0);
    std::vector<std::uint8_t> ref(ours.size());
    for (std::size_t b = 0; b < ref.size() / 65; ++b) {
        gsm_encode(g, padded.data() + b * 320, ref.data() + b * 65);
        gsm_encode(g, padded.data() + b * 320 + 160, ref.data() + b * 65 + 32);
    }
    gsm_destroy(g);
    EXPECT_EQ(ours, ref);

    const auto back = Samples16(Convert(Gsm(), Pcm(8000, 16, 1), ours, 1625));
    ASSERT_EQ(back.size(), padded.size());
    EXPECT_GT(Snr(tone, back), 5.0);
}

TEST(AcmStreams, CompandingAndAdpcmRoundTrips) {
    const auto tone = Tone(8000 * 2, 8000);
    const auto pcm = Bytes16(tone);
    const struct {
        WAVEFORMATEX format;
        double minSnr;
    } cases[] = {{G711(WAVE_FORMAT_ALAW), 30}, {G711(WAVE_FORMAT_MULAW), 30}, {Ima(), 20}};
    for (const auto& c : cases) {
        const auto coded = Convert(Pcm(8000, 16, 1), c.format, pcm, 8000);
        const auto back = Samples16(Convert(c.format, Pcm(8000, 16, 1), coded, 4055));
        ASSERT_GE(back.size(), tone.size()) << c.format.wFormatTag;
        EXPECT_GT(Snr(tone, back), c.minSnr) << c.format.wFormatTag;
    }
    // Full-scale extremes keep their sign and size in both companding laws.
    const std::vector<std::int16_t> edges = {32767, -32768, 0, 1, -1, 8000, -8000};
    for (WORD tag : {WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW}) {
        const auto back =
            Samples16(Convert(G711(tag), Pcm(8000, 16, 1),
                              Convert(Pcm(8000, 16, 1), G711(tag), Bytes16(edges), 14), 7));
        ASSERT_EQ(back.size(), edges.size());
        for (std::size_t i = 0; i < edges.size(); ++i)
            EXPECT_NEAR(back[i], edges[i], std::abs(edges[i]) / 16 + 16) << tag << " " << i;
    }
}

TEST(AcmStreams, StereoImaKeepsItsChannelsApart) {
    const auto tone = Tone(4000, 8000, 2);  // right channel is the left inverted
    const auto coded = Convert(Pcm(8000, 16, 2), Ima(2), Bytes16(tone), 32000);
    EXPECT_EQ(coded.size() % 512, 0u);
    const auto back = Samples16(Convert(Ima(2), Pcm(8000, 16, 2), coded, 512 * 8));
    ASSERT_GE(back.size(), tone.size());
    EXPECT_GT(Snr(tone, back), 20.0);
}

TEST(AcmStreams, RatesBitsAndChannelsChangeThroughPcm) {
    const auto tone = Tone(8000, 8000, 2);
    // 8 kHz 16-bit stereo to 22,050 Hz 8-bit mono: one second stays one second.
    const auto out = Convert(Pcm(8000, 16, 2), Pcm(22050, 8, 1), Bytes16(tone), 32000);
    EXPECT_NEAR(double(out.size()), 22050.0, 30.0);
    // Left and right cancel in the mix: the result is near silence around 128.
    int loudest = 0;
    for (std::uint8_t b : out)
        loudest = std::max(loudest, std::abs(int(b) - 128));
    EXPECT_LE(loudest, 2);

    const auto mono = Tone(8000, 8000);
    const auto up = Samples16(Convert(Pcm(8000, 16, 1), Pcm(44100, 16, 1), Bytes16(mono), 16000));
    EXPECT_NEAR(double(up.size()), 44100.0, 50.0);
    const auto down = Samples16(Convert(Pcm(44100, 16, 1), Pcm(8000, 16, 1), Bytes16(up), 88200));
    EXPECT_NEAR(double(down.size()), 8000.0, 20.0);
    EXPECT_GT(Snr(mono, down, 200), 20.0);
}

TEST(AcmStreams, SmallOutputBuffersLoseNothing) {
    const auto tone = Tone(8000, 8000);
    const auto pcm = Bytes16(tone);
    const auto whole = Convert(Pcm(8000, 16, 1), Gsm(), pcm, 16000);
    // One block of output room per call: the rest waits in the stream.
    const auto trickle = Convert(Pcm(8000, 16, 1), Gsm(), pcm, 16000, 65);
    EXPECT_EQ(trickle, whole);
    // Odd piece sizes: the stream takes whole source blocks, the caller offers the rest again.
    const auto odd = Convert(Pcm(8000, 16, 1), Gsm(), pcm, 999);
    EXPECT_EQ(odd, whole);
}

TEST(AcmStreams, HeadersMustBePreparedAndRestored) {
    HACMSTREAM s = nullptr;
    ASSERT_EQ(acmStreamOpen(&s, nullptr, Pcm(8000, 8, 1), Gsm(), nullptr, 0, 0, 0),
              MMSYSERR_NOERROR);
    std::vector<std::uint8_t> src(8000), dst(2000);
    ACMSTREAMHEADER h;
    h.cbStruct = kAcmStreamHeaderSize;
    h.pbSrc = src.data();
    h.cbSrcLength = 8000;
    h.pbDst = dst.data();
    h.cbDstLength = 2000;
    EXPECT_EQ(acmStreamConvert(s, &h, 0), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    h.cbSrcLength = 100;
    ASSERT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamClose(s, 0), ACMERR_BUSY);
    h.cbSrcLength = 8000;
    EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);
    ACMSTREAMHEADER wrongSize = h;
    wrongSize.cbStruct = 80;
    HACMSTREAM t = nullptr;
    ASSERT_EQ(acmStreamOpen(&t, nullptr, Pcm(8000, 8, 1), Gsm(), nullptr, 0, 0, 0), 0u);
    EXPECT_EQ(acmStreamPrepareHeader(t, &wrongSize, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamClose(t, 0), MMSYSERR_NOERROR);
}

TEST(AcmChooser, ARestrictionIsReadNoFurtherThanItsSize) {
    // A 16-byte PCM restriction ends right before a page nothing may read.
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto* base = static_cast<std::uint8_t*>(map);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    const std::vector<std::uint8_t> pcm = WaveFormatBytes(Pcm(8000, 8, 1));
    std::uint8_t* restriction = base + page - 16;
    std::memcpy(restriction, pcm.data(), 16);

    std::vector<std::uint8_t> buffer(20, 0);
    ACMFORMATCHOOSE c;
    c.cbStruct = kAcmFormatChooseSize;
    c.pwfx = buffer.data();
    c.cbwfx = 20;
    c.fdwEnum = ACM_FORMATENUMF_WFORMATTAG;
    c.pwfxEnum = restriction;
    c.cbwfxEnum = 16;
    std::vector<WORD> tagsSeen;
    SetFormatChooseDialog([&](const ACMFORMATCHOOSE&, const std::vector<AcmFormatTagEntry>& list,
                              std::size_t&, std::size_t&) {
        for (const auto& e : list)
            tagsSeen.push_back(e.tag);
        return true;
    });
    EXPECT_EQ(acmFormatChoose(&c), MMSYSERR_NOERROR);
    SetFormatChooseDialog(nullptr);
    EXPECT_EQ(tagsSeen, std::vector<WORD>{WAVE_FORMAT_PCM});
    munmap(map, 2 * page);
}

TEST(AcmChooser, RestrictsStartsOnTheFormatAndAnswersFromTheScript) {
    SetFormatChooseDialog(nullptr);
    std::vector<std::uint8_t> buffer(20, 0);
    const std::vector<std::uint8_t> pcm22 = WaveFormatBytes(Pcm(22050, 8, 1));
    std::memcpy(buffer.data(), pcm22.data(), pcm22.size());
    const std::vector<std::uint8_t> onlyPcm = WaveFormatBytes(Pcm(8000, 8, 1));
    ACMFORMATCHOOSE c;
    c.cbStruct = kAcmFormatChooseSize;
    c.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    c.pwfx = buffer.data();
    c.cbwfx = 20;
    c.pszTitle = "Choose Local Message Format";
    c.fdwEnum = ACM_FORMATENUMF_WFORMATTAG;
    c.pwfxEnum = onlyPcm.data();
    c.cbwfxEnum = static_cast<DWORD>(onlyPcm.size());

    // The installed window sees only PCM and starts on the buffer's format.
    std::vector<WORD> tagsSeen;
    std::string startText;
    SetFormatChooseDialog([&](const ACMFORMATCHOOSE&, const std::vector<AcmFormatTagEntry>& list,
                              std::size_t& t, std::size_t& f) {
        for (const auto& e : list)
            tagsSeen.push_back(e.tag);
        startText = list[t].formats[f].text;
        f = 0;  // 8,000 Hz 8 bit mono
        return true;
    });
    ASSERT_EQ(acmFormatChoose(&c), MMSYSERR_NOERROR);
    EXPECT_EQ(tagsSeen, std::vector<WORD>{WAVE_FORMAT_PCM});
    EXPECT_EQ(startText, "22,050 Hz, 8 Bit, Mono");
    EXPECT_STREQ(c.szFormatTag, "PCM");
    EXPECT_STREQ(c.szFormat, "8,000 Hz, 8 Bit, Mono");
    std::vector<std::uint8_t> expected = WaveFormatBytes(Pcm(8000, 8, 1));
    expected.resize(20, 0);
    EXPECT_EQ(buffer, expected);

    SetFormatChooseDialog([](const ACMFORMATCHOOSE&, const std::vector<AcmFormatTagEntry>&,
                             std::size_t&, std::size_t&) { return false; });
    EXPECT_EQ(acmFormatChoose(&c), ACMERR_CANCELED);
    SetFormatChooseDialog(nullptr);

    // Without a window the script decides; the unrestricted list reaches GSM.
    c.fdwEnum = 0;
    c.pwfxEnum = nullptr;
    std::vector<std::uint8_t> gsm = WaveFormatBytes(Gsm());
    std::memcpy(buffer.data(), gsm.data(), gsm.size());
    {
        ScopedEnv answers("KORRIN_MESSAGE_ANSWERS", "Cancel,OK");
        EXPECT_EQ(acmFormatChoose(&c), ACMERR_CANCELED);
        ASSERT_EQ(acmFormatChoose(&c), MMSYSERR_NOERROR);
        EXPECT_STREQ(c.szFormatTag, "GSM 6.10");
        EXPECT_STREQ(c.szFormat, "8,000 Hz, Mono");
    }
    // A buffer too small for the choice, and records that are not right.
    SetFormatChooseDialog([](const ACMFORMATCHOOSE&, const std::vector<AcmFormatTagEntry>& list,
                             std::size_t& t, std::size_t& f) {
        t = list.size() - 1;  // GSM 6.10, 20 bytes
        f = 0;
        return true;
    });
    c.cbwfx = 18;
    EXPECT_EQ(acmFormatChoose(&c), ACMERR_NOTPOSSIBLE);
    SetFormatChooseDialog(nullptr);
    c.cbwfx = 20;
    c.fdwEnum = 0x1;
    EXPECT_EQ(acmFormatChoose(&c), MMSYSERR_INVALFLAG);
    c.fdwEnum = 0;
    c.cbStruct = 100;
    EXPECT_EQ(acmFormatChoose(&c), MMSYSERR_INVALPARAM);
}
