// korrinctl outbox send: one transmission session without windows, the same session and
// worker as the program's, for cron jobs and timers. Boxes go through the message seam.
#include <QCoreApplication>
#include <QTimer>

#include <ostream>
#include <string>
#include <vector>

#include "korrin/transmit/Transmit.h"
#include "tools/Area.h"

namespace korrin::tools {

namespace {

constexpr int kExitNotAllSent = 1;
constexpr int kExitBusy = 4;

const char kOutboxUsage[] =
    R"(korrinctl outbox send
    Run one transmission session: the Outbox newest first, one message after the other, each
    sent message moved to Sent Items with its sending time as its date. Prints one line per
    message: "sent<TAB>FILE<TAB>NEW FILE", "failed <code><TAB>FILE" or "not sent<TAB>FILE",
    then the session's end. Exit status: 0 when every message was sent (or none waited),
    1 when some were not, 3 when InstallDir is missing, 4 when another session is sending.
)";

const char* reasonText(SessionEnd::Reason r) {
    switch (r) {
        case SessionEnd::kDone:
            return "done";
        case SessionEnd::kStopped:
            return "stopped";
        case SessionEnd::kSettingsMissing:
            return "settings missing";
        case SessionEnd::kNoConnection:
            return "no connection";
        case SessionEnd::kEmpty:
            return "empty";
    }
    return "?";
}

int runOutbox(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kOutboxUsage;
        return kExitOk;
    }
    if (args.size() != 1 || args[0] != "send") {
        err << kOutboxUsage;
        return kExitUsage;
    }
    std::string installDir;
    if (ReadInstallDir(installDir) != 0)
        return kExitFailed;
    DWORD count = 0;
    if (CountMessages(kOutbox, &count) != 0)
        return kExitFailed;
    if (count == 0) {
        out << "empty\n";
        return kExitOk;
    }

    int argc = 1;
    char name[] = "korrinctl";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CTransmitDlg session(nullptr, nullptr);
    bool allSent = true;
    session.SetMessageDone([&](const TransmitResult& r) {
        if (r.code == 0) {
            out << "sent\t" << r.path << "\t" << (r.moved ? r.placed : r.path) << "\n";
            allSent = allSent && r.moved;
        } else {
            out << "failed " << r.code << "\t" << r.path << "\n";
            allSent = false;
        }
        out.flush();
    });
    session.SetSessionEnded([&](const SessionEnd& end) {
        for (const auto& path : end.notSent)
            out << "not sent\t" << path << "\n";
        out << "end\t" << reasonText(end.reason);
        if (end.code != 0)
            out << " " << end.code;
        out << "\n";
        if (!end.notSent.empty() ||
            (end.reason != SessionEnd::kDone && end.reason != SessionEnd::kEmpty))
            allSent = false;
        QCoreApplication::exit(0);
    });
    if (!session.OutboxTimerTick()) {
        if (CountMessages(kOutbox, &count) == 0 && count == 0) {
            out << "empty\n";
            return kExitOk;
        }
        // Messages wait, yet no session started: another one holds the Outbox.
        err << "korrinctl outbox: another session is sending this Outbox\n";
        return kExitBusy;
    }
    if (session.IsTransmitting())
        QCoreApplication::exec();
    session.WaitForWorker();
    return allSent ? kExitOk : kExitNotAllSent;
}

const KorrinctlArea kOutboxArea({50, "outbox", "send what waits in the Outbox", kOutboxUsage,
                                 runOutbox});

}  // namespace

}  // namespace korrin::tools
