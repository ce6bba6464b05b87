#include "platform/seam/MessageSeam.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/Text.h"

namespace korrin::platform {

namespace {

struct ButtonSet {
    const char* name;
    std::vector<int> answers;
};

const ButtonSet& buttonSet(unsigned type) {
    static const ButtonSet sets[] = {
        {"OK", {IDOK}},
        {"OKCancel", {IDOK, IDCANCEL}},
        {"AbortRetryIgnore", {IDABORT, IDRETRY, IDIGNORE}},
        {"YesNoCancel", {IDYES, IDNO, IDCANCEL}},
        {"YesNo", {IDYES, IDNO}},
        {"RetryCancel", {IDRETRY, IDCANCEL}},
        {"ContinueAbort", {IDCONTINUE, IDABORT}},
    };
    unsigned index = type & MB_TYPEMASK;
    return sets[index < std::size(sets) ? index : 0];
}

// The scripted answers are read at the first box and taken in order from then on; a new
// value of the variable starts a new list.
struct Script {
    std::mutex mutex;
    bool loaded = false;
    std::string source;
    std::vector<std::optional<int>> answers;
    std::size_t next = 0;
};

Script& script() {
    static Script s;
    return s;
}

std::string trim(std::string_view s) {
    auto b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    auto e = s.find_last_not_of(" \t");
    return std::string(s.substr(b, e - b + 1));
}

}  // namespace

std::string ButtonsName(unsigned type) {
    return buttonSet(type).name;
}

std::string IconName(unsigned type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONSTOP:
            return "stop";
        case MB_ICONQUESTION:
            return "question";
        case MB_ICONEXCLAMATION:
            return "exclamation";
        case MB_ICONINFORMATION:
            return "information";
        default:
            return "none";
    }
}

int DefaultAnswer(unsigned type) {
    const auto& set = buttonSet(type);
    std::size_t index = (type & MB_DEFMASK) >> 8;
    return set.answers[index < set.answers.size() ? index : 0];
}

bool AnswerFits(unsigned type, int answer) {
    for (int a : buttonSet(type).answers)
        if (a == answer)
            return true;
    return false;
}

std::string AnswerName(int answer) {
    switch (answer) {
        case IDOK:
            return "OK";
        case IDCANCEL:
            return "Cancel";
        case IDABORT:
            return "Abort";
        case IDRETRY:
            return "Retry";
        case IDIGNORE:
            return "Ignore";
        case IDYES:
            return "Yes";
        case IDNO:
            return "No";
        case IDCONTINUE:
            return "Continue";
        default:
            return std::to_string(answer);
    }
}

std::optional<int> ParseAnswer(std::string_view word) {
    static const int answers[] = {IDOK,     IDCANCEL, IDABORT, IDRETRY,
                                  IDIGNORE, IDYES,    IDNO,    IDCONTINUE};
    const std::string w = trim(word);
    for (int id : answers)
        if (EqualsNoCase(w, AnswerName(id)))
            return id;
    return std::nullopt;
}

std::vector<std::optional<int>> ParseAnswerList(std::string_view list) {
    std::vector<std::optional<int>> answers;
    while (!list.empty()) {
        auto comma = list.find(',');
        std::string_view word = list.substr(0, comma);
        if (!trim(word).empty())
            answers.push_back(ParseAnswer(word));
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return answers;
}

bool AnswersScripted() {
    return std::getenv("KORRIN_MESSAGE_ANSWERS") != nullptr;
}

int TakeScriptedAnswer(unsigned type) {
    Script& s = script();
    std::lock_guard lock(s.mutex);
    const char* env = std::getenv("KORRIN_MESSAGE_ANSWERS");
    if (!s.loaded || s.source != (env ? env : "")) {
        s.loaded = true;
        s.source = env ? env : "";
        s.answers.clear();
        s.next = 0;
        s.answers = ParseAnswerList(s.source);
        for (std::size_t i = 0; i < s.answers.size(); ++i)
            if (!s.answers[i])
                std::fprintf(stderr,
                             "korrin: KORRIN_MESSAGE_ANSWERS: answer %zu is none of OK, Yes, No, "
                             "Cancel, Continue, Abort, Retry, Ignore; that box takes its default "
                             "button\n",
                             i + 1);
    }
    if (s.next >= s.answers.size())
        return DefaultAnswer(type);
    std::optional<int> answer = s.answers[s.next++];
    if (!answer || !AnswerFits(type, *answer))
        return DefaultAnswer(type);
    return *answer;
}

namespace {

// Length of the well-formed UTF-8 sequence at the start of text (1 to 4), or 0 when the bytes
// there are not one: a stray continuation byte, a cut-off sequence, an overlong form, a
// surrogate or a code point past U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // overlong
        else if (lead == 0xED)
            high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;  // overlong
        else if (lead == 0xF4)
            high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

void appendUnicodeEscape(std::string& out, unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", c);
    out += buf;
}

}  // namespace

std::string JsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    while (!text.empty()) {
        const unsigned char c = static_cast<unsigned char>(text.front());
        std::size_t length = 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    appendUnicodeEscape(out, c);
                } else if (std::size_t n = utf8SequenceLength(text); n > 0) {
                    length = n;
                    out.append(text.substr(0, n));
                } else {
                    // Not UTF-8 (a name in a legacy 8-bit code page, say): the byte becomes the
                    // code point of the same value, so the line stays valid JSON and the byte
                    // can still be read back from it.
                    appendUnicodeEscape(out, c);
                }
        }
        text.remove_prefix(length);
    }
    return out;
}

void LogSeamRecord(const SeamRecord& r) {
    const char* path = std::getenv("KORRIN_MESSAGE_LOG");
    if (!path || !*path)
        return;
    std::string line =
        "{\"kind\":\"" + JsonEscape(r.kind) + "\",\"caption\":\"" + JsonEscape(r.caption) +
        "\",\"icon\":\"" + JsonEscape(r.icon) + "\",\"buttons\":\"" + JsonEscape(r.buttons) +
        "\",\"text\":\"" + JsonEscape(r.text) + "\",\"source\":\"" + JsonEscape(r.source) +
        "\",\"line\":" + std::to_string(r.line) + ",\"answer\":\"" + JsonEscape(r.answer) + "\"";
    if (!r.detail.empty())
        line += ",\"detail\":\"" + JsonEscape(r.detail) + "\"";
    line += "}\n";
    // One write() on an O_APPEND descriptor: lines from several threads or processes never
    // interleave.
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "korrin: cannot open message log %s\n", path);
        return;
    }
    ssize_t written = ::write(fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size()))
        std::fprintf(stderr, "korrin: short write to message log %s\n", path);
    ::close(fd);
}

std::string ModuleName(std::string_view sourcePath) {
    auto slash = sourcePath.find_last_of("/\\");
    if (slash != std::string_view::npos)
        sourcePath.remove_prefix(slash + 1);
    auto dot = sourcePath.find('.');
    return std::string(sourcePath.substr(0, dot));
}

SeamRecord BoxRecord(const std::string& text, const std::string& caption, unsigned type,
                     const SourceLocation& where) {
    SeamRecord record;
    record.kind = "messagebox";
    record.caption = caption;
    record.icon = IconName(type);
    record.buttons = ButtonsName(type);
    record.text = text;
    record.source = ModuleName(where.file_name());
    record.line = static_cast<int>(where.line());
    return record;
}

int ConsoleMessageBox(const std::string& text, const std::string& caption, unsigned type,
                      const SourceLocation& where) {
    SeamRecord record = BoxRecord(text, caption, type, where);
    int answer;
    if (AnswersScripted()) {
        answer = TakeScriptedAnswer(type);
    } else {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        answer = DefaultAnswer(type);
    }
    record.answer = AnswerName(answer);
    LogSeamRecord(record);
    return answer;
}

}  // namespace korrin::platform
