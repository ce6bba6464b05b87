// korrinctl compose run as a user would, from spoken audio to a message filed in the Outbox,
// read back, decoded by sox, unpacked by unzip and delivered to a real SMTP server; and the
// faults on the way, after each of which the input is untouched, nothing is half filed or
// left behind, and the same command works once the fault is gone.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "helpers/SmtpServer.h"
#include "helpers/WaveSupport.h"
#include "korrin/app/Send.h"
#include "korrin/audio/Zip.h"
#include "platform/Endian.h"
#include "unit/store/StoreFixture.h"

namespace korrin {
namespace {

using namespace test;
namespace fs = std::filesystem;

std::vector<std::string> filesUnder(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (!it->is_directory())
            out.push_back(it->path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The payload of a message file: everything before its trailer.
std::string payloadOf(const std::string& message) {
    const std::string bytes = ReadFile(message);
    if (bytes.size() < 8)
        return {};
    const auto length =
        platform::LoadLE32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size() - 8);
    return bytes.size() < 8u + length ? std::string() : bytes.substr(0, bytes.size() - 8 - length);
}

double soxSeconds(const std::string& wave) {
    RunResult r = test::Run({"/usr/bin/soxi", "-D", wave});
    return r.exitCode == 0 ? std::atof(r.out.c_str()) : -1;
}

class ComposeTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(::mkdir(tools().c_str(), 0700), 0);
        for (const char* tool : {"pkzip", "pkunzip"})
            fs::copy_file(SourceDir() + "/resources/tools/" + tool, tools() + "/" + tool);
        ASSERT_EQ(::mkdir(temp().c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(home().c_str(), 0700), 0);
        CUtils u;
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kName, "Ann Example"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kEmailAddress, "ann@example.org"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kSmtpHost, "127.0.0.1:1"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kAccount, "ann"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kPassword, "secret"), 1);
        RunResult speech =
            test::Run({"/usr/bin/espeak-ng", "-w", voice(),
                       "This is a voice message for the test of sending. It is spoken "
                       "slowly enough to last a few seconds."});
        ASSERT_EQ(speech.exitCode, 0) << speech.err;
        voiceBytes_ = ReadFile(voice());
    }

    std::string tools() const { return dir_.file("tools"); }
    std::string temp() const { return dir_.file("tmp"); }
    std::string home() const { return dir_.file("home"); }
    std::string voice() const { return dir_.file("voice.wav"); }

    RunResult ctl(const std::vector<std::string>& args,
                  std::map<std::string, std::string> env = {}) {
        std::vector<std::string> argv{BuildDir() + "/korrinctl"};
        argv.insert(argv.end(), args.begin(), args.end());
        env.emplace("KORRIN_WINDIR", tools());
        env.emplace("TMPDIR", temp());
        env.emplace("HOME", home());
        env.emplace("KORRIN_MESSAGE_LOG", logPath());
        return test::Run(argv, env);
    }
    RunResult compose(std::vector<std::string> extra = {},
                      std::map<std::string, std::string> env = {}) {
        std::vector<std::string> args{"compose", "--to",   "bob@example.org",    "--subject",
                                      "Hello",   "--note", "line one\nline two", "--wave",
                                      voice()};
        args.insert(args.end(), extra.begin(), extra.end());
        return ctl(args, std::move(env));
    }

    // The message files of the Outbox (a session's lock file is no message).
    std::vector<std::string> outbox() const {
        std::vector<std::string> out;
        for (const auto& path : filesUnder(folder("OUTBOX")))
            if (fs::path(path).extension() == ".kx0" || fs::path(path).extension() == ".kx1")
                out.push_back(path);
        return out;
    }

    // What holds after every run, whatever its end: the input as it was and no work files.
    void expectNothingLeft() {
        EXPECT_EQ(ReadFile(voice()), voiceBytes_);
        EXPECT_EQ(filesUnder(temp()), std::vector<std::string>{});
    }

    std::string voiceBytes_;
};

TEST_F(ComposeTest, SpokenAudioIsFiledReadAndDelivered) {
    RunResult r = compose();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectNothingLeft();
    const std::string filed = r.out.substr(0, r.out.find('\n'));
    ASSERT_EQ(outbox(), std::vector<std::string>{filed});
    EXPECT_TRUE(fs::path(filed).filename().string().rfind("KX", 0) == 0);
    EXPECT_EQ(fs::path(filed).extension(), ".kx0");

    RunResult show = ctl({"show", filed});
    ASSERT_EQ(show.exitCode, 0) << show.err;
    for (const char* part :
         {"\"subject\": \"Hello\"", "\"toAddresses\": \"bob@example.org\"",
          "\"senderName\": \"Ann Example\"", "\"note\": \"line one\\r\\nline two\""})
        EXPECT_NE(show.out.find(part), std::string::npos) << part << "\n" << show.out;

    // GSM that sox decodes, as long as what was spoken.
    WriteFile(dir_.file("payload.wav"), payloadOf(filed));
    RunResult info = test::Run({"/usr/bin/soxi", "-e", dir_.file("payload.wav")});
    EXPECT_NE(info.out.find("GSM"), std::string::npos) << info.out << info.err;
    const double spoken = soxSeconds(voice());
    ASSERT_GT(spoken, 2.0);
    EXPECT_NEAR(soxSeconds(dir_.file("payload.wav")), spoken, 0.1);
    EXPECT_EQ(test::Run({"/usr/bin/sox", dir_.file("payload.wav"), "-n"}).exitCode, 0);

    const std::string received = dir_.file("received");
    ASSERT_EQ(::mkdir(received.c_str(), 0700), 0);
    SmtpServer server(received);
    ASSERT_GT(server.port(), 0);
    ASSERT_EQ(CUtils().SetRegistryString(kKorrinKey, setting::kSmtpHost,
                                         "127.0.0.1:" + std::to_string(server.port())),
              1);
    RunResult sent = ctl({"outbox", "send"});
    EXPECT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    EXPECT_EQ(outbox(), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(received + "/mail1.eml"));
    EXPECT_NE(ReadFile(received + "/mail1.json").find("bob@example.org"), std::string::npos);
}

TEST_F(ComposeTest, ZippedPresetGivesAnArchiveOfOneWaveFile) {
    ASSERT_TRUE(StoreQualityFormats(kQualityTelephone));
    CUtils().SetRegistryDword(kKorrinKey, setting::kQuality, kQualityTelephone);
    WriteCompression(kCompressionZip);
    RunResult r = compose();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectNothingLeft();
    const std::string filed = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(fs::path(filed).extension(), ".kx1");
    const std::string archive = dir_.file("payload.zip");
    WriteFile(archive, payloadOf(filed));
    EXPECT_EQ(test::Run({"/usr/bin/unzip", "-t", archive}).exitCode, 0);
    RunResult list = test::Run({"/usr/bin/unzip", "-Z1", archive});
    ASSERT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "V1L.wav\n");
    EXPECT_EQ(ctl({"show", filed}).exitCode, 0);
}

// Each fault: Send stops or fails with its text, the input and every file already there stay as
// they were, nothing of the message is left; then the fault goes and the same command works.
TEST_F(ComposeTest, FaultsLoseNothingAndPassOnceMended) {
    struct Fault {
        const char* name;
        std::function<void()> make;
        std::function<void()> mend;
        int exitCode;        // while the fault is there
        const char* report;  // a text of the message log, "" for none
        std::map<std::string, std::string> env;
    };
    const std::string outboxDir = folder("OUTBOX");
    const std::string dotted = dir_.file("tmp.d/x.y");
    CUtils u;
    const std::vector<Fault> faults = {
        {"a plain file in the Outbox's place",
         [&] { WriteFile(outboxDir, "not a folder"); },
         [&] { fs::remove(outboxDir); },
         3,
         "MoveFile failed",
         {}},
        {"no packer",
         [&] {
             StoreQualityFormats(kQualityRadio);
             u.SetRegistryDword(kKorrinKey, setting::kQuality, kQualityRadio);
             WriteCompression(kCompressionZip);
             fs::remove(tools() + "/pkzip");
         },
         [&] { fs::copy_file(SourceDir() + "/resources/tools/pkzip", tools() + "/pkzip"); },
         1,
         "Can't find PKZIP.exe",
         {}},
        {"a failing packer",
         [&] {
             StoreQualityFormats(kQualityRadio);
             u.SetRegistryDword(kKorrinKey, setting::kQuality, kQualityRadio);
             WriteCompression(kCompressionZip);
             fs::remove(tools() + "/pkzip");
             WriteFile(tools() + "/pkzip", "#!/bin/sh\necho partial > \"$1\"\nexit 12\n");
             fs::permissions(tools() + "/pkzip", fs::perms::owner_all);
         },
         [&] {
             fs::remove(tools() + "/pkzip");
             fs::copy_file(SourceDir() + "/resources/tools/pkzip", tools() + "/pkzip");
         },
         3,
         "_open file failed",
         {}},
        {"a failing conversion",
         [&] {
             // A transport format no codec makes.
             const std::vector<std::uint8_t> mp3{0x55, 0, 1, 0, 0x40, 0x1f, 0, 0, 0xe8,
                                                 3,    0, 0, 1, 0,    0,    0, 0, 0};
             platform::RegKeyGuard key;
             ASSERT_EQ(platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, key.out()),
                       platform::ERROR_SUCCESS);
             ASSERT_EQ(platform::RegSetValueEx(key.get(), setting::kWaveFormatTransport,
                                               platform::REG_BINARY, mp3.data(), DWORD(mp3.size())),
                       platform::ERROR_SUCCESS);
         },
         [&] { ASSERT_TRUE(StoreQualityFormats(kQualityNetPhone)); },
         3,
         "Could not convert for transport.",
         {}},
        {"no install folder setting",
         [&] { u.SetRegistryString(kInstallKey, kInstallDirValue, ""); },
         [&] { u.SetRegistryString(kInstallKey, kInstallDirValue, install()); },
         1,
         "GetRegistryString failed.",
         {}},
        {"a dotted temporary folder",
         [&] { fs::create_directories(dotted); },
         [] {},
         0,
         "",
         {{"TMPDIR", dotted}}},
        {"a taken Outbox name",
         [&] {
             u.SetRegistryDword(kKorrinKey, setting::kFileId, 41);
             makeFolder("OUTBOX");
             WriteFile(outboxDir + "/KX42O.kx0", "someone else's message");
         },
         [] {},
         0,
         "",
         {}},
        {"Bcc declined", [] {}, [] {}, 1, kBccNotKeptText, {{"KORRIN_MESSAGE_ANSWERS", "No"}}},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        fs::remove_all(outboxDir);
        fs::remove(logPath());
        f.make();
        const auto before = outbox();
        std::map<std::string, std::string> before_bytes;
        for (const auto& p : before)
            before_bytes[p] = ReadFile(p);
        std::vector<std::string> extra;
        if (std::string(f.name) == "Bcc declined")
            extra = {"--bcc", "eve@example.org"};
        RunResult r = compose(extra, f.env);
        EXPECT_EQ(r.exitCode, f.exitCode) << r.out << r.err;
        EXPECT_EQ(ReadFile(voice()), voiceBytes_);
        EXPECT_EQ(filesUnder(temp()), std::vector<std::string>{});
        if (f.env.count("TMPDIR")) {
            EXPECT_EQ(filesUnder(f.env.at("TMPDIR")), std::vector<std::string>{});
        }
        for (const auto& [path, bytes] : before_bytes)
            EXPECT_EQ(ReadFile(path), bytes) << path;
        if (*f.report) {
            EXPECT_NE(ReadFile(logPath()).find(f.report), std::string::npos) << ReadFile(logPath());
        }
        if (f.exitCode != 0) {
            if (fs::is_directory(outboxDir)) {
                EXPECT_EQ(outbox(), before);
            }
            f.mend();
            r = compose(extra, {{"KORRIN_MESSAGE_ANSWERS", "Yes"}});
            EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        }
        expectNothingLeft();
        const std::string filed = r.out.substr(0, r.out.find('\n'));
        EXPECT_TRUE(fs::exists(filed)) << filed;
        EXPECT_EQ(outbox().size(), before.size() + 1);
        if (std::string(f.name) == "a taken Outbox name") {
            EXPECT_EQ(fs::path(filed).filename(), "KX43O.kx0");
        }
        // Back to the plain presets for the next case.
        StoreQualityFormats(kQualityNetPhone);
        u.SetRegistryDword(kKorrinKey, setting::kQuality, kQualityNetPhone);
    }
}

// The AOL transport through the file dialog's seam: Cancel asks whether to delete (No: the
// dialog again), a typed extension gives way to the kind's, an existing file is replaced only
// on Yes, and Cancel then Yes drops the message.
TEST_F(ComposeTest, AolSavesUnderTheKindsExtensionAndAsksBeforeReplacing) {
    const std::string answers = dir_.file("answers.txt");
    const std::string chosen = home() + "/MyAOLFiles/for bob.txt";
    WriteFile(answers, "Cancel\n" + chosen + "\n");
    RunResult r = compose({"--transport", "aol"},
                          {{"KORRIN_FILE_ANSWERS", answers}, {"KORRIN_MESSAGE_ANSWERS", "No"}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string saved = home() + "/MyAOLFiles/for bob.kx0";
    EXPECT_EQ(r.out, saved + "\n");
    EXPECT_FALSE(fs::exists(chosen));
    EXPECT_NE(ReadFile(logPath()).find("AOL file saved as: " + saved), std::string::npos);
    EXPECT_EQ(CUtils().GetSettingString(setting::kAolPath), saved);
    EXPECT_EQ(ctl({"show", saved}).exitCode, 0);
    expectNothingLeft();

    // The stored name is offered again; saving over it is asked, and No keeps it.
    const std::string first = ReadFile(saved);
    WriteFile(answers, saved + "\nCancel\n");
    fs::remove(logPath());
    r = compose({"--transport", "aol", "--subject", "Second"},
                {{"KORRIN_FILE_ANSWERS", answers}, {"KORRIN_MESSAGE_ANSWERS", "No,Yes"}});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(ReadFile(saved), first);
    const std::string log = ReadFile(logPath());
    EXPECT_NE(log.find("\"text\":\"" + saved + "\""), std::string::npos) << log;
    EXPECT_NE(log.find("already exists"), std::string::npos);
    EXPECT_NE(log.find("Are you sure you want to delete it?"), std::string::npos);
    EXPECT_EQ(filesUnder(home() + "/MyAOLFiles"), std::vector<std::string>{saved});
    expectNothingLeft();

    // --out answers the dialog; a stored "AOL Path" with format characters is only a name.
    CUtils().SetRegistryString(kKorrinKey, setting::kAolPath, home() + "/%s%n%s.kx1");
    r = compose({"--transport", "aol", "--out", home() + "/third.kx1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, home() + "/third.kx0\n");
    EXPECT_NE(ReadFile(logPath()).find(home() + "/%s%n%s.kx0"), std::string::npos);
}

// Cancel reaches into the long steps of Send: a ten-minute recording stops converting within a
// second of audio, and a packer that never ends is ended; either way nothing of the message
// is left, the recording is as it was and nothing is filed or reported.
TEST_F(ComposeTest, CancelStopsTheConversionAndThePackerMidwayAndLeavesNothing) {
    ScopedEnv windir{"KORRIN_WINDIR", tools()};
    ScopedEnv tmpdir{"TMPDIR", temp()};
    ScopedEnv homeDir{"HOME", home()};
    const platform::PcmFormat pcm{1, 8000, 8};
    const std::string working = dir_.file("V7L.wav");
    WriteWave(working, pcm, SegmentAudio(pcm, {{300000, 0x30}, {300000, 0xc0}}));
    const std::string workingBytes = ReadFile(working);
    const std::string pidFile = dir_.file("packer.pid");

    struct Case {
        const char* name;
        bool zipped;
        // True once the step to cancel is well under way.
        std::function<bool()> underWay;
    };
    auto convertedBytes = [&] {
        std::uintmax_t most = 0;
        std::error_code gone;  // a file listed may be removed before it is measured
        for (const auto& path : filesUnder(temp()))
            if (fs::path(path).extension() == ".wav")
                if (const auto size = fs::file_size(path, gone); !gone)
                    most = std::max(most, size);
        return most;
    };
    const Case cases[] = {
        {"converting", false, [&] { return convertedBytes() > 64 * 1024; }},
        {"packing", true, [&] { return fs::exists(pidFile); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(logPath());
        if (c.zipped) {
            StoreQualityFormats(kQualityRadio);
            CUtils().SetRegistryDword(kKorrinKey, setting::kQuality, kQualityRadio);
            WriteCompression(kCompressionZip);
            fs::remove(tools() + "/pkzip");
            // A packer that starts its archive and then never ends.
            WriteFile(tools() + "/pkzip",
                      "#!/bin/sh\n: > \"$1\"\necho $$ > " + pidFile + "\nexec sleep 60\n");
            fs::permissions(tools() + "/pkzip", fs::perms::owner_all);
        }
        CSendJob job(nullptr, working, SendEnvelope{"bob@example.org", "", "", "Long", ""});
        ASSERT_EQ(job.Check(600000), send::kDone);
        std::atomic<bool> cancel{false};
        std::vector<SendStage> stages;
        SendProgress progress;
        progress.stage = [&](SendStage s) { stages.push_back(s); };
        progress.cancel = &cancel;
        std::atomic<bool> done{false};
        // The converted copy's size is watched to the end: it must stop growing well short of
        // the ten minutes (about 975 kB of GSM).
        std::uintmax_t largest = 0;
        std::thread watcher([&] {
            while (!done && !c.underWay())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            cancel = true;
            while (!done) {
                largest = std::max(largest, convertedBytes());
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        const int result = job.Build(progress);
        done = true;
        watcher.join();
        EXPECT_EQ(result, send::kCancelled);
        if (!c.zipped) {
            EXPECT_LT(largest, 400u * 1024) << "the conversion went on after Cancel";
        }
        EXPECT_EQ(stages.back(), c.zipped ? SendStage::kPacking : SendStage::kConverting);
        EXPECT_EQ(filesUnder(temp()), std::vector<std::string>{});
        EXPECT_EQ(ReadFile(working), workingBytes);
        EXPECT_EQ(outbox(), std::vector<std::string>{});
        EXPECT_EQ(reports(), std::vector<std::string>{});
        if (c.zipped) {
            const pid_t packer = std::atoi(ReadFile(pidFile).c_str());
            ASSERT_GT(packer, 0);
            // Reaped in the background once killed.
            for (int i = 0; i < 500 && ::kill(packer, 0) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_NE(::kill(packer, 0), 0) << "the packer was ended";
        }
    }
}

TEST_F(ComposeTest, MapiAndBadUsageStopBeforeAnything) {
    CUtils().SetRegistryDword(kKorrinKey, setting::kTransport, 3);
    RunResult r = compose();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(ReadFile(logPath()).find("Mapi Support Not Loaded"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder("OUTBOX")));
    expectNothingLeft();

    EXPECT_EQ(ctl({"compose", "--to", "x"}).exitCode, 2);
    EXPECT_EQ(compose({"--transport", "pigeon"}).exitCode, 2);
    EXPECT_EQ(compose({"--out", dir_.file("x.kx0")}).exitCode, 2);
    r = ctl({"compose", "--to", "", "--wave", voice(), "--transport", "smtp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(ReadFile(logPath()).find("You must specify a recipient"), std::string::npos);
    r = ctl({"compose", "--to", "bob", "--wave", dir_.file("missing.wav"), "--transport", "smtp"});
    EXPECT_EQ(r.exitCode, 3);
    expectNothingLeft();
}

}  // namespace
}  // namespace korrin
