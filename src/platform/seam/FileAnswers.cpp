#include "platform/seam/FileAnswers.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

namespace korrin::platform {

namespace {

// The script is read once, at the first dialog; the lines are taken from it in order.
struct Script {
    std::mutex mutex;
    bool loaded = false;
    std::vector<std::string> lines;
    std::size_t next = 0;
};

Script& script() {
    static Script s;
    return s;
}

}  // namespace

bool FileAnswersScripted() {
    return std::getenv("KORRIN_FILE_ANSWERS") != nullptr;
}

std::string TakeFileAnswer() {
    Script& s = script();
    std::lock_guard lock(s.mutex);
    if (!s.loaded) {
        s.loaded = true;
        if (const char* path = std::getenv("KORRIN_FILE_ANSWERS")) {
            std::ifstream in(path);
            std::string line;
            while (std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                s.lines.push_back(line);
            }
        }
    }
    if (s.next >= s.lines.size())
        return {};
    std::string answer = s.lines[s.next++];
    return answer == "Cancel" ? std::string() : answer;
}

void LogFileAnswer(const std::string& title, const std::string& suggested,
                   const std::string& answer, const SourceLocation& where) {
    SeamRecord r;
    r.kind = "filedialog";
    r.caption = title;
    r.icon = "none";
    r.buttons = "OKCancel";
    r.text = suggested;
    r.source = ModuleName(where.file_name());
    r.line = where.line();
    r.answer = answer.empty() ? "Cancel" : answer;
    LogSeamRecord(r);
}

}  // namespace korrin::platform
