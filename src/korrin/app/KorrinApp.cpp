#include "app/KorrinApp.h"

#include "app/Defaults.h"
#include "app/EventReport.h"
#include "platform/registry/Registry.h"
#include "ui/KorrinDlg.h"

namespace korrin {

using namespace platform;

CommandLine ParseCommandLine(std::string_view text) {
    CommandLine result;
    if (text.empty())
        return result;
    if (text.front() == '?') {
        result.kind = CommandLine::kUsage;
        return result;
    }
    result.kind = CommandLine::kFile;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    result.path = std::string(text);
    return result;
}

std::string JoinArguments(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

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
