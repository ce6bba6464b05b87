// app/Zip: packs message archives (the quality presets are audio/Zip).
// Packing a message's wave file into an archive and unpacking it again, with the two outside
// programs the user installs into the tools directory (which stands for the Windows
// directory): "pkzip.exe" packs, "pkunzip.exe" unpacks. On this system a program is installed
// under its name without ".exe" ("pkzip", "pkunzip"): small launchers over Info-ZIP.
//
// The operations block the calling thread while the tool runs (the user-interface thread or
// a worker); they share no state, so several may run at once on different files. Each uses
// its own numbered work folder under the temporary path and removes it before it returns.
// Failures are reported as they are found (source "Utils"); nothing is thrown.
#pragma once

#include <atomic>
#include <string>

#include "platform/process/Process.h"

namespace korrin {

inline constexpr const char* kPkzipExe = "pkzip.exe";
inline constexpr const char* kPkunzipExe = "pkunzip.exe";

// path := tools directory + '/' + the program's installed name. True when a regular file is
// there (it is not opened). False, with path possibly empty, when there is no tools directory.
bool LocateZipTool(const char* exeName, std::string& path);

// Replaces the file at path by an archive holding it under its bare name.
// 0 on success, 1 on failure (path is then unchanged).
int ZipFileInPlace(const std::string& path);
// The same, stopping within a quarter of a second once *cancel is set: the packer is
// ended, its work folder removed and kZipCancelled returned without a report; path is
// unchanged.
inline constexpr int kZipCancelled = 3;
int ZipFileInPlace(const std::string& path, const std::atomic<bool>* cancel);

// Replaces the archive at path by the wave file it holds. 0 on success, 1 when no wave file
// came out of it, 2 when the wave file that came out could not be taken over. Unless the
// result is 0, path is unchanged.
int UnzipFileInPlace(const std::string& path);

// The text shown when either program cannot be found, and showing it as an error box.
const std::string& ZipToolsMissingText();
void ShowZipToolsMissing();

// Starts a tool as both operations do: hidden, from the command line alone, in
// workingFolder (empty: ours). False when it could not be started; nothing is reported.
bool StartZipTool(const std::string& commandLine, const std::string& workingFolder,
                  platform::ProcessHandle& process);

namespace zipdetail {

// How long the operations wait. The defaults are the program's; tests shorten them.
struct ZipWaits {
    // The tool's output is looked for every pollMs, at most outputPolls times while the tool
    // runs; once the tool has ended without it, at once no more.
    int pollMs = 100;
    int outputPolls = 450;
    // Once the output is there, the tool must end and the output open for reading and writing
    // within openTries attempts, openPauseMs apart.
    int openTries = 41;
    int openPauseMs = 250;
    // Set: every wait ends early, the operation gives up (kZipCancelled, nothing reported).
    const std::atomic<bool>* cancel = nullptr;
};

int ZipFileInPlace(const std::string& path, const ZipWaits& waits);
int UnzipFileInPlace(const std::string& path, const ZipWaits& waits);

}  // namespace zipdetail

}  // namespace korrin
