// The file dialogs' seam: KORRIN_FILE_ANSWERS names a file with one answer per line, taken in
// order, one per file dialog: a path, or the word Cancel. Every answer is logged to
// KORRIN_MESSAGE_LOG as a record of kind "filedialog" (caption: the dialog's title, text: the
// initial name, answer: the path or "Cancel"). While the variable is set no file dialog is
// shown; once the answers are used up every dialog is cancelled. A file whose content changes
// starts a new list from its first answer.
//
// Safe from any thread; the position in the file is kept per process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korrin::platform {

struct FileDialogRequest {
    bool save = true;  // a save dialog; false: an open dialog
    std::string title;
    std::string filterName;  // "Quillion EMail(tm) files (*.kx0;*.kx1)"
    std::string patterns;    // "*.kx0;*.kx1"
    std::string defaultExtension;
    std::string initialName;
};

// The answers of an answers file's text: one per line that is not blank, without the blanks
// and tabs around it (a CR before the LF is dropped too). "Cancel" stays a word here.
std::vector<std::string> ParseFileAnswers(std::string_view text);

// True while KORRIN_FILE_ANSWERS is set.
bool FileAnswersScripted();

// The next answer (nullopt for Cancel, and once the answers are used up or the file cannot be
// read), logged. Only meaningful while FileAnswersScripted().
std::optional<std::string> TakeFileAnswer(const FileDialogRequest& request);

// Logs the answer of a dialog a person answered (nullopt: Cancel), so the log tells what
// every dialog gave whoever answered it.
void LogFileAnswer(const FileDialogRequest& request, const std::optional<std::string>& answer);

}  // namespace korrin::platform
