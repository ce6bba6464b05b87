#include "korrin/ui/Desktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QVariantMap>

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "platform/files/Files.h"
#include "platform/process/Process.h"

namespace korrin {

using namespace platform;

namespace {

std::string onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty())
            continue;
        const std::string candidate = dir + "/" + name;
        if (FileExists(candidate) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

}  // namespace

std::vector<std::vector<std::string>> MixerCandidates() {
    std::vector<std::vector<std::string>> out;
    const std::string tools = GetWindowsDirectory();
    if (!tools.empty() && FileExists(tools + "/sndvol32"))
        out.push_back({tools + "/sndvol32"});
    if (std::string p = onPath("pavucontrol"); !p.empty())
        out.push_back({p});
    if (std::string p = onPath("gnome-control-center"); !p.empty())
        out.push_back({p, "sound"});
    if (std::string mixer = onPath("alsamixer"); !mixer.empty())
        if (std::string term = onPath("x-terminal-emulator"); !term.empty())
            out.push_back({term, "-e", mixer});
    return out;
}

bool StartMixer() {
    StartOptions options;
    options.hidden = false;
    const std::string tools = GetWindowsDirectory();
    if (DirectoryExists(tools))
        options.workingDirectory = tools;
    for (const auto& argv : MixerCandidates()) {
        ProcessHandle process;
        if (CreateProcess(argv, options, &process)) {
            CloseHandle(process);  // not waited for; collected when it ends
            return true;
        }
    }
    return false;
}

bool NotifyDesktop(int sent, int failed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")))
        return false;
    QDBusInterface notifications(QStringLiteral("org.freedesktop.Notifications"),
                                 QStringLiteral("/org/freedesktop/Notifications"),
                                 QStringLiteral("org.freedesktop.Notifications"), bus);
    QString body;
    if (sent > 0)
        body += QStringLiteral("%1 message(s) sent.").arg(sent);
    if (failed > 0)
        body += QStringLiteral("%1%2 message(s) could not be sent and wait in the Outbox.")
                    .arg(body.isEmpty() ? QString() : QStringLiteral(" "))
                    .arg(failed);
    QDBusReply<unsigned> reply = notifications.call(
        QStringLiteral("Notify"), QStringLiteral("Korrin"), 0u, QStringLiteral("korrin"),
        QStringLiteral("Quillion EMail for Windows(tm)"), body, QStringList(), QVariantMap(), -1);
    return reply.isValid();
}

}  // namespace korrin
