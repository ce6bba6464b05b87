// Starting, waiting for and ending outside programs.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/Win32Types.h"

namespace korrin::platform {

struct ProcessHandle {
    pid_t pid = -1;
    bool valid() const { return pid > 0; }
};

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;

struct StartOptions {
    std::string workingDirectory;  // empty: this process's current folder
    bool hidden = true;            // standard input, output and error go to /dev/null
};

// Starts the program named by the first argument of commandLine (split as SplitCommandLine
// does; a name without '/' is looked up in PATH). On success *out holds the handle and the
// call returns nonzero. A program that cannot be found or started fails here, not later.
BOOL CreateProcess(const std::string& commandLine, const StartOptions& options, ProcessHandle* out);

// Waits at most timeoutMs (INFINITE: no bound) for the process to end.
// WAIT_OBJECT_0 when it has ended, WAIT_TIMEOUT when not, WAIT_FAILED for a bad handle.
DWORD WaitForSingleObject(ProcessHandle& process, DWORD timeoutMs);

// STILL_ACTIVE while running; the exit status, or 128 + signal number for a killed one.
BOOL GetExitCodeProcess(ProcessHandle& process, DWORD* exitCode);

// Ends the process (SIGKILL) and collects it. Nonzero when it is gone.
BOOL TerminateProcess(ProcessHandle& process);

// Gives up the handle. A process still running is collected in the background when it
// ends, so no zombie is left behind.
void CloseHandle(ProcessHandle& process);

}  // namespace korrin::platform
