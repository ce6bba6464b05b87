#include "platform/seam/FileAnswers.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/seam/MessageSeam.h"

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

std::optional<std::string> nextLine() {
    Script& s = script();
    std::lock_guard lock(s.mutex);
    if (!s.loaded) {
        s.loaded = true;
        if (const char* path = std::getenv("KORRIN_FILE_ANSWERS")) {
            std::ifstream in(path);
            for (std::string line; std::getline(in, line);) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                s.lines.push_back(line);
            }
        }
    }
    if (s.next >= s.lines.size())
        return std::nullopt;
    std::string answer = s.lines[s.next++];
    if (answer.empty() || answer == "Cancel")
        return std::nullopt;
    return answer;
}

}  // namespace

bool FileAnswersScripted() {
    return std::getenv("KORRIN_FILE_ANSWERS") != nullptr;
}

std::optional<std::string> TakeFileAnswer(const FileDialogRequest& request) {
    std::optional<std::string> answer = nextLine();
    LogFileAnswer(request, answer);
    return answer;
}

void LogFileAnswer(const FileDialogRequest& request, const std::optional<std::string>& answer) {
    SeamRecord r;
    r.kind = "filedialog";
    r.caption = request.title;
    r.icon = "none";
    r.buttons = "OKCancel";
    r.text = request.initialName;
    r.source = "FileAnswers";
    r.answer = answer ? *answer : "Cancel";
    LogSeamRecord(r);
}

}  // namespace korrin::platform
