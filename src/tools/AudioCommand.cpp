// korrinctl convert / info: converting a wave file as the program does before sending, and
// describing one as its properties pages do.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "korrin/app/Defaults.h"
#include "korrin/audio/Acm.h"
#include "korrin/audio/FormatSpec.h"
#include "platform/files/Files.h"
#include "platform/registry/Registry.h"
#include "tools/Area.h"

namespace korrin::tools {

namespace {

using namespace platform;

constexpr const char* kConvertUsage =
    "korrinctl convert IN OUT --to local|transport|TAG:RATE:BITS:CHANNELS\n"
    "  Converts the wave file IN into OUT, in the stored local or transport format or in the\n"
    "  one named (e.g. 49:8000:0:1 for GSM 6.10, 1:22050:8:1 for PCM). OUT is replaced only\n"
    "  when the whole file converted. Exit 0 done, 2 usage, 3 conversion failed.\n";
constexpr const char* kInfoUsage =
    "korrinctl info FILE\n"
    "  Prints what the program knows of a wave file: its description fields and format.\n"
    "  Exit 0, or 1 when FILE cannot be loaded as a wave file.\n";

int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kConvertUsage;
        return kExitOk;
    }
    if (args.size() != 4 || args[2] != "--to") {
        err << kConvertUsage;
        return kExitUsage;
    }
    const std::string& in = args[0];
    const std::string& dst = args[1];
    const std::string& to = args[3];
    FormatChooser target(nullptr);
    if (!target.format()) {
        err << "korrinctl: no codec is installed\n";
        return kExitFailed;
    }
    std::string details;
    if (to == "local" || to == "transport") {
        // The program makes its key at start-up; so does this.
        HKEY key = nullptr;
        if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key) != ERROR_SUCCESS) {
            err << "korrinctl: cannot open the registry (" << RegistryPath() << ")\n";
            return kExitFailed;
        }
        RegCloseKey(key);
        const int r = to == "local" ? target.GetFormat(kKorrinKey, details)
                                    : target.GetFormatTransport(kKorrinKey, details);
        if (r != 0)
            return kExitFailed;
    } else {
        WAVEFORMATEX format;
        if (!ParseFormatSpec(to, format)) {
            err << "korrinctl: '" << to << "' names no format a codec provides\n";
            return kExitUsage;
        }
        WriteWaveFormat(format, target.format(), target.formatSize());
    }
    for (const std::string* path : {&in, &dst})
        if (path->size() > kMaxWavePath) {
            err << "korrinctl: converting '" << in << "' failed: path too long ('" << *path
                << "' has more than " << kMaxWavePath << " characters)\n";
            return kExitFailed;
        }
    // Into a new file of its own beside OUT first (created exclusively under a name nobody
    // can guess, never through a link), so that a failed conversion leaves OUT as it was and
    // nothing else is touched.
    const auto slash = dst.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : dst.substr(0, slash);
    std::string part;
    const int fd = CreateUniqueFile(folder, ".korrin-", ".part", 0644, &part);
    if (fd < 0) {
        err << "korrinctl: converting '" << in << "' failed: cannot create a file in " << folder
            << " (" << std::strerror(errno) << ")\n";
        return kExitFailed;
    }
    ::close(fd);
    WaveFileInfo info;
    const DWORD result = ConvertWaveFile(target, in, part, info);
    if (result != 0 || std::rename(part.c_str(), dst.c_str()) != 0) {
        DeleteFile(part);
        err << "korrinctl: converting '" << in << "' failed\n";
        return kExitFailed;
    }
    std::string tag, text;
    GetFormatDescription(target.format(), target.formatSize(), &tag, &text);
    out << "converted " << in << " -> " << dst << " (" << tag << " " << text << ")\n";
    return kExitOk;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::ostringstream s;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        s << (i ? " " : "") << std::hex << std::setw(2) << std::setfill('0') << int(bytes[i]);
    return s.str();
}

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kInfoUsage;
        return kExitOk;
    }
    if (args.size() != 1) {
        err << kInfoUsage;
        return kExitUsage;
    }
    WaveFileInfo info;
    if (!LoadWaveFileInfo(nullptr, info, args[0])) {
        err << "korrinctl: '" << args[0] << "' cannot be loaded as a wave file\n";
        return kExitNotFound;
    }
    std::string tag, text;
    const bool fromCodec =
        GetFormatDescription(info.format.data(), info.format.size(), &tag, &text);
    const WAVEFORMATEX f = ReadWaveFormat(info.format.data(), info.format.size());
    out << "title: " << info.title << "\n"
        << "path: " << info.path << "\n"
        << "fileSize: " << info.fileSize << "\n"
        << "dosDate: " << info.dosDate << "\n"
        << "dosTime: " << info.dosTime << "\n"
        << "attributes: " << info.attributes << "\n"
        << "formatSize: " << info.formatSize << "\n"
        << "format: " << Hex(info.format) << "\n"
        << "wFormatTag: " << f.wFormatTag << "\n"
        << "nChannels: " << f.nChannels << "\n"
        << "nSamplesPerSec: " << f.nSamplesPerSec << "\n"
        << "nAvgBytesPerSec: " << f.nAvgBytesPerSec << "\n"
        << "nBlockAlign: " << f.nBlockAlign << "\n"
        << "wBitsPerSample: " << f.wBitsPerSample << "\n"
        << "dataSize: " << info.dataSize << "\n"
        << "sampleCount: " << info.sampleCount << "\n"
        << "description: " << tag << " " << text << (fromCodec ? "" : " (no codec)") << "\n";
    return kExitOk;
}

const KorrinctlArea kConvertArea({40, "convert", "convert a wave file into another format",
                                  kConvertUsage, RunConvert});
const KorrinctlArea kInfoArea({41, "info", "describe a wave file", kInfoUsage, RunInfo});

}  // namespace

}  // namespace korrin::tools
