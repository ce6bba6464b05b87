// Starting, waiting for and ending outside programs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace korrin::platform {

// A copy of a handle refers to the same process. The id tells handles apart when the
// system hands a finished process's pid to a new one.
struct ProcessHandle {
    pid_t pid = -1;
    std::uint64_t id = 0;
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
    // With hidden: descriptors of this process to give the child as its standard input and
    // error instead of /dev/null (-1: /dev/null). They stay open here; the caller closes them.
    int stdinFd = -1;
    int stderrFd = -1;
};

// Starts the program named by the first argument of commandLine (split as SplitCommandLine
// does; a name without '/' is looked up in PATH). On success *out holds the handle and the
// call returns nonzero. A program that cannot be found or started fails here, not later.
// The child gets its own process group, a clean signal state and no descriptors beyond the
// standard three. Safe from any thread.
BOOL CreateProcess(const std::string& commandLine, const StartOptions& options, ProcessHandle* out);

// The same with the arguments already split (argv[0] names the program).
BOOL CreateProcess(const std::vector<std::string>& argv, const StartOptions& options,
                   ProcessHandle* out);

// Waits at most timeoutMs (INFINITE: no bound) for the process to end.
// WAIT_OBJECT_0 when it has ended, WAIT_TIMEOUT when not, WAIT_FAILED for a bad handle.
DWORD WaitForSingleObject(ProcessHandle& process, DWORD timeoutMs);

// STILL_ACTIVE while running; the exit status, or 128 + signal number for a killed one.
BOOL GetExitCodeProcess(ProcessHandle& process, DWORD* exitCode);

// Ends the process (SIGKILL to its whole process group, so a launcher script takes its
// tool with it) and collects it. Nonzero when it is gone, also when it had ended already.
// The handle stays valid for GetExitCodeProcess; CloseHandle still releases it.
BOOL TerminateProcess(ProcessHandle& process);

// Gives up the handle. A process still running is collected in the background when it
// ends, so no zombie is left behind.
void CloseHandle(ProcessHandle& process);

}  // namespace korrin::platform
