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
// on the user-interface thread itself runs at once. What fn throws is thrown again in the
// caller's thread, and the calls after it run as usual.
//
// Returns false, without running fn, when the user-interface thread will not serve a worker's
// call: the application is quitting or gone, or the user-interface thread holds a
// UiWaitsForWorkers. A call already queued then returns false too, as long as fn has not
// started. The caller takes its default answer (MessageBox logs the box with it).
bool RunModalOnUiThread(const std::function<void()>& fn);

// Held by the user-interface thread while it blocks waiting for workers (joining a thread,
// waiting for a sending run to stop): the boxes and reports workers ask for meanwhile, queued
// or new, are answered with their default instead of waiting for a thread that cannot show
// them. Scopes nest; on any other thread the object does nothing.
class UiWaitsForWorkers {
  public:
    UiWaitsForWorkers();
    ~UiWaitsForWorkers();
    UiWaitsForWorkers(const UiWaitsForWorkers&) = delete;
    UiWaitsForWorkers& operator=(const UiWaitsForWorkers&) = delete;

  private:
    bool active_;
};

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
