// The message window killed at random moments while it records and sends: several windows at a
// time (each its own program, offscreen, recording from the virtual sound card through the
// installation they share), each killed with SIGKILL while recording, at its Stop or during
// its Send. After all of them the Outbox holds only whole messages, and of every recording all
// but its last 10 seconds is in the Outbox or in DRAFTS.
//
// KORRIN_KILL_RUNS sets the number of killed runs (default 50).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "helpers/WaveSupport.h"
#include "korrin/app/Drafts.h"
#include "korrin/store/Folders.h"
#include "platform/Endian.h"
#include "unit/store/StoreFixture.h"

namespace korrin {
namespace {

using namespace test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRecordAtMs = 200;
constexpr int kStopAtMs = 14500;  // a recording of about 14.3 s, then Send
constexpr int kAtOnce = 12;
// The draft is renewed every 10 s while recording; the timer that does it and a loaded machine
// may add this much.
constexpr double kSlackSeconds = 1.5;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The audio of a message or draft file: the wave before its trailer, with its chunks.
struct Audio {
    bool whole = false;
    double seconds = 0;
};

Audio readAudio(const std::string& path) {
    Audio a;
    const std::string bytes = ReadFile(path);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (bytes.size() < 8)
        return a;
    const std::size_t trailer = platform::LoadLE32(p + bytes.size() - 8);
    if (bytes.size() < 8 + trailer + 12)
        return a;
    const std::size_t size = bytes.size() - 8 - trailer;
    if (bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0 ||
        platform::LoadLE32(p + 4) + 8u != size)
        return a;
    std::uint32_t rate = 0, facts = 0, data = 0, blockAlign = 0;
    std::uint16_t tag = 0;
    bool haveData = false;
    for (std::size_t at = 12; at + 8 <= size;) {
        const std::string id = bytes.substr(at, 4);
        const std::uint32_t n = platform::LoadLE32(p + at + 4);
        if (at + 8 + n > size)
            return a;  // a chunk that runs past the wave: cut short
        if (id == "fmt " && n >= 16) {
            tag = platform::LoadLE16(p + at + 8);
            rate = platform::LoadLE32(p + at + 12);
            blockAlign = platform::LoadLE16(p + at + 20);
        } else if (id == "fact" && n >= 4) {
            facts = platform::LoadLE32(p + at + 8);
        } else if (id == "data") {
            data = n;
            haveData = true;
        }
        at += 8 + n + (n & 1);
    }
    if (!haveData || rate == 0)
        return a;
    a.whole = true;
    a.seconds =
        tag == 1 ? double(data) / (blockAlign ? blockAlign : 1) / rate : double(facts) / rate;
    return a;
}

class ComposeKillTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        CUtils u;
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kName, "Ann Example"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kEmailAddress, "ann@example.org"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kSmtpHost, "127.0.0.1:1"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kAccount, "ann"), 1);
        ASSERT_EQ(u.SetRegistryString(kKorrinKey, setting::kPassword, "secret"), 1);
        ASSERT_EQ(::mkdir(dir_.file("tmp").c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(dir_.file("runs").c_str(), 0700), 0);
        const platform::PcmFormat pcm{1, 8000, 8};
        WriteWave(dir_.file("capture.wav"), pcm,
                  SegmentAudio(pcm, {{5000, 0x30}, {5000, 0xd0}, {5000, 0x50}, {5000, 0xb0}}));
        WriteWave(dir_.file("empty.wav"), pcm, {});
    }

    struct Run {
        int number = 0;
        pid_t pid = -1;
        std::int64_t killAtNs = 0;
        std::int64_t endNs = 0;
        bool killed = false;
        std::string mark() const { return "runs/" + std::to_string(number) + ".mark"; }
        std::string subject() const { return "run " + std::to_string(number); }
    };

    pid_t spawn(const Run& run) {
        const std::string program = BuildDir() + "/player_window";
        const std::string working = dir_.file("runs/V" + std::to_string(run.number) + "L.wav");
        fs::copy_file(dir_.file("empty.wav"), working);
        const std::vector<std::string> args{program,
                                            "send",
                                            working,
                                            std::to_string(kRecordAtMs),
                                            std::to_string(kStopAtMs),
                                            dir_.file(run.mark()),
                                            run.subject()};
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        return pid;
    }

    // Seconds of audio the run recorded before it stopped or was killed, by its marks.
    double recorded(const Run& run) {
        std::istringstream marks(ReadFile(dir_.file(run.mark())));
        std::int64_t record = 0, stop = 0;
        for (std::string what; marks >> what;) {
            std::int64_t ns = 0;
            marks >> ns;
            (what == "record" ? record : stop) = ns;
        }
        if (record == 0)
            return 0;
        return double((stop ? stop : run.endNs) - record) / 1e9;
    }

    ScopedEnv tmpdir_{"TMPDIR", dir_.file("tmp")};
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.file("tmp")};
    ScopedEnv audio_{"KORRIN_AUDIO", "virtual"};
    ScopedEnv mixer_{"KORRIN_MIXER", "virtual"};
    ScopedEnv capture_{"KORRIN_AUDIO_CAPTURE", dir_.file("capture.wav")};
    ScopedEnv platform_{"QT_QPA_PLATFORM", "offscreen"};
};

TEST_F(ComposeKillTest, KilledWhileRecordingOrSendingKeepsAllButTheLastTenSeconds) {
    const int runs = KillRuns(50);
    std::mt19937 random(std::random_device{}());
    // Kills anywhere from the start to just after Send, and more of them about Stop and Send,
    // where the recording is saved, converted and filed.
    std::uniform_real_distribution<double> anywhere(0.3, kStopAtMs / 1000.0 + 0.5);
    std::uniform_real_distribution<double> aboutSend(kStopAtMs / 1000.0 - 0.1,
                                                     kStopAtMs / 1000.0 + 0.8);
    std::vector<Run> all;
    std::vector<Run*> running;
    all.reserve(runs);
    int started = 0;
    while (started < runs || !running.empty()) {
        while (started < runs && int(running.size()) < kAtOnce) {
            Run run;
            run.number = ++started;
            const double at = (started % 5 < 3) ? anywhere(random) : aboutSend(random);
            run.pid = spawn(run);
            ASSERT_GT(run.pid, 0);
            run.killAtNs = nowNs() + std::int64_t(at * 1e9);
            all.push_back(run);
            running.push_back(&all.back());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (auto it = running.begin(); it != running.end();) {
            Run& run = **it;
            int status = 0;
            if (::waitpid(run.pid, &status, WNOHANG) == run.pid) {
                run.endNs = run.endNs ? run.endNs : nowNs();
                it = running.erase(it);
                continue;
            }
            if (!run.killed && nowNs() >= run.killAtNs) {
                run.endNs = nowNs();
                ::kill(run.pid, SIGKILL);
                run.killed = true;
            }
            ++it;
        }
    }

    // What the installation holds: subject -> seconds of audio, for the Outbox and DRAFTS.
    std::multimap<std::string, double> filed, drafted;
    std::vector<std::string> kx0, kx1;
    ASSERT_EQ(FindMessageFiles(kOutbox, &kx0, &kx1), 0);
    EXPECT_TRUE(kx1.empty());
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder("OUTBOX"), ec)) {
        const std::string path = entry.path().string();
        const std::string name = entry.path().filename().string();
        // Only message files: nothing half written under another name either.
        EXPECT_TRUE(name.rfind("KX", 0) == 0 && name.size() > 6 &&
                    name.substr(name.size() - 5) == "O.kx0")
            << name;
        CMessageTrailer t;
        EXPECT_EQ(t.ReadForSending(path, true, false), 0) << name;
        const Audio audio = readAudio(path);
        EXPECT_TRUE(audio.whole) << name;
        filed.emplace(t.subject, audio.seconds);
    }
    for (const auto& entry : fs::directory_iterator(folder("DRAFTS"), ec)) {
        if (entry.path().extension() != ".kx0")
            continue;  // locks, and the half-made replacements of a killed renewal
        const std::string path = entry.path().string();
        SendEnvelope envelope;
        EXPECT_EQ(ReadDraftEnvelope(path, &envelope), 0) << path;
        const Audio audio = readAudio(path);
        EXPECT_TRUE(audio.whole) << path;
        drafted.emplace(envelope.subject, audio.seconds);
    }

    int killed = 0, longOnes = 0;
    for (const Run& run : all) {
        SCOPED_TRACE(run.subject());
        killed += run.killed;
        const double made = recorded(run);
        double kept = 0;
        for (const auto* place : {&filed, &drafted}) {
            auto [from, to] = place->equal_range(run.subject());
            for (auto it = from; it != to; ++it)
                kept = std::max(kept, it->second);
        }
        EXPECT_LE(filed.count(run.subject()), 1u) << "sent once at most";
        if (!run.killed) {
            EXPECT_EQ(filed.count(run.subject()), 1u) << "a run that ended sent its message";
        }
        if (made > 10.0 + kSlackSeconds)
            ++longOnes;
        EXPECT_GE(kept, made - 10.0 - kSlackSeconds) << "recorded " << made << " s";
        EXPECT_LE(kept, made + kSlackSeconds) << "recorded " << made << " s";
    }
    std::printf("%d runs, %d killed, %d recorded over %.1f s, %zu filed, %zu drafts left\n", runs,
                killed, longOnes, 10.0 + kSlackSeconds, filed.size(), drafted.size());
    // Runs killed about Send may have filed and ended first (quickly, on an idle machine).
    EXPECT_GE(killed, runs / 2) << "most runs were killed, not ended";
    EXPECT_GT(longOnes, 0) << "some runs recorded past the first renewal of their draft";
}

}  // namespace
}  // namespace korrin
