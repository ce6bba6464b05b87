// The message window stays responsive while it sends a 10-minute recording: a 10 ms timer in
// the window's thread measures the longest gap between its ticks from the Send command until
// the window has filed the message. The recording is imported into the composer first (so
// Send also saves it), then Send runs as a user starts it: the checks, the save, the
// conversion on its worker behind the progress window, and the store request.
//
// Counters: max_gap_ms (the longest the event loop went without turning; the goal is at most
// 100 ms), within_goal (1 or 0) and ticks; each Send's own figures go to standard error. A run
// that files nothing ends with an error. Default presets (GSM, .kx0) and the zipped preset (.kx1,
// the packer's launcher from resources/tools).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/Zip.h"
#include "korrin/store/Folders.h"
#include "korrin/store/Trailer.h"
#include "korrin/ui/FormatChoose.h"
#include "korrin/ui/Player.h"
#include "korrin/ui/ReportDlg.h"
#include "platform/Endian.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialog.h"

using namespace korrin;
namespace fs = std::filesystem;

namespace {

constexpr int kProbeMs = 10;
constexpr double kGoalMs = 100;

class Owner : public PlayerOwner {
  public:
    QWidget* OwnerWindow() override { return nullptr; }
    void OnOwnerCommand(int) override {}
    bool& MapiLoaded() override { return loaded_; }
    bool& MapiStarted() override { return started_; }
    void MarkOutboxOutOfDate() override {}

  private:
    bool loaded_ = false;
    bool started_ = false;
};

// A PCM wave file, 8 kHz 8-bit mono (the local format).
void writeWave(const std::string& path, const std::vector<std::uint8_t>& data) {
    std::uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0,   0,   'W', 'A', 'V', 'E', 'f', 'm', 't',
                          ' ', 16,  0,   0,   0, 1, 0,   1,   0,   0,   0,   0,   0,   0,   0,
                          0,   0,   1,   0,   8, 0, 'd', 'a', 't', 'a', 0,   0,   0,   0};
    platform::StoreLE32(h + 4, std::uint32_t(36 + data.size()));
    platform::StoreLE32(h + 24, 8000);
    platform::StoreLE32(h + 28, 8000);
    platform::StoreLE32(h + 40, std::uint32_t(data.size()));
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(h), sizeof h);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// A registry, an installation and a 10-minute recording under /tmp for the whole run.
struct Setup {
    std::string root;
    std::string recording;
    std::string answers;

    Setup() {
        char pattern[] = "/tmp/korrin-stall-XXXXXX";
        root = ::mkdtemp(pattern);
        for (const char* d : {"install", "tools", "tmp"})
            fs::create_directories(root + "/" + d);
        ::setenv("KORRIN_REGISTRY", (root + "/registry.db").c_str(), 1);
        ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);
        ::setenv("KORRIN_WINDIR", (root + "/tools").c_str(), 1);
        ::setenv("KORRIN_AUDIO", "virtual", 1);
        ::setenv("KORRIN_MIXER", "virtual", 1);
        ::setenv("KORRIN_MESSAGE_LOG", (root + "/messages.log").c_str(), 1);
        ::setenv("KORRIN_MESSAGE_ANSWERS", "", 1);
        answers = root + "/answers";
        for (const char* tool : {"pkzip", "pkunzip"})
            fs::copy_file(std::string(KORRIN_SOURCE_DIR) + "/resources/tools/" + tool,
                          root + "/tools/" + tool);
        for (const char* key : {kKorrinKey, kInstallKey}) {
            platform::RegKeyGuard k;
            platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, key, k.out());
        }
        CUtils u;
        u.SetRegistryString(kInstallKey, kInstallDirValue, root + "/install");
        u.SetRegistryString(kKorrinKey, setting::kName, "Bench");
        u.SetRegistryString(kKorrinKey, setting::kEmailAddress, "bench@example.org");
        u.SetRegistryString(kKorrinKey, setting::kSmtpHost, "127.0.0.1:1");
        u.SetRegistryString(kKorrinKey, setting::kAccount, "bench");
        u.SetRegistryString(kKorrinKey, setting::kPassword, "bench");
        // Noise that wanders like a voice: as hard on the coder as speech.
        std::vector<std::uint8_t> data(8000u * 600);
        std::uint32_t seed = 12345;
        int level = 128;
        for (auto& sample : data) {
            seed = seed * 1664525u + 1013904223u;
            level += int(seed >> 28) - 8;
            level = std::clamp(level, 40, 216);
            sample = std::uint8_t(level);
        }
        recording = root + "/recording.wav";
        writeWave(recording, data);
    }
    ~Setup() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

void BM_SendTenMinutesWindowStaysResponsive(benchmark::State& state) {
    Setup& s = setup();
    const bool zipped = state.range(0) != 0;
    StoreQualityFormats(zipped ? kQualityTelephone : kQualityNetPhone);
    CUtils().SetRegistryDword(kKorrinKey, setting::kQuality,
                              zipped ? kQualityTelephone : kQualityNetPhone);
    WriteCompression(zipped ? kCompressionZip : 0);
    double worst = 0;
    std::int64_t ticks = 0;
    int number = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string working = s.root + "/tmp/V" + std::to_string(++number) + "L.wav";
        writeWave(working, {});
        // A fresh answers file each time: the seam works through one file once.
        const std::string answers = s.answers + std::to_string(number);
        std::ofstream(answers) << s.recording << "\n";
        ::setenv("KORRIN_FILE_ANSWERS", answers.c_str(), 1);
        // The Outbox of an installation in use: there already, emptied of earlier runs.
        const std::string outbox = s.root + "/install/OUTBOX";
        std::error_code ec;
        fs::remove_all(outbox, ec);
        fs::create_directories(outbox);
        state.ResumeTiming();

        Owner owner;
        CMessageTrailer record;
        record.subject = "Bench";
        CPlayer player(&owner, working, record, kModeCompose, kKindNew);
        QElapsedTimer clock;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(kProbeMs);
        qint64 last = 0;
        double longest = 0;
        qint64 longestEnd = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            if (double(now - last) > longest)
                longestEnd = now;
            longest = std::max(longest, double(now - last));
            last = now;
            ++ticks;
        });
        QTimer::singleShot(0, &player, [&] {
            player.OnCommand(CPlayer::kImport);
            platform::SetDlgItemText(&player, CPlayer::kToId, QStringLiteral("bob@example.org"));
            clock.start();
            probe.start();
            player.OnCommand(CPlayer::kSend);
            if (double(clock.elapsed() - last) > longest)
                longestEnd = clock.elapsed();
            longest = std::max(longest, double(clock.elapsed() - last));
            std::fprintf(stderr, "  Send took %lld ms; longest gap %.0f ms, ending %lld ms in\n",
                         static_cast<long long>(clock.elapsed()), longest,
                         static_cast<long long>(longestEnd));
            probe.stop();
            if (player.isRunning())
                player.EndDialog(-1);
        });
        const int result = player.DoModal();
        worst = std::max(worst, longest);
        if (result != 0 || !fs::exists(outbox) || fs::is_empty(outbox)) {
            // What the window said, for the reader of the error.
            std::ifstream log(s.root + "/messages.log");
            std::fprintf(stderr, "result %d\n%s", result,
                         std::string(std::istreambuf_iterator<char>(log), {}).c_str());
            state.SkipWithError("Send did not file the message");
            break;
        }
    }
    state.counters["max_gap_ms"] = worst;
    state.counters["ticks"] = double(ticks);
    state.counters["within_goal"] = worst <= kGoalMs ? 1 : 0;
    if (worst > kGoalMs)
        std::fprintf(stderr, "  goal missed: the event loop stalled %.0f ms (goal %.0f ms)\n",
                     worst, kGoalMs);
}
BENCHMARK(BM_SendTenMinutesWindowStaysResponsive)
    ->ArgName("zipped")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    setup();
    InstallDialogReportSink();
    InstallAudioWindows();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
