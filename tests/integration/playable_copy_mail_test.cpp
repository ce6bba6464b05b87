// The playable copy on the wire: korrinctl send of a GSM .kx0 and of a zipped .kx1 (spoken
// by espeak-ng) to a real SMTP server, read back with Python's email package, opusinfo and
// ffprobe; the same mail without the copy when the setting is 0; a message whose audio cannot
// be decoded; korrinctl export checked by sox and ffmpeg.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "helpers/WaveSupport.h"
#include "integration/transmit/TransmitFixture.h"
#include "korrin/app/Zip.h"

using namespace korrin;
using namespace korrin::test;

namespace {

class PlayableCopyMailTest : public MailStoreTest {
  protected:
    void SetUp() override {
        MailStoreTest::SetUp();
        for (const char* tool : {"espeak-ng", "sox", "ffprobe", "opusinfo", "opusdec"})
            ASSERT_EQ(std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()), 0)
                << tool << " is needed (scripts/install-deps.sh)";
        std::filesystem::create_directory(tools_);
        for (const char* tool : {"pkzip", "pkunzip"}) {
            WriteFile(tools_ + "/" + tool, ReadFile(SourceDir() + "/resources/tools/" + tool));
            ::chmod((tools_ + "/" + tool).c_str(), 0755);
        }
        makeFolder("OUTBOX");
        startServer();
    }
    RunResult run(std::vector<std::string> argv, std::map<std::string, std::string> env = {}) {
        return korrin::test::Run(argv, env);
    }
    // 3 s of speech as GSM 6.10 at 8,000 Hz; seconds_ gets its exact length.
    std::string spokenGsm() {
        const std::string voice = dir_.file("voice.wav"), pcm = dir_.file("voice8k.wav"),
                          gsm = dir_.file("voice-gsm.wav");
        EXPECT_EQ(
            run({"/usr/bin/espeak-ng", "-w", voice, "Hello, this is a voice message."}).exitCode,
            0);
        EXPECT_EQ(run({"/usr/bin/sox", voice, "-r", "8000", "-c", "1", "-b", "16", pcm, "pad", "0",
                       "3", "trim", "0", "3"})
                      .exitCode,
                  0);
        RunResult c = run({ctl_, "convert", pcm, gsm, "--to", "transport"});
        EXPECT_EQ(c.exitCode, 0) << c.err;
        seconds_ = double(ReadWave(gsm).data.size()) / 65 * 0.040;
        return ReadFile(gsm);
    }
    // The mail's parts; the Opus part goes to opus_.
    RunResult parts(int n, const std::string& original) {
        return run(
            {kSystemPython, MailScript("opus_part.py"), mailFile(n, ".eml"), original, opus_});
    }
    double probe(const std::string& file, std::string* tags = nullptr) {
        RunResult r = run({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                           "format=duration:stream_tags:format_tags", "-of", "json", file});
        if (tags)
            *tags = r.out;
        const std::string key = "\"duration\": \"";
        const std::size_t at = r.out.find(key);
        return at == std::string::npos ? -1 : std::stod(r.out.substr(at + key.size()));
    }
    // Every `prefix` and the run after it (of `runOf`'s characters, or up to the line's end)
    // replaced by `with`.
    static std::string replaceRuns(std::string text, const std::string& prefix, const char* runOf,
                                   const std::string& with) {
        for (std::size_t at = text.find(prefix); at != std::string::npos;
             at = text.find(prefix, at + with.size())) {
            std::size_t end = at + prefix.size();
            while (end < text.size() &&
                   (runOf ? text[end] != '\0' && std::strchr(runOf, text[end]) != nullptr
                          : text[end] != '\r' && text[end] != '\n'))
                ++end;
            text.replace(at, end - at, with);
        }
        return text;
    }
    // The mail with its boundary and date made alike, and from the third part on cut away.
    std::string withoutCopy(int n) {
        std::string mail = ReadFile(mailFile(n, ".eml"));
        mail = replaceRuns(mail, "PART.BOUNDARY.MU.", "0123456789.", "B");
        mail = replaceRuns(mail, "Date: ", nullptr, "Date: D");
        const std::size_t third = mail.find("\n--B\r\nContent-type: audio/ogg");
        if (third != std::string::npos)
            mail = mail.substr(0, third + 1) + mail.substr(mail.rfind("--B--"));
        return mail;
    }

    std::string tools_ = dir_.file("tools");
    ScopedEnv windir_{"KORRIN_WINDIR", tools_};
    std::string ctl_ = BuildDir() + "/korrinctl";
    std::string opus_ = dir_.file("part.opus");
    double seconds_ = 0;
};

TEST_F(PlayableCopyMailTest, KorrinctlSendAddsAPlayableOpusPartAfterTheMessageFile) {
    const std::string gsm = spokenGsm();
    ASSERT_NEAR(seconds_, 3.0, 0.04);
    const std::string kx0 = install() + "/OUTBOX/KX5O.kx0";
    makeEnvelope(kx0, gsm, "a1@x.test", "", "Spoken subject", "Listen",
                 {2026, 12, 2, 8, 9, 30, 5, 0});
    WriteFile(dir_.file("zipped.wav"), gsm);
    ASSERT_EQ(ZipFileInPlace(dir_.file("zipped.wav")), 0);
    const std::string kx1 = install() + "/OUTBOX/KX6O.kx1";
    makeEnvelope(kx1, ReadFile(dir_.file("zipped.wav")), "a1@x.test", "", "Spoken subject",
                 "Listen", {2026, 12, 2, 8, 9, 30, 5, 0});

    int n = 0;
    for (const std::string& path : {kx0, kx1}) {
        SCOPED_TRACE(path);
        const std::string before = ReadFile(path);
        RunResult s = run({ctl_, "send", path});
        ASSERT_EQ(s.exitCode, 0) << s.err;
        EXPECT_EQ(ReadFile(path), before);
        RunResult p = parts(++n, path);
        EXPECT_EQ(JsonField(p.out, "parts"), "3") << p.out;
        EXPECT_EQ(JsonField(p.out, "defects"), "0");
        EXPECT_EQ(JsonField(p.out, "same"), "same");
        EXPECT_EQ(JsonField(p.out, "type"), "audio/ogg");
        EXPECT_EQ(JsonField(p.out, "codecs"), "opus");
        EXPECT_EQ(JsonField(p.out, "encoding"), "base64");
        EXPECT_EQ(JsonField(p.out, "last"), "yes");
        EXPECT_EQ(JsonField(p.out, "filename"), n == 1 ? "KX5O.opus" : "KX6O.opus");
        EXPECT_EQ(run({"/usr/bin/opusinfo", opus_}).exitCode, 0);
        std::string tags;
        EXPECT_NEAR(probe(opus_, &tags), seconds_, 0.04);
        for (const char* want :
             {"Spoken subject", "Jo Sender", "2026-12-08T09:30:05Z", "Korrin 6.0"})
            EXPECT_NE(tags.find(want), std::string::npos) << want << " in " << tags;
        EXPECT_LE(double(std::filesystem::file_size(opus_)) / seconds_, 2200.0);
    }
    // Nothing of the copy stays in the temporary folder.
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        EXPECT_EQ(e.path().filename().string().find("korrin-audio"), std::string::npos);

    // The setting was stored with its default on first use, so a backup carries it.
    EXPECT_NE(run({ctl_, "reg", "export"}).out.find("\"Attach Playable Copy\"=dword:00000001"),
              std::string::npos);

    // Off: the same mail as with the copy, the copy's part left out, and nothing more.
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kAttachPlayableCopy, 0), 1);
    ASSERT_EQ(run({ctl_, "send", kx0}).exitCode, 0);
    EXPECT_EQ(JsonField(parts(3, kx0).out, "parts"), "2");
    EXPECT_EQ(withoutCopy(3), withoutCopy(1));

    // On again, a transmission session makes the copies on its worker for both messages.
    ASSERT_EQ(CUtils().SetRegistryDword(kKorrinKey, setting::kAttachPlayableCopy, 1), 1);
    makeSendingFolders();
    RunResult session = run({ctl_, "outbox", "send"});
    ASSERT_EQ(session.exitCode, 0) << session.err;
    ASSERT_EQ(receivedCount(), 5);
    for (int mail : {4, 5})
        EXPECT_EQ(JsonField(parts(mail, dir_.file("zipped.wav")).out, "parts"), "3") << mail;
}

TEST_F(PlayableCopyMailTest, AudioThatCannotBeDecodedGoesWithoutTheCopyAndOneTraceLine) {
    const std::string path = install() + "/OUTBOX/KX7O.kx0";
    makeEnvelope(path, payload(5000, 3), "a1@x.test", "", "Broken", "No audio here");
    RunResult s = run({ctl_, "send", path}, {{"KORRIN_DEBUG", "1"}});
    ASSERT_EQ(s.exitCode, 0) << s.err;
    EXPECT_EQ(JsonField(parts(1, path).out, "parts"), "2");
    std::size_t lines = 0;
    for (std::size_t at = 0;
         (at = s.err.find("Playable copy not attached", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 1u) << s.err;
    EXPECT_TRUE(messageBoxTexts().empty());
}

TEST_F(PlayableCopyMailTest, ExportedOpusAndWavePlayElsewhereAtTheRightLength) {
    const std::string path = install() + "/OUTBOX/KX8O.kx0";
    makeEnvelope(path, spokenGsm(), "a1@x.test", "", "Export", "");
    const std::string opus = dir_.file("out.opus"), wave = dir_.file("out.wav"),
                      decoded = dir_.file("decoded.wav");
    for (const std::string& out : {opus, wave}) {
        RunResult r = run({ctl_, "export", path, out});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NEAR(probe(out), seconds_, 0.04) << out;
        EXPECT_EQ(run({"/usr/bin/ffmpeg", "-v", "error", "-i", out, "-f", "null", "-"}).exitCode,
                  0);
    }
    // This sox reads no Opus itself: it plays what opusdec makes of the file.
    ASSERT_EQ(run({"/usr/bin/opusdec", "--quiet", opus, decoded}).exitCode, 0);
    for (const std::string& file : {wave, decoded}) {
        RunResult d = run({"/usr/bin/sox", "--i", "-D", file});
        ASSERT_EQ(d.exitCode, 0) << d.err;
        EXPECT_NEAR(std::stod(d.out), seconds_, 0.04) << file;
    }
    RunResult bad = run({ctl_, "export", path, dir_.file("out.mp3")});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find(".opus or .wav"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("out.mp3")));
}

}  // namespace
