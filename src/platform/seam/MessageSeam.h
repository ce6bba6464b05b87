// The one seam every message box and event report passes through, so that the program can
// be driven without a person:
//  - KORRIN_MESSAGE_LOG: a file that gets one JSON line per box or report (kind, caption,
//    icon, buttons, text, source, line, answer, and for reports the report line);
//  - KORRIN_MESSAGE_ANSWERS: comma-separated answers (OK, Yes, No, Cancel, Continue, Abort,
//    Retry, Ignore) taken in order, one per box. While it is set no box is shown; once the
//    list is used up, or when an answer is not one of the box's buttons, the box takes its
//    default button.
// Safe from any thread; the log line is written with one append so processes sharing a log
// do not mix their lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korrin::platform {

// Dialog results, by the numbers callers compare them with.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDCONTINUE = 11;

// Button sets, icons and default buttons of a message box.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
constexpr unsigned MB_YESNOCANCEL = 0x3;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_RETRYCANCEL = 0x5;
// Continue (default) and Abort: the program's own set, for notices that may end the program.
constexpr unsigned MB_CONTINUEABORT = 0x6;
constexpr unsigned MB_TYPEMASK = 0xF;
constexpr unsigned MB_ICONSTOP = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_ICONMASK = 0xF0;
constexpr unsigned MB_DEFBUTTON1 = 0x000;
constexpr unsigned MB_DEFBUTTON2 = 0x100;
constexpr unsigned MB_DEFBUTTON3 = 0x200;
constexpr unsigned MB_DEFMASK = 0xF00;

// Where a box was asked for. The compiler fills it in as a default argument (the standard
// library's own kind needs a newer clang than the fuzz builds use).
struct SourceLocation {
    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            int line = __builtin_LINE()) {
        return SourceLocation{file, line};
    }
    const char* file_name() const { return file; }
    int line() const { return lineNumber; }
    const char* file;
    int lineNumber;
};

struct SeamRecord {
    std::string kind;  // "messagebox", "report" or "tip"
    std::string caption;
    std::string icon;     // "stop", "question", "exclamation", "information", "none"
    std::string buttons;  // "OK", "OKCancel", "YesNo", "YesNoCancel", "RetryCancel", ...
    std::string text;
    std::string source;  // module that showed it
    int line = 0;
    std::string answer;  // "OK", "Yes", ...
    std::string detail;  // reports: the report line as shown; tips: "button|link"
};

// The buttons of a box type, in order, and its default (first unless MB_DEFBUTTONn).
std::string ButtonsName(unsigned type);
std::string IconName(unsigned type);
int DefaultAnswer(unsigned type);
bool AnswerFits(unsigned type, int answer);
std::string AnswerName(int answer);
std::optional<int> ParseAnswer(std::string_view word);
// The comma-separated list of KORRIN_MESSAGE_ANSWERS; blank entries are skipped, words that
// are no answer stay in their place as nullopt.
std::vector<std::optional<int>> ParseAnswerList(std::string_view list);

// True while KORRIN_MESSAGE_ANSWERS is set: boxes are answered from it and never shown.
bool AnswersScripted();

// The next scripted answer for a box of this type (its default once the list is used up or
// when the answer does not fit the box). Only meaningful while AnswersScripted().
int TakeScriptedAnswer(unsigned type);

// Appends the record to KORRIN_MESSAGE_LOG when that is set.
void LogSeamRecord(const SeamRecord& record);

// The log record of a message box, without its answer.
SeamRecord BoxRecord(const std::string& text, const std::string& caption, unsigned type,
                     const SourceLocation& where);

// A message box where no window can show it: answered from the script while one is set,
// otherwise printed on standard error and answered with its default button; logged either way.
int ConsoleMessageBox(const std::string& text, const std::string& caption, unsigned type,
                      const SourceLocation& where);

// The module name of a source file path: "src/korrin/app/Utils.cpp" gives "Utils".
std::string ModuleName(std::string_view sourcePath);

// JSON string escaping. Well-formed UTF-8 passes through; control characters, and every byte
// that is not part of a well-formed UTF-8 sequence, become \u00XX, so the result is always
// valid JSON text.
std::string JsonEscape(std::string_view text);

}  // namespace korrin::platform
