// Opens the message window on a wave file, with a small owner of its own, for checks from
// outside the process: the accessibility bus test and screenshots under Xvfb.
//   player_window compose|view FILE [RECORD_AFTER_MS] [QUIT_AFTER_MS]
// In compose mode the window starts recording after RECORD_AFTER_MS (0: never); the program
// ends after QUIT_AFTER_MS (default 20000) whatever the window does.
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "korrin/app/Defaults.h"
#include "korrin/store/Trailer.h"
#include "korrin/ui/FormatChoose.h"
#include "korrin/ui/Player.h"
#include "korrin/ui/ReportDlg.h"
#include "platform/registry/Registry.h"

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
    const bool compose = std::string(argv[1]) == "compose";
    const int recordAfter = argc > 3 ? std::atoi(argv[3]) : 0;
    const int quitAfter = argc > 4 ? std::atoi(argv[4]) : 20000;
    Owner owner;
    korrin::CMessageTrailer record;
    record.subject = "Greetings";
    record.senderName = "Bob Example";
    record.senderAddress = "bob@example.org";
    record.toNames = "Ann Example";
    record.longDate = "Tuesday, March 2, 1999 4:05 PM";
    record.note = "Call me back when you can.";
    korrin::CPlayer player(&owner, argv[2], record,
                           compose ? korrin::kModeCompose : korrin::kModeView,
                           compose ? korrin::kKindNew : korrin::kKindOpen);
    if (compose && recordAfter > 0)
        QTimer::singleShot(recordAfter, &player,
                           [&] { player.OnCommand(korrin::CPlayer::kRecordId); });
    QTimer::singleShot(quitAfter, &player, [&] { player.EndDialog(korrin::platform::IDCANCEL); });
    std::printf("result %d\n", player.DoModal());
    return 0;
}
