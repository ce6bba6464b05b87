#include "korrin/app/Zip.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <system_error>
#include <thread>

#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "platform/files/Files.h"
#include "platform/files/PrivateTemp.h"
#include "platform/files/ToolOutput.h"
#include "platform/process/CommandLine.h"

// Zip packaging belongs to the settings module as far as the user is concerned: its reports
// name that module.
#define UTILS_REPORT(message) ::korrin::CEventReport().Report((message), "Utils", __LINE__)

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kArchiveToPack = "file.tmp";
constexpr const char* kArchiveToUnpack = "file.zip";
// A work folder number whose folder already exists (left by a run that crashed, or made by
// someone else in a shared temporary folder) is skipped rather than used: nothing found in a
// folder we did not make may be taken for the tool's output.
constexpr int kWorkFolderTries = 16;

std::string installedName(const char* exeName) {
    std::string name = exeName;
    if (name.size() > 4) {
        std::string tail = name.substr(name.size() - 4);
        for (char& c : tail)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".exe")
            name.resize(name.size() - 4);
    }
    return name;
}

bool cancelled(const zipdetail::ZipWaits& waits) {
    return waits.cancel && waits.cancel->load(std::memory_order_relaxed);
}

bool toolEnded(ProcessHandle& tool) {
    return WaitForSingleObject(tool, 0) != WAIT_TIMEOUT;
}

// Looks for the tool's output every pollMs, at most outputPolls times. A tool that has ended
// makes no more output, so the search stops then after one last look. "" when none came.
std::string awaitOutput(ProcessHandle& tool, const std::function<std::string()>& look,
                        const zipdetail::ZipWaits& waits) {
    for (int poll = 1; poll <= waits.outputPolls; ++poll) {
        if (cancelled(waits))
            return "";
        if (std::string found = look(); !found.empty())
            return found;
        if (poll == waits.outputPolls)
            break;
        // Returns early when the tool ends, so a quick failure is not waited out.
        if (WaitForSingleObject(tool, static_cast<DWORD>(waits.pollMs)) != WAIT_TIMEOUT)
            return look();
    }
    return "";
}

enum class TakeOver { kReady, kToolFailed, kBusy };

// The output is the tool's to write until the tool has ended; only then is it complete. A
// tool that ends with a failure status may have left a damaged file, which is not taken.
TakeOver awaitTakeOver(ProcessHandle& tool, const std::string& output,
                       const zipdetail::ZipWaits& waits) {
    for (int attempt = 0; attempt < waits.openTries; ++attempt) {
        if (cancelled(waits))
            return TakeOver::kBusy;
        if (attempt > 0) {
            if (toolEnded(tool))
                std::this_thread::sleep_for(std::chrono::milliseconds(waits.openPauseMs));
            else
                WaitForSingleObject(tool, static_cast<DWORD>(waits.openPauseMs));
        }
        if (!toolEnded(tool))
            continue;
        DWORD status = 0;
        if (GetExitCodeProcess(tool, &status) && status != 0)
            return TakeOver::kToolFailed;
        if (CanOpenForReadWrite(output))
            return TakeOver::kReady;
    }
    return TakeOver::kBusy;
}

// One operation's work folder and tool. close() ends the tool, deletes the work archive and
// whatever else the tool left, and removes the folder, on every path out of an operation.
class WorkArea {
  public:
    WorkArea() = default;
    WorkArea(const WorkArea&) = delete;
    WorkArea& operator=(const WorkArea&) = delete;
    ~WorkArea() { close(); }

    // False after its report when there is no temporary folder or no work folder to be had.
    // Work folders are fresh numbered folders inside this user's private temporary folder:
    // in a shared one anybody could make the next number first, or put a link there.
    bool create() {
        std::string privateFolder;
        if (!GetPrivateTempFolder(&privateFolder)) {
            UTILS_REPORT(errno == ENOENT ? "No temp path exists" : "CreateDirectory failed");
            return false;
        }
        CUtils utils;
        std::string candidate;
        for (int i = 0; i < kWorkFolderTries; ++i) {
            if (utils.MakeUniqueDirectory(candidate, privateFolder + "/") == 0) {
                // Held while it is used, so a sweep of abandoned work folders (a window
                // starting, a fix) leaves it alone; one swept before the lock was taken is
                // given up for the next number.
                if (lock_.Take(candidate)) {
                    folder_ = candidate;
                    return true;
                }
                continue;
            }
            if (errno != EEXIST)
                break;
        }
        UTILS_REPORT("CreateDirectory failed");
        return false;
    }

    const std::string& folder() const { return folder_; }
    std::string file(const char* name) const { return folder_ + "/" + name; }
    ProcessHandle& tool() { return tool_; }

    void setArchive(std::string path) { archive_ = std::move(path); }

    void close() {
        // Ended first: a tool still writing would refill the folder as it is emptied.
        if (tool_.valid()) {
            TerminateProcess(tool_);
            CloseHandle(tool_);
        }
        if (folder_.empty())
            return;
        // An archive the tool never made is no failure to delete.
        if (!archive_.empty() && !DeleteFile(archive_) && errno != ENOENT)
            UTILS_REPORT("DeleteFile failed");
        RemoveFolderContents(folder_);
        if (!RemoveDirectory(folder_))
            UTILS_REPORT("RemoveDirectory failed");
        folder_.clear();
        lock_.Release();
    }

  private:
    platform::WorkFolderLock lock_;
    std::string folder_;
    std::string archive_;
    ProcessHandle tool_;
};

}  // namespace

bool LocateZipTool(const char* exeName, std::string& path) {
    path.clear();
    if (!exeName || !*exeName)
        return false;
    const std::string tools = GetWindowsDirectory();
    if (tools.empty())
        return false;
    path = tools + "/" + installedName(exeName);
    return FileExists(path);
}

const std::string& ZipToolsMissingText() {
    static const std::string text =
        std::string(
            "Can't find PKZIP.exe or PKUNZIP.exe.  These files are required by Quillion "
            "Email for Windows(TM) but are not shipped as part of this product. If you "
            "wish to use this type of compression, you need to download them from ") +
        vendor::kPkzipMakerAddress +
        ". Get 2.04G for DOS version.  Place in your windows directory (usually c:\\windows).  "
        "For more information contact Quillion.";
    return text;
}

void ShowZipToolsMissing() {
    CEventReport().ShowError(ZipToolsMissingText(), SourceLocation::current("Utils", __LINE__));
}

bool StartZipTool(const std::string& commandLine, const std::string& workingFolder,
                  ProcessHandle& process) {
    StartOptions options;
    options.workingDirectory = workingFolder;
    options.hidden = true;
    return CreateProcess(commandLine, options, &process) != 0;
}

int ZipFileInPlace(const std::string& path) {
    return zipdetail::ZipFileInPlace(path, zipdetail::ZipWaits{});
}

int ZipFileInPlace(const std::string& path, const std::atomic<bool>* cancel) {
    zipdetail::ZipWaits waits;
    waits.cancel = cancel;
    return zipdetail::ZipFileInPlace(path, waits);
}

int UnzipFileInPlace(const std::string& path) {
    return zipdetail::UnzipFileInPlace(path, zipdetail::ZipWaits{});
}

namespace zipdetail {

int ZipFileInPlace(const std::string& path, const ZipWaits& waits) {
    WorkArea work;
    if (!work.create())
        return 1;
    const std::string archive = work.file(kArchiveToPack);
    work.setArchive(archive);

    std::string tool;
    if (!LocateZipTool(kPkzipExe, tool)) {
        ShowZipToolsMissing();
        return 1;
    }
    const std::string commandLine =
        QuoteArgument(tool) + " " + QuoteArgument(archive) + " " + QuoteArgument(path);
    if (!StartZipTool(commandLine, "", work.tool())) {
        UTILS_REPORT("Could not start COMPRESS process");
        return 1;
    }

    auto look = [&] { return FileExists(archive) ? archive : std::string(); };
    if (awaitOutput(work.tool(), look, waits).empty() ||
        awaitTakeOver(work.tool(), archive, waits) != TakeOver::kReady) {
        // work ends the packer and removes what it wrote.
        if (cancelled(waits))
            return kZipCancelled;
        UTILS_REPORT("_open file failed");
        return 1;
    }
    // The copy is written beside path and renamed over it: path is the wave or the archive,
    // never half of either.
    if (!CopyFile(archive, path, false)) {
        UTILS_REPORT("CopyFile failed");
        return 1;
    }
    return 0;
}

int UnzipFileInPlace(const std::string& path, const ZipWaits& waits) {
    WorkArea work;
    if (!work.create())
        return 1;
    const std::string archive = work.file(kArchiveToUnpack);
    work.setArchive(archive);
    if (!CopyFile(path, archive, false)) {
        UTILS_REPORT("CopyFile failed");
        return 1;
    }

    std::string tool;
    if (!LocateZipTool(kPkunzipExe, tool)) {
        ShowZipToolsMissing();
        return 1;
    }
    const std::string commandLine = QuoteArgument(tool) + " -o " + QuoteArgument(archive);
    if (!StartZipTool(commandLine, work.folder(), work.tool())) {
        UTILS_REPORT("Could not start DECOMPRESS process");
        return 1;
    }

    const std::string folder = work.folder();
    auto look = [&] { return FindFirstFileMatching(folder, "*.wav"); };
    const std::string wave = awaitOutput(work.tool(), look, waits);
    if (wave.empty())
        return 1;
    if (awaitTakeOver(work.tool(), wave, waits) != TakeOver::kReady)
        return 2;
    if (!CopyFile(wave, path, false)) {
        UTILS_REPORT("CopyFile failed");
        return 2;
    }
    if (!DeleteFile(wave))
        UTILS_REPORT("DeleteFile failed");
    return 0;
}

}  // namespace zipdetail

}  // namespace korrin
