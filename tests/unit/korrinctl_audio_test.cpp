// korrinctl convert and info, run as a script would.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "helpers/TestSupport.h"

using namespace korrin::test;

namespace {

std::string Le16(unsigned v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF)};
}
std::string Le32(unsigned v) {
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}
std::string Chunk(const std::string& id, const std::string& body) {
    return id + Le32(unsigned(body.size())) + body + (body.size() & 1 ? std::string(1, '\0') : "");
}
std::string Wave(const std::string& chunks) {
    return "RIFF" + Le32(unsigned(4 + chunks.size())) + "WAVE" + chunks;
}
std::string Fmt(unsigned tag, unsigned rate, unsigned avg, unsigned align, unsigned bits) {
    return Le16(tag) + Le16(1) + Le32(rate) + Le32(avg) + Le16(align) + Le16(bits);
}

class KorrinctlAudio : public RegistryTest {
  protected:
    RunResult ctl(const std::vector<std::string>& args,
                  std::map<std::string, std::string> env = {}) {
        std::vector<std::string> argv = {BuildDir() + "/korrinctl"};
        argv.insert(argv.end(), args.begin(), args.end());
        env["KORRIN_REGISTRY"] = dbPath();
        env["KORRIN_MESSAGE_LOG"] = dir_.file("messages.log");
        return korrin::test::Run(argv, env);
    }
};

}  // namespace

TEST_F(KorrinctlAudio, InfoShowsComputedSampleCountsAndUnknownTags) {
    const std::string pcm = dir_.file("pcm.wav");
    WriteFile(pcm,
              Wave(Chunk("fmt ", Fmt(1, 8000, 16000, 2, 16)) + Chunk("data", std::string(300, 0))));
    RunResult r = ctl({"info", pcm});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("sampleCount: 150\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("description: PCM 8,000 Hz, 16 Bit, Mono\n"), std::string::npos);

    const std::string four = dir_.file("four.wav");
    WriteFile(four, Wave(Chunk("fmt ", Fmt(4, 8000, 8000, 1, 8) + Le16(0)) + Chunk("data", "ab")));
    r = ctl({"info", four});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("description: [4] (unknown) 8.000 kHz, 8 Bit, Mono (no codec)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("sampleCount: 0\n"), std::string::npos);
}

TEST_F(KorrinctlAudio, AnOverrunningChunkAsksAndNoGivesWioErrorEight) {
    const std::string path = dir_.file("over.wav");
    const std::string chunks =
        Chunk("fmt ", Fmt(1, 8000, 8000, 1, 8)) + "data" + Le32(900) + std::string(10, '\x80');
    WriteFile(path, "RIFF" + Le32(unsigned(4 + chunks.size())) + "WAVE" + chunks);
    RunResult r = ctl({"info", path}, {{"KORRIN_MESSAGE_ANSWERS", "No"}, {"KORRIN_DEBUG", "1"}});
    EXPECT_EQ(r.exitCode, 1);
    const auto lines = ReadLines(dir_.file("messages.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(JsonField(lines[0], "answer"), "No");
    EXPECT_EQ(JsonField(lines[1], "text"),
              "The file '" + path + "' cannot be loaded as a wave file (wio error=8).");
    // The five trace lines come first, each with its prefix and CR LF.
    EXPECT_NE(
        r.err.find(": wioFileOpen() FILE MIGHT BE CORRUPT!\r\n:     ckRIFF.dwDataOffset: 8\r\n"
                   ":           ckRIFF.cksize: 46\r\n:         ck.dwDataOffset: 44\r\n"
                   ":               ck.cksize: 900\r\n"),
        std::string::npos)
        << r.err;
    r = ctl({"info", path}, {{"KORRIN_MESSAGE_ANSWERS", "Yes"}});
    EXPECT_EQ(r.exitCode, 0);
    // What the file holds of the 900 bytes the chunk claims.
    EXPECT_NE(r.out.find("dataSize: 10\n"), std::string::npos) << r.out;
    // Without KORRIN_DEBUG nothing is traced.
    EXPECT_EQ(r.err.find("FILE MIGHT BE CORRUPT"), std::string::npos);
}

TEST_F(KorrinctlAudio, ConvertToStoredAndNamedFormatsAndFailureKeepsTheOutput) {
    const std::string in = dir_.file("in.wav");
    std::string samples(4000, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = char(128 + ((i / 9) % 2 ? 50 : -50));
    WriteFile(in, Wave(Chunk("fmt ", Fmt(1, 8000, 8000, 1, 8)) + Chunk("data", samples)));

    RunResult r = ctl({"convert", in, dir_.file("gsm.wav"), "--to", "transport"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("(GSM 6.10 8,000 Hz, Mono)"), std::string::npos);
    r = ctl({"info", dir_.file("gsm.wav")});
    EXPECT_NE(r.out.find("dataSize: 845\n"), std::string::npos) << r.out;  // 13 blocks
    EXPECT_NE(r.out.find("sampleCount: 4000\n"), std::string::npos);

    r = ctl({"convert", dir_.file("gsm.wav"), dir_.file("radio.wav"), "--to", "1:22050:8:1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = ctl({"info", dir_.file("radio.wav")});
    EXPECT_NE(r.out.find("description: PCM 22,050 Hz, 8 Bit, Mono\n"), std::string::npos);

    // A source no codec reads: the tip, exit 3, the existing output untouched, no leftovers.
    const std::string odd = dir_.file("odd.wav");
    WriteFile(odd, Wave(Chunk("fmt ", Fmt(2, 8000, 4096, 256, 4) + Le16(0)) + Chunk("data", "xy")));
    WriteFile(dir_.file("keep.wav"), "keep");
    r = ctl({"convert", odd, dir_.file("keep.wav"), "--to", "local"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(ReadFile(dir_.file("keep.wav")), "keep");
    EXPECT_FALSE(ReadLines(dir_.file("messages.log")).empty());
    EXPECT_EQ(JsonField(ReadLines(dir_.file("messages.log")).back(), "kind"), "tip");

    EXPECT_EQ(ctl({"convert", in, dir_.file("x.wav"), "--to", "2:8000:4:1"}).exitCode, 2);
    EXPECT_EQ(ctl({"convert", in, dir_.file("x.wav")}).exitCode, 2);
}

// What lies beside OUT is never written through: the conversion goes into a new file of its
// own, so a link, a FIFO or someone's OUT.part there stays as it was, and nothing hangs.
TEST_F(KorrinctlAudio, ConvertNeverWritesThroughWhatLiesBesideTheOutput) {
    const std::string in = dir_.file("in.wav");
    WriteFile(in, Wave(Chunk("fmt ", Fmt(1, 8000, 8000, 1, 8)) +
                       Chunk("data", std::string(1600, '\x90'))));
    const std::string out = dir_.file("out.wav");
    const std::string part = out + ".part";
    const std::string target = dir_.file("target.txt");
    std::unique_ptr<FifoGuard> fifo;  // frees a reader that would hang on it
    const struct {
        const char* what;
        std::function<void()> make;
    } cases[] = {
        {"a link to another file",
         [&] {
             WriteFile(target, "precious");
             ASSERT_EQ(symlink(target.c_str(), part.c_str()), 0);
         }},
        {"a FIFO", [&] { fifo = std::make_unique<FifoGuard>(part); }},
        {"an unrelated file", [&] { WriteFile(part, "someone else's"); }},
    };
    for (const auto& c : cases) {
        std::remove(part.c_str());
        std::remove(out.c_str());
        c.make();
        const RunResult r = ctl({"convert", in, out, "--to", "49:8000:0:1"});
        EXPECT_EQ(r.exitCode, 0) << c.what << ": " << r.err;
        EXPECT_EQ(ReadFile(out).substr(0, 4), "RIFF") << c.what;
        if (std::string(c.what) == "a link to another file") {
            EXPECT_EQ(ReadFile(target), "precious");
        }
        if (std::string(c.what) == "an unrelated file") {
            EXPECT_EQ(ReadFile(part), "someone else's");
        }
        struct stat st {};
        EXPECT_EQ(lstat(part.c_str(), &st), 0) << c.what << " was removed";
        if (fifo) {
            EXPECT_FALSE(fifo->rescued()) << "the FIFO held the command";
        }
        fifo.reset();
    }
    // No temporary file is left beside the output.
    for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
        EXPECT_EQ(e.path().filename().string().find(".korrin-"), std::string::npos) << e.path();
}

// Too long a path is refused with a word on stderr, whichever of the two it is.
TEST_F(KorrinctlAudio, APathTooLongIsSaidSo) {
    const std::string in = dir_.file("in.wav");
    WriteFile(in, Wave(Chunk("fmt ", Fmt(1, 8000, 8000, 1, 8)) + Chunk("data", "ab")));
    const std::string longName = dir_.file(std::string(150, 'n') + ".wav");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"convert", in, longName, "--to", "1:8000:8:1"},
             {"convert", longName, dir_.file("o.wav"), "--to", "1:8000:8:1"}}) {
        const RunResult r = ctl(args);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_NE(r.err.find("path too long"), std::string::npos) << r.err;
    }
}
