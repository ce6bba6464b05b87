// Opens the message window on a wave file, with a small owner of its own, for checks from
// outside the process: the accessibility bus test, screenshots under Xvfb and the kill test.
//   player_window compose|view FILE [RECORD_AFTER_MS] [QUIT_AFTER_MS]
//   player_window send FILE RECORD_AFTER_MS STOP_AFTER_MS MARK_FILE SUBJECT
// In compose mode the window starts recording after RECORD_AFTER_MS (0: never); the program
// ends after QUIT_AFTER_MS (default 20000) whatever the window does. In send mode the subject
// is typed at once, the window records from RECORD_AFTER_MS to STOP_AFTER_MS, then the To
// field is filled and Send given; MARK_FILE gets a line "record NS" when the recording starts
// and "stop NS" when it stops (NS: the monotonic clock in nanoseconds).
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "korrin/app/Defaults.h"
#include "korrin/store/Trailer.h"
#include "korrin/ui/FormatChoose.h"
#include "korrin/ui/Player.h"
#include "korrin/ui/ReportDlg.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialog.h"

namespace {

class Owner : public korrin::PlayerOwner {
  public:
    QWidget* OwnerWindow() override { return nullptr; }
    void OnOwnerCommand(int id) override { std::printf("owner command %d\n", id); }
    bool& MapiLoaded() override { return loaded_; }
    bool& MapiStarted() override { return started_; }
    void MarkOutboxOutOfDate() override {}

  private:
    bool loaded_ = false;
    bool started_ = false;
};

void mark(const std::string& file, const char* what) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    std::ofstream out(file, std::ios::app);
    out << what << ' ' << ns << '\n';
    out.flush();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: player_window compose|view FILE [RECORD_AFTER_MS] "
                     "[QUIT_AFTER_MS]\n");
        return 2;
    }
    QApplication app(argc, argv);
    korrin::InstallDialogReportSink();
    korrin::InstallAudioWindows();
    {
        korrin::platform::RegKeyGuard key;
        korrin::platform::RegCreateKeyEx(korrin::platform::HKEY_LOCAL_MACHINE, korrin::kKorrinKey,
                                         key.out());
    }
    const bool send = std::string(argv[1]) == "send";
    if (send && argc < 7) {
        std::fprintf(stderr,
                     "usage: player_window send FILE RECORD_AFTER_MS STOP_AFTER_MS "
                     "MARK_FILE SUBJECT\n");
        return 2;
    }
    const bool compose = send || std::string(argv[1]) == "compose";
    const int recordAfter = argc > 3 ? std::atoi(argv[3]) : 0;
    const int stopAfter = send ? std::atoi(argv[4]) : 0;
    const int quitAfter = send ? stopAfter + 60000 : argc > 4 ? std::atoi(argv[4]) : 20000;
    Owner owner;
    korrin::CMessageTrailer record;
    record.subject = "Greetings";
    record.senderName = "Bob Example";
    record.senderAddress = "bob@example.org";
    record.toNames = "Ann Example";
    record.longDate = "Tuesday, March 2, 1999 4:05 PM";
    record.note = "Call me back when you can.";
    if (send)
        record.subject = argv[6];  // the composer starts with it
    korrin::CPlayer player(&owner, argv[2], record,
                           compose ? korrin::kModeCompose : korrin::kModeView,
                           compose ? korrin::kKindNew : korrin::kKindOpen);
    if (send) {
        const std::string markFile = argv[5];
        QTimer::singleShot(recordAfter, &player, [&, markFile] {
            player.OnCommand(korrin::CPlayer::kRecordId);
            mark(markFile, "record");
        });
        QTimer::singleShot(stopAfter, &player, [&, markFile] {
            player.OnCommand(korrin::CPlayer::kStopId);
            mark(markFile, "stop");
            korrin::platform::SetDlgItemText(&player, korrin::CPlayer::kToId,
                                             QStringLiteral("bob@example.org"));
            player.OnCommand(korrin::CPlayer::kSend);
        });
    } else if (compose && recordAfter > 0) {
        QTimer::singleShot(recordAfter, &player,
                           [&] { player.OnCommand(korrin::CPlayer::kRecordId); });
    }
    QTimer::singleShot(quitAfter, &player, [&] { player.EndDialog(korrin::platform::IDCANCEL); });
    std::printf("result %d\n", player.DoModal());
    return 0;
}
