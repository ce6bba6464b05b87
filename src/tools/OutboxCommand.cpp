// korrinctl outbox send: one transmission session without windows, the same session and
// worker as the program's, for cron jobs and timers. Boxes go through the message seam.
#include <QCoreApplication>
#include <QTimer>

#include <cerrno>
#include <cstring>
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
    and "moved<TAB>FILE<TAB>NEW FILE" or "not moved<TAB>FILE" for a message an earlier session
    sent but could not move, then the session's end. Exit status: 0 when every message was
    sent and moved (or none waited), 1 when some were not, 3 when InstallDir is missing or
    the Outbox cannot be locked, 4 when another session is sending.
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
    auto waiting = [](DWORD* count) {
        std::vector<std::string> accepted;
        if (CountMessages(kOutbox, count) != 0 || FindAcceptedMessages(&accepted) != 0)
            return 1;
        *count += static_cast<DWORD>(accepted.size());
        return 0;
    };
    DWORD count = 0;
    if (waiting(&count) != 0)
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
        if (r.earlier) {
            if (r.moved)
                out << "moved\t" << r.path << "\t" << r.placed << "\n";
            else
                out << "not moved\t" << r.path << "\n";
            allSent = allSent && r.moved;
        } else if (r.code == 0) {
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
        const int why = session.LastStartError();
        if (why == 0 && waiting(&count) == 0 && count == 0) {
            out << "empty\n";
            return kExitOk;
        }
        if (why == EWOULDBLOCK) {
            err << "korrinctl outbox: another session is sending this Outbox\n";
            return kExitBusy;
        }
        // The lock file could not be made or opened (a read-only Outbox, a full disk...).
        err << "korrinctl outbox: cannot lock this Outbox: "
            << (why != 0 ? std::strerror(why) : "no session could be started") << "\n";
        return kExitFailed;
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
