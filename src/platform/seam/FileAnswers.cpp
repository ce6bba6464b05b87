#include "platform/seam/FileAnswers.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/seam/MessageSeam.h"

namespace korrin::platform {

namespace {

// The answers are read at the first dialog and taken in order from then on; a new value of
// the variable, or new content in the file, starts a new list.
struct Script {
    std::mutex mutex;
    bool loaded = false;
    std::string source;
    std::string text;
    std::vector<std::string> answers;
    std::size_t next = 0;
};

Script& script() {
    static Script s;
    return s;
}

const char* answersFile() {
    const char* path = std::getenv("KORRIN_FILE_ANSWERS");
    return path && *path ? path : nullptr;
}

}  // namespace

std::vector<std::string> ParseFileAnswers(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos)
            continue;  // blank: a file ending in a newline gives no extra Cancel
        const std::size_t last = line.find_last_not_of(" \t\r");
        out.emplace_back(line.substr(first, last - first + 1));
    }
    return out;
}

bool FileAnswersScripted() {
    return answersFile() != nullptr;
}

void LogFileAnswer(const FileDialogRequest& request, const std::optional<std::string>& answer) {
    SeamRecord record;
    record.kind = "filedialog";
    record.caption = request.title;
    record.icon = "none";
    record.buttons = request.save ? "Save" : "Open";
    record.text = request.initialName;
    record.answer = answer ? *answer : "Cancel";
    record.detail = request.patterns;
    LogSeamRecord(record);
}

std::optional<std::string> TakeFileAnswer(const FileDialogRequest& request) {
    std::optional<std::string> answer;
    const char* file = answersFile();
    if (file) {
        Script& s = script();
        std::lock_guard<std::mutex> lock(s.mutex);
        std::ifstream in(file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!s.loaded || s.source != file || s.text != text) {
            s.loaded = true;
            s.source = file;
            s.text = std::move(text);
            s.answers = ParseFileAnswers(s.text);
            s.next = 0;
        }
        if (s.next < s.answers.size()) {
            const std::string& taken = s.answers[s.next++];
            if (taken != "Cancel")
                answer = taken;
        }
    }
    LogFileAnswer(request, answer);
    return answer;
}

}  // namespace korrin::platform
