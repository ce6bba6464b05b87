// The user-interface thread: every window, dialog and timer lives there. Worker threads that
// need a box or a dialog hand the work over and wait for it.
#pragma once

#include <functional>

namespace korrin::platform {

// A QApplication exists, so windows can be shown.
bool HaveGui();

// The calling thread is the user-interface thread (true when there is no application).
bool OnUiThread();

// Runs fn on the user-interface thread and returns once it has run. From a worker this blocks
// only the worker; the user-interface thread keeps serving its events meanwhile.
void RunOnUiThread(const std::function<void()>& fn);

// The same for a modal box or dialog: calls from workers run one after another, each only
// once the one before it has closed, so two reports never stand on top of each other. A call
// on the user-interface thread itself runs at once.
void RunModalOnUiThread(const std::function<void()>& fn);

// The wait cursor for the life of the object (user-interface thread only; nothing elsewhere).
class CWaitCursor {
  public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

  private:
    bool active_ = false;
};

}  // namespace korrin::platform
