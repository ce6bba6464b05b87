#include <QApplication>

#include <cstdio>
#include <cstring>

#include "korrin/app/Vendor.h"
#include "korrin/ui/FormatChoose.h"
#include "korrin/ui/KorrinApp.h"
#include "korrin/ui/NewVersionDlg.h"
#include "korrin/ui/Preferences.h"
#include "korrin/ui/ReportDlg.h"
#include "korrin/ui/Resources.h"

namespace {

constexpr const char* kHelp =
    "Usage: korrin [FILE]\n"
    "Records, sends and plays voice messages.\n"
    "\n"
    "  korrin          open the main window on the message folders\n"
    "  korrin FILE     play the message file FILE (.kx0 or .kx1); the file itself is never\n"
    "                  changed (a file named like an option: korrin ./--help)\n"
    "  korrin --help   show this text\n"
    "  korrin --write-icons DIR\n"
    "                  write the program and message icons into the icon theme folder DIR\n"
    "                  (set-up uses it: DIR is .../icons/hicolor)\n"
    "  korrin --version\n"
    "                  show the version\n"
    "\n"
    "Settings are kept in $KORRIN_REGISTRY (default $XDG_CONFIG_HOME/korrin/registry.db);\n"
    "korrinctl reads and changes them from a shell.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window system is needed, so they work from any terminal.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("korrin %s\n", korrin::vendor::kVersion);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korrin"));
    // Docks and task bars match the window to the desktop file (and its icon) by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("korrin"));
    if (argc == 3 && std::strcmp(argv[1], "--write-icons") == 0)
        return korrin::res::WriteIconTheme(argv[2]) ? 0 : 1;
    QApplication::setWindowIcon(korrin::res::LoadIcon(korrin::res::kProgramIcon));
    korrin::InstallDialogReportSink();
    korrin::InstallMailDialogWindows();
    korrin::InstallAudioWindows();
    korrin::InstallNewVersionWindow();
    korrin::CKorrinApp theApp;
    return theApp.InitInstance(korrin::JoinArguments(argc, argv));
}
