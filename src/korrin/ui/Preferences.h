// The "Preferences" sheet: the SMTP page, then the Outbox page and the Deleted page, made when
// opened and destroyed when closed. The Outbox and Deleted pages belong to the transmission and
// the main window; each registers how its page is made, and a page not registered is left out.
#pragma once

#include <functional>
#include <memory>

#include "platform/ui/PropertySheet.h"

namespace korrin {

class CPreferences : public platform::CPropertySheet {
  public:
    explicit CPreferences(QWidget* parent = nullptr);
};

enum class PreferencesSlot { kOutbox, kDeleted };
using PageMaker = std::function<std::unique_ptr<platform::CPropertyPage>()>;
// Registers (or with an empty maker, removes) the page of a slot. User-interface thread.
void SetPreferencesPage(PreferencesSlot slot, PageMaker maker);

// The whole sheet, first page active (menu Edit, "&Preferences...", command 32773). Returns
// the sheet's result (IDOK or IDCANCEL).
inline constexpr int kPreferencesCommand = 32773;
int OpenPreferences(QWidget* parent);
// The sheet with the SMTP page alone, for a missing SMTP setting.
int OpenSmtpPreferences(QWidget* parent);

// Installs the windows the mail core asks for (the SMTP-only sheet; the dial-up dialog) so
// they run on the user-interface thread whichever thread asks.
void InstallMailDialogWindows();

}  // namespace korrin
