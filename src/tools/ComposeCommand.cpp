// korrinctl compose: a voice message made from a wave file and sent the way the composer's
// Send does it, without a window.
#include <cerrno>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "korrin/app/Defaults.h"
#include "korrin/app/Send.h"
#include "korrin/app/Utils.h"
#include "korrin/audio/Acm.h"
#include "platform/files/Files.h"
#include "platform/files/ToolOutput.h"
#include "platform/registry/Registry.h"
#include "tools/Area.h"

namespace korrin::tools {

namespace {

using namespace platform;

const char kComposeUsage[] =
    R"(korrinctl compose --to A [--cc B] [--bcc C] [--subject S] [--note N] --wave FILE
                 [--transport smtp|aol] [--out PATH]
    Make a voice message of the wave file FILE and send it as the composer's Send does:
    FILE is converted into the local format (as Import does; FILE itself is never
    written), then into the transport format, packed when the quality settings say so,
    stamped with the envelope and filed: into the Outbox (smtp), or saved for AOL under
    PATH (--out; without it the save dialog is answered from KORRIN_FILE_ANSWERS).
    The transport defaults to the stored "Transport". Questions are answered from
    KORRIN_MESSAGE_ANSWERS. Prints the filed path.
    Exit status: 0 filed, 1 stopped by a check or the user, 2 bad usage, 3 failed;
    nothing is left behind unless the message was filed.
)";

int usage(std::ostream& err, const std::string& message) {
    err << "korrinctl compose: " << message << "\nRun 'korrinctl compose --help' for the syntax.\n";
    return kExitUsage;
}

// The AOL save dialog answered with --out.
class FixedAnswerWindow : public ISendWindow {
  public:
    explicit FixedAnswerWindow(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> AskSaveFileName(const FileDialogRequest& request) override {
        // Given once: a second round (a refused name) is a Cancel, so the run ends.
        std::optional<std::string> answer;
        if (!used_)
            answer = path_;
        used_ = true;
        LogFileAnswer(request, answer);
        return answer;
    }

  private:
    std::string path_;
    bool used_ = false;
};

// A private folder for the working file, removed with what is in it.
class WorkFolder {
  public:
    ~WorkFolder() {
        if (folder_.empty())
            return;
        RemoveFolderContents(folder_);
        RemoveDirectory(folder_);
    }
    bool open() {
        const std::string temp = GetTempPath();
        CUtils utils;
        for (int i = 0; i < 16; ++i) {
            std::string candidate;
            if (utils.MakeUniqueDirectory(candidate, temp) == 0) {
                folder_ = candidate;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        return false;
    }
    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
};

int runCompose(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kComposeUsage;
        return kExitOk;
    }
    SendEnvelope envelope;
    std::optional<std::string> wave, transportName, outPath;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (i + 1 >= args.size())
            return usage(err, "'" + option + "' needs a value");
        const std::string& value = args[++i];
        if (option == "--to")
            envelope.to = value;
        else if (option == "--cc")
            envelope.cc = value;
        else if (option == "--bcc")
            envelope.bcc = value;
        else if (option == "--subject")
            envelope.subject = value;
        else if (option == "--note")
            envelope.memo = value;
        else if (option == "--wave")
            wave = value;
        else if (option == "--transport")
            transportName = value;
        else if (option == "--out")
            outPath = value;
        else
            return usage(err, "unknown option '" + option + "'");
    }
    if (!wave)
        return usage(err, "--wave is required");
    std::optional<DWORD> transport;
    if (transportName == "smtp")
        transport = kTransportSmtp;
    else if (transportName == "aol")
        transport = kTransportAol;
    else if (transportName)
        return usage(err, "the transport is smtp or aol");
    if (outPath && transport != kTransportAol)
        return usage(err, "--out goes with --transport aol");

    // The program makes its key at start-up; so does this.
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, &key) != ERROR_SUCCESS) {
        err << "korrinctl compose: cannot open the registry (" << RegistryPath() << ")\n";
        return kExitFailed;
    }
    RegCloseKey(key);

    WorkFolder work;
    if (!work.open()) {
        err << "korrinctl compose: no temporary folder to work in\n";
        return kExitFailed;
    }
    // As Import does: the chosen file converted into the working file, never written itself.
    const std::string working = work.folder() + "/V1L.wav";
    FormatChooser local(nullptr);
    std::string details;
    WaveFileInfo sourceInfo;
    if (local.GetFormat(kKorrinKey, details) != 0 ||
        ConvertWaveFile(local, *wave, working, sourceInfo) != 0) {
        err << "korrinctl compose: Convert failed\t" << *wave << "\n";
        return kExitFailed;
    }
    WaveFileInfo info;
    if (!LoadWaveFileInfo(nullptr, info, working)) {
        err << "korrinctl compose: Convert failed\t" << *wave << "\n";
        return kExitFailed;
    }
    const WAVEFORMATEX format = ReadWaveFormat(info.format.data(), info.format.size());
    const DWORD lengthMs = format.nAvgBytesPerSec
                               ? DWORD(std::uint64_t(info.dataSize) * 1000 / format.nAvgBytesPerSec)
                               : 0;

    std::optional<FixedAnswerWindow> fixed;
    if (outPath)
        fixed.emplace(*outPath);
    CSendJob job(nullptr, working, envelope, nullptr, fixed ? &*fixed : nullptr);
    if (transport)
        job.SetTransport(*transport);
    const int result = job.Run(lengthMs);
    switch (result) {
        case send::kDone:
            out << job.filedPath() << "\n";
            return kExitOk;
        case send::kStopped:
            err << "korrinctl compose: not sent (stopped)\n";
            return kExitNotFound;
        case send::kCancelled:
            err << "korrinctl compose: not sent (cancelled)\n";
            return kExitNotFound;
        case send::kDiscarded:
            err << "korrinctl compose: not saved (discarded)\n";
            return kExitNotFound;
        default:
            err << "korrinctl compose: not sent (failed)\n";
            return kExitFailed;
    }
}

const KorrinctlArea kComposeArea({45, "compose", "make a voice message of a wave file and send it",
                                  kComposeUsage, runCompose});

}  // namespace

}  // namespace korrin::tools
