#include "korrin/ui/SharedCommands.h"

#include "korrin/ui/Format.h"
#include "korrin/ui/HelpDlg.h"
#include "korrin/ui/ReportDlg.h"
#include "korrin/ui/ZipDlg.h"

namespace korrin {

bool RunSharedCommand(int id, QWidget* parent) {
    constexpr int kAbout = 40011, kHelp = 40020, kQuality = 40029, kAdvancedFormats = 40030;
    switch (id) {
        case kAbout: {
            CAboutDlg about(parent);
            about.DoModal();
            return true;
        }
        case kHelp:
            ShowHelp(parent);
            return true;
        case kQuality: {
            CZipDlg quality(parent);
            quality.DoModal();
            return true;
        }
        case kAdvancedFormats: {
            CFormatDlg formats(parent);
            formats.DoModal();
            return true;
        }
        default:
            return false;
    }
}

}  // namespace korrin
