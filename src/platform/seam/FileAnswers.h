// The file dialogs' side of the automation seam. KORRIN_FILE_ANSWERS names a file with one
// answer per line: a path, or "Cancel". Each file dialog of the process takes the next line in
// order; while the variable is set no file dialog is shown, and once the lines run out every
// further dialog is cancelled. Every answer, scripted or given by a person, is logged to
// KORRIN_MESSAGE_LOG as a record of kind "filedialog" whose answer is the path or "Cancel".
//
// Safe from any thread; the answers are handed out one at a time.
#pragma once

#include <optional>
#include <string>

#include "platform/seam/MessageSeam.h"

namespace korrin::platform {

// True while KORRIN_FILE_ANSWERS is set.
bool FileAnswersScripted();

// The next scripted answer: the path, or "" for Cancel (also once the lines are used up or the
// file cannot be read). Only meaningful while FileAnswersScripted().
std::string TakeFileAnswer();

// Logs one file dialog: its title, the name it suggested, and the answer ("" for Cancel).
void LogFileAnswer(const std::string& title, const std::string& suggested,
                   const std::string& answer, const SourceLocation& where);

}  // namespace korrin::platform
