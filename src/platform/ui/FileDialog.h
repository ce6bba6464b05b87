// The open and save file dialogs: Qt's own (never the desktop's), answered from
// KORRIN_FILE_ANSWERS while that is set (see platform/seam/FileAnswers.h). The file-name
// patterns match without regard to case, so "*.wav" also shows "VOICE.WAV".
#pragma once

#include <optional>
#include <string>

#include "platform/seam/FileAnswers.h"

class QWidget;

namespace korrin::platform {

// The chosen path, or nullopt when the user cancelled. Runs modally on the user-interface
// thread. The request's patterns are separated by ';'.
std::optional<std::string> GetFileName(QWidget* owner, const FileDialogRequest& request);

// The name filter Qt is given: the visible name, then every pattern in lower and upper case.
std::string FileDialogFilter(const FileDialogRequest& request);

}  // namespace korrin::platform
