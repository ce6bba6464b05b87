// Ending the program from code that does not own its main window (a library loaded into the
// program): the main window registers how it ends, the same way as when the user closes it.
// Threads: the user-interface thread only.
#pragma once

#include <functional>

namespace korrin::platform {

// The main window's way of ending the program; an empty function removes it.
void SetProgramEndHandler(std::function<void()> handler);

// Ends the program through the registered handler. False when none is registered: the caller
// then ends what it can itself (its own windows).
bool RequestProgramEnd();

}  // namespace korrin::platform
