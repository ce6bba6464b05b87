#include "korrin/ui/Preferences.h"

#include <map>

#include "korrin/mail/MailDialogs.h"
#include "korrin/ui/DialUpDlg.h"
#include "korrin/ui/SmtpPage.h"
#include "platform/ui/UiThread.h"

namespace korrin {

namespace {

std::map<PreferencesSlot, PageMaker>& Makers() {
    static std::map<PreferencesSlot, PageMaker> makers;
    return makers;
}

class MailDialogWindows : public IMailDialogs {
  public:
    void ShowSmtpPreferences(void* owner) override {
        platform::RunModalOnUiThread([&] { OpenSmtpPreferences(static_cast<QWidget*>(owner)); });
    }
    void ShowDialUpConnections(void* owner) override {
        platform::RunModalOnUiThread([&] {
            CDialUpDlg dlg(static_cast<QWidget*>(owner));
            dlg.DoModal();
        });
    }
};

}  // namespace

CPreferences::CPreferences(QWidget* parent)
    : CPropertySheet(QStringLiteral("Preferences"), parent) {}

void SetPreferencesPage(PreferencesSlot slot, PageMaker maker) {
    if (maker)
        Makers()[slot] = std::move(maker);
    else
        Makers().erase(slot);
}

int OpenPreferences(QWidget* parent) {
    CPreferences sheet(parent);
    // The pages live as long as the sheet runs; they are destroyed after it, by their owner.
    CSmtpPage smtp;
    std::vector<std::unique_ptr<platform::CPropertyPage>> others;
    sheet.AddPage(&smtp);
    for (PreferencesSlot slot : {PreferencesSlot::kOutbox, PreferencesSlot::kDeleted}) {
        auto it = Makers().find(slot);
        if (it == Makers().end())
            continue;
        if (auto page = it->second()) {
            sheet.AddPage(page.get());
            others.push_back(std::move(page));
        }
    }
    sheet.SetActivePage(0);
    int result = sheet.DoModal();
    // The sheet's tabs hold the pages as children: take them back before either is destroyed.
    smtp.setParent(nullptr);
    for (auto& p : others)
        p->setParent(nullptr);
    return result;
}

int OpenSmtpPreferences(QWidget* parent) {
    CPreferences sheet(parent);
    CSmtpPage smtp;
    sheet.AddPage(&smtp);
    int result = sheet.DoModal();
    smtp.setParent(nullptr);
    return result;
}

void InstallMailDialogWindows() {
    static MailDialogWindows windows;
    InstallMailDialogs(&windows);
}

}  // namespace korrin
