// Stands in for the desktop's opener: a script that appends each target it is given to a
// file, so a test can see which link a button opened.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "helpers/TestSupport.h"

namespace korrin::test {

class OpenerRecorder {
  public:
    explicit OpenerRecorder(const TempDir& dir)
        : script_(dir.file("opener.sh")), record_(dir.file("opened.txt")) {
        WriteFile(script_, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record_ + "'\n");
        chmod(script_.c_str(), 0700);
        env_.emplace("KORRIN_OPENER", script_);
    }
    // What was opened so far, one target a line in sorted order (openers run side by side, so
    // the order they finish in means nothing); waits up to timeoutMs for `lines` lines.
    std::string Opened(int lines = 1, int timeoutMs = 5000) const {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            std::string text = ReadFile(record_);
            int n = 0;
            for (char c : text)
                n += c == '\n';
            if (n >= lines || std::chrono::steady_clock::now() > until)
                return sorted(text);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

  private:
    static std::string sorted(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        std::sort(lines.begin(), lines.end());
        std::string out;
        for (const auto& l : lines)
            out += l + "\n";
        return out;
    }

    std::string script_;
    std::string record_;
    std::optional<ScopedEnv> env_;
};

}  // namespace korrin::test
