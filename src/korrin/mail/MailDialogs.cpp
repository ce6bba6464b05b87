#include "korrin/mail/MailDialogs.h"

#include <atomic>

namespace korrin {

namespace {
std::atomic<IMailDialogs*> g_dialogs{nullptr};
}

void InstallMailDialogs(IMailDialogs* dialogs) {
    g_dialogs.store(dialogs);
}

bool ShowSmtpPreferences(void* owner) {
    IMailDialogs* d = g_dialogs.load();
    if (!d)
        return false;
    d->ShowSmtpPreferences(owner);
    return true;
}

bool ShowDialUpConnections(void* owner) {
    IMailDialogs* d = g_dialogs.load();
    if (!d)
        return false;
    d->ShowDialUpConnections(owner);
    return true;
}

}  // namespace korrin
