// korrinctl record / korrinctl play: checking a machine's sound through the same wave
// device the recorder window uses.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <thread>

#include "korrin/app/Defaults.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/Mci.h"
#include "korrin/store/Trailer.h"
#include "platform/Endian.h"
#include "platform/Text.h"
#include "platform/files/Files.h"
#include "platform/mci/WaveData.h"
#include "tools/Area.h"

namespace korrin::tools {

using namespace korrin::platform;

namespace {

const char kRecordUsage[] =
    R"(korrinctl record <OUT.wav> --seconds <N> [--format local]
    Record N seconds (1 to 3600) from the sound card into a new wave file OUT.wav. The
    format is PCM 8,000 Hz, 8 bit, mono, or with --format local the local message format
    of the settings (which must be PCM).
)";

const char kPlayUsage[] =
    R"(korrinctl play <FILE>
    Play a wave file, or the audio of a plain message file (.kx0), to its end.

  Both use the sound back end KORRIN_AUDIO names ("portaudio", "virtual"), else the first
  that finds a sound device, else the virtual one; KORRIN_AUDIO_CAPTURE names the wave file
  the virtual one records from. Exit status: 0 done, 2 bad usage, 3 the sound device or a
  file failed.
)";

constexpr auto kPoll = std::chrono::milliseconds(20);

int usage(std::ostream& err, const char* area, const std::string& message) {
    err << "korrinctl " << area << ": " << message << "\nRun 'korrinctl " << area
        << " --help' for the syntax.\n";
    return kExitUsage;
}

int fail(std::ostream& err, const char* area, const std::string& message) {
    err << "korrinctl " << area << ": " << message << "\n";
    return kExitFailed;
}

bool endsWithNoCase(const std::string& s, const char* suffix) {
    const std::string_view t(suffix);
    return s.size() >= t.size() && EqualsNoCase(std::string_view(s).substr(s.size() - t.size()), t);
}

// The local format of the settings (a WAVEFORMATEX, little-endian), when it is PCM.
bool localFormat(PcmFormat& out) {
    const auto bytes = CUtils().GetSettingBinary(setting::kWaveFormat);
    if (bytes.size() < 16)
        return false;
    WaveFormat f;
    f.formatTag = LoadLE16(bytes.data());
    f.channels = LoadLE16(bytes.data() + 2);
    f.samplesPerSec = LoadLE32(bytes.data() + 4);
    f.avgBytesPerSec = LoadLE32(bytes.data() + 8);
    f.blockAlign = LoadLE16(bytes.data() + 12);
    f.bitsPerSample = LoadLE16(bytes.data() + 14);
    if (!IsPlayablePcm(f))
        return false;
    out = ToPcmFormat(f);
    return true;
}

std::string why(MCIERROR code) {
    std::string text;
    if (!mciGetErrorString(code, text))
        text = "error " + std::to_string(code);
    return text;
}

std::string seconds(DWORD ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", ms / 1000.0);
    return text;
}

int runRecord(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        out << kRecordUsage;
        return kExitOk;
    }
    std::string path;
    long secs = -1;
    bool local = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size()) {
            char* end = nullptr;
            secs = std::strtol(args[++i].c_str(), &end, 10);
            if (!*args[i].c_str() || *end || secs < 1 || secs > 3600)
                return usage(err, "record", "--seconds takes a whole number from 1 to 3600");
        } else if (args[i] == "--format" && i + 1 < args.size()) {
            if (args[++i] != "local")
                return usage(err, "record", "--format takes 'local'");
            local = true;
        } else if (path.empty() && !args[i].empty() && args[i][0] != '-') {
            path = args[i];
        } else {
            return usage(err, "record", "unexpected argument '" + args[i] + "'");
        }
    }
    if (path.empty() || secs < 0)
        return usage(err, "record", "record takes <OUT.wav> --seconds <N>");
    if (!endsWithNoCase(path, ".wav"))
        return usage(err, "record", "the output file must end in .wav");

    PcmFormat format{1, 8000, 8};
    if (local && !localFormat(format))
        return fail(err, "record", "the local message format in the settings is not PCM");
    if (!ReplaceFile(path, SerializeWave(ToWaveFormat(format), nullptr, 0)))
        return fail(err, "record", "cannot write " + path);

    MciDevice device;
    if (const MCIERROR e = device.Open(path))
        return fail(err, "record", "the sound device cannot open " + path + ": " + why(e));
    if (const MCIERROR e = device.Record(0))
        return fail(err, "record", "recording could not start: " + why(e));
    const DWORD want = static_cast<DWORD>(secs * 1000);
    const auto deadline = std::chrono::steady_clock::now() + PlayBound(want);
    DWORD at = 0;
    while ((at = device.GetPosition()) < want) {
        if (std::chrono::steady_clock::now() > deadline) {
            device.Stop();
            return fail(err, "record",
                        "the sound device stalled: it stopped recording after " + seconds(at) +
                            " of " + seconds(want) + " s; " + path + " was not saved");
        }
        std::this_thread::sleep_for(kPoll);
    }
    device.Stop();
    // Exactly the seconds asked for: what came in after them is cut.
    device.Seek(want);
    device.Delete();
    const DWORD length = device.GetLength(0);
    if (const MCIERROR e = device.Save(path))
        return fail(err, "record", "cannot save " + path + ": " + why(e));
    device.Close();
    out << "recorded " << seconds(length) << " s into " << path << "\n";
    return kExitOk;
}

// The wave file at the front of a plain message file: what comes before the trailer, as the
// store reads it (any revision the store takes, the newer-version question included).
bool messageAudio(const std::string& path, const std::vector<std::uint8_t>& file,
                  std::vector<std::uint8_t>& wave) {
    CMessageTrailer trailer;  // no selection: only the closing words and the date
    if (trailer.Read(path) != trailer::kRead || trailer.fileSize != file.size())
        return false;
    wave.assign(file.begin(),
                file.begin() + static_cast<std::ptrdiff_t>(file.size() - 8 - trailer.length));
    return true;
}

int runPlay(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        out << kPlayUsage;
        return kExitOk;
    }
    if (args.size() != 1)
        return usage(err, "play", "play takes one <FILE>");
    const std::string& path = args[0];
    std::string wavePath = path;
    std::string temp;
    if (!endsWithNoCase(path, ".wav")) {
        std::vector<std::uint8_t> file, wave;
        if (!ReadWholeFile(path, file))
            return fail(err, "play", "cannot read " + path);
        if (file.size() >= 4 && file[0] == 'P' && file[1] == 'K')
            return fail(err, "play", path + " is a zipped message file: unpack its audio first");
        WaveImage image;
        if (!messageAudio(path, file, wave) ||
            ParseWave(wave.data(), wave.size(), image) != WaveReadResult::kOk)
            return fail(err, "play", path + " is neither a wave file nor a plain message file");
        const std::string dir = GetTempPath();
        const int fd = CreateUniqueFile(dir, "korrinctl-play-", ".wav", 0600, &temp);
        if (fd < 0)
            return fail(err, "play", "cannot make a temporary file in " + dir);
        const bool written = WriteAll(fd, wave.data(), wave.size());
        if (close(fd) != 0 || !written) {
            unlink(temp.c_str());
            return fail(err, "play", "cannot write " + temp);
        }
        wavePath = temp;
    }
    int status = kExitOk;
    {
        MciDevice device;
        if (const MCIERROR e = device.Open(wavePath)) {
            status = fail(err, "play", "the sound device cannot open " + path + ": " + why(e));
        } else {
            const DWORD length = device.GetLength(0);
            // Returns once the last frame has been heard, or when the device stalls.
            if (const MCIERROR e = device.PlayToEnd()) {
                status =
                    e == MCIERR_DEVICE_STALLED
                        ? fail(err, "play",
                               "the sound device stalled: it stopped playing after " +
                                   seconds(device.GetPosition()) + " of " + seconds(length) + " s")
                        : fail(err, "play", "playing could not start: " + why(e));
            } else {
                out << "played " << seconds(length) << " s of " << path << "\n";
            }
        }
    }
    if (!temp.empty())
        unlink(temp.c_str());
    return status;
}

const KorrinctlArea kRecordArea({40, "record", "record from the sound card into a wave file",
                                 kRecordUsage, runRecord});
const KorrinctlArea kPlayArea({41, "play", "play a wave file or a message file", kPlayUsage,
                               runPlay});

}  // namespace

}  // namespace korrin::tools
