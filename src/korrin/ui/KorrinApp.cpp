#include "korrin/ui/KorrinApp.h"

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/ui/KorrinDlg.h"
#include "platform/registry/Registry.h"

namespace korrin {

using namespace platform;

int CKorrinApp::InitInstance(const std::string& commandLineText) {
    // Every settings routine only opens the program's key, so it must exist before anything
    // reads a setting. A failure shows up at the first read ("RegOpenKeyEx failed").
    {
        RegKeyGuard key;
        RegCreateKeyEx(HKEY_LOCAL_MACHINE, kKorrinKey, key.out());
    }

    CKorrinDlg dlg;
    CommandLine commandLine = ParseCommandLine(commandLineText);
    switch (commandLine.kind) {
        case CommandLine::kUsage:
            CEventReport().ShowError(kUsageText);
            return 0;
        case CommandLine::kFile:
            dlg.SetFileToOpen(commandLine.path);
            break;
        case CommandLine::kNone:
            dlg.SetFileToOpen("");
            break;
    }
    dlg.DoModal();
    return 0;
}

}  // namespace korrin
