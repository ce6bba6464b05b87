// The open and save file dialogs: Qt's own (never the desktop's), answered from
// KORRIN_FILE_ANSWERS while that is set (see platform/seam/FileAnswers.h). The file-name
// patterns match without regard to case, so "*.wav" also shows "VOICE.WAV".
#pragma once

#include <string>
#include <vector>

#include "platform/seam/MessageSeam.h"

class QWidget;

namespace korrin::platform {

struct FileDialogSpec {
    bool save = false;  // a save dialog asks before replacing an existing file
    std::string title;
    std::string filterName;             // "Wave files (*.WAV)"
    std::vector<std::string> patterns;  // "*.wav"
    std::string defaultExtension;       // added to a typed name without one ("wav")
    std::string initialName;  // a path or a pattern; its folder is where the dialog starts
};

// The chosen path, or "" when the user cancelled. Runs modally on the user-interface thread.
std::string GetFileName(QWidget* owner, const FileDialogSpec& spec,
                        const SourceLocation& where = SourceLocation::current());

// The name filter line Qt shows: the name, then every pattern in lower and upper case.
std::string FileDialogFilter(const FileDialogSpec& spec);

}  // namespace korrin::platform
