// The windows the mail core needs to show: the Preferences sheet with the SMTP page alone (a
// required SMTP setting is missing) and the "Dial Up Connections" dialog (the server cannot be
// reached). The core asks for them through this interface; the program installs the windows'
// implementation at start-up. Without one (korrinctl, tests of the core) nothing is shown and
// the caller goes on as if the user had closed the window.
//
// May be called from any thread; an implementation that needs the user-interface thread hands
// the work over itself and returns once the window has been closed.
#pragma once

namespace korrin {

class IMailDialogs {
  public:
    virtual ~IMailDialogs() = default;
    // owner: the window the dialog belongs to (a QWidget* in the program), or null.
    virtual void ShowSmtpPreferences(void* owner) = 0;
    virtual void ShowDialUpConnections(void* owner) = 0;
};

// The implementation must outlive its installation; null removes it. Call before any worker
// starts.
void InstallMailDialogs(IMailDialogs* dialogs);
// Shows the window through the installed implementation; false when none is installed.
bool ShowSmtpPreferences(void* owner);
bool ShowDialUpConnections(void* owner);

}  // namespace korrin
