// Start-up: make sure the program's registry key exists, read the command line (see
// korrin/app/StartLine.h) and run the main window modally for the whole life of the program.
#pragma once

#include <string>

#include "korrin/app/StartLine.h"

namespace korrin {

class CKorrinApp {
  public:
    // Runs the program for the given command line; returns the exit code. Needs a
    // QApplication (the user-interface thread is the calling one).
    int InitInstance(const std::string& commandLine);
};

}  // namespace korrin
