#include "korrin/ui/KorrinApp.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/ui/KorrinDlg.h"
#include "korrin/ui/SingleInstance.h"
#include "korrin/ui/WindowScript.h"
#include "platform/registry/Registry.h"

namespace korrin {

using namespace platform;

namespace {

int gSignalPipe[2] = {-1, -1};

void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(gSignalPipe[1], &byte, 1);
}

// SIGTERM (and SIGHUP, a closed terminal) end the program the way log-out does. The signal
// handler only writes a byte; the window does the work on the user-interface thread.
class TerminateWatch {
  public:
    explicit TerminateWatch(CKorrinDlg& dlg) {
        if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, &dlg, [&dlg] {
            char buffer[16];
            while (::read(gSignalPipe[0], buffer, sizeof buffer) > 0) {
            }
            dlg.EndWithoutAsking();
        });
        struct sigaction sa {};
        sa.sa_handler = onTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &sa, &oldTerm_);
        ::sigaction(SIGHUP, &sa, &oldHup_);
    }
    ~TerminateWatch() {
        if (!notifier_)
            return;
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        ::sigaction(SIGHUP, &oldHup_, nullptr);
    }

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldTerm_ {};
    struct sigaction oldHup_ {};
};

}  // namespace

int CKorrinApp::InitInstance(const std::string& commandLineText) {
    // Every settings routine only opens the program's key, so it must exist before anything
    // reads a setting. A failure shows up at the first read ("RegOpenKeyEx failed").
    {
        RegKeyGuard key;
        RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out());
    }

    // Benchmarks watch the event loop from the start.
    std::unique_ptr<CStallProbe> probe = CStallProbe::FromEnvironment();

    CommandLine commandLine = ParseCommandLine(commandLineText);
    if (commandLine.kind == CommandLine::kUsage) {
        CEventReport().ShowError(kUsageText);
        return 0;
    }
    std::string path;
    if (commandLine.kind == CommandLine::kFile)
        path = QFileInfo(QString::fromStdString(commandLine.path)).absoluteFilePath().toStdString();

    // One running program: a later start hands its file over and ends.
    CSingleInstance instance;
    if (!instance.Claim() && instance.HandOver(path))
        return 0;

    CKorrinDlg dlg;
    dlg.SetFileToOpen(path);
    instance.SetHandlers([&dlg](const std::string& file) { dlg.OpenHandedOver(file); },
                         [&dlg] { SendMessage(&dlg, CKorrinDlg::kRestoreRequest); });
    TerminateWatch terminate(dlg);
    if (probe)
        probe->WatchShow(&dlg);
    std::string scriptError;
    std::unique_ptr<CWindowScript> script =
        CWindowScript::FromEnvironment(dlg, probe.get(), &scriptError);
    if (!scriptError.empty()) {
        std::fprintf(stderr, "korrin: KORRIN_SCRIPT: %s\n", scriptError.c_str());
        return 2;
    }
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QObject::connect(gui, &QGuiApplication::commitDataRequest, &dlg,
                         [&dlg](QSessionManager&) { dlg.EndWithoutAsking(); });
    }
    dlg.DoModal();
    return 0;
}

}  // namespace korrin
