// Fixtures shared by the tests: temporary folders, environment changes undone at the end
// of a scope, and running one of the built programs as a child process.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korrin::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets (or with nullopt, removes) an environment variable and restores it afterwards.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// Each test gets its own registry database in its own folder.
class RegistryTest : public ::testing::Test {
  protected:
    TempDir dir_;
    ScopedEnv registry_{"KORRIN_REGISTRY", dir_.file("registry.db")};
    std::string dbPath() const { return dir_.file("registry.db"); }
};

std::string BuildDir();   // $KORRIN_BUILD_DIR, where the programs are
std::string SourceDir();  // $KORRIN_SOURCE_DIR

// How many killed runs a kill test makes: $KORRIN_KILL_RUNS (at least 1), else its own default.
int KillRuns(int fallback);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// The lines of a message log, and one string or number field of such a line (JSON escapes
// undone). An absent field gives "".
std::vector<std::string> ReadLines(const std::string& path);
std::string JsonField(const std::string& line, const std::string& name);

struct RunResult {
    int exitCode = -1;  // 128 + signal for a killed child; -1 when it could not start
    std::string out;
    std::string err;
    bool timedOut = false;
};

// Runs argv[0] (a path) with the given arguments and extra environment, standard input from
// /dev/null; kills it after timeoutMs.
RunResult Run(const std::vector<std::string>& argv,
              const std::map<std::string, std::string>& env = {}, int timeoutMs = 60000);

// Makes a FIFO at path and, should a reader still be stuck opening it after the grace time,
// opens its other end so that the reader gets free and the test can fail instead of hanging.
// rescued() tells whether that was needed.
class FifoGuard {
  public:
    explicit FifoGuard(std::string path, int graceMs = 5000);
    ~FifoGuard();
    FifoGuard(const FifoGuard&) = delete;
    FifoGuard& operator=(const FifoGuard&) = delete;
    bool rescued() const { return rescued_; }

  private:
    std::string path_;
    std::atomic<bool> rescued_{false};
    std::atomic<bool> done_{false};
    std::thread rescuer_;
};

}  // namespace korrin::test
