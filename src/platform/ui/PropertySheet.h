// Property sheets: a dialog holding pages on tabs, with OK and Cancel for all of them.
//
// A page is made by its owner and added to the sheet (the sheet does not own it). Its controls
// are created when the page is first shown (OnInitDialog), as the pages of the system this
// replaces are; OK calls OnOK on every page that has been shown, then ends the sheet with IDOK;
// Cancel calls OnCancel on them and ends it with IDCANCEL. Pages are dialogs by number too:
// a page's object name is dialog_<resource>, its controls are found with GetDlgItem.
#pragma once

#include <QString>
#include <QWidget>

#include <vector>

#include "platform/ui/Dialog.h"

class QTabWidget;

namespace korrin::platform {

class CPropertyPage : public QWidget {
  public:
    CPropertyPage(int resourceId, const QString& caption);

    int resourceId() const { return resourceId_; }
    const QString& caption() const { return caption_; }
    bool initialised() const { return initialised_; }

    // Called by the sheet: once before the page is first shown.
    void Initialise();

    virtual void OnOK() {}
    virtual void OnCancel() {}

  protected:
    virtual bool OnInitDialog() { return true; }

  private:
    int resourceId_;
    QString caption_;
    bool initialised_ = false;
};

class CPropertySheet : public CDialog {
  public:
    // Control numbers of the sheet's own parts.
    static constexpr int kTabControlId = 0x3020;

    explicit CPropertySheet(const QString& title, QWidget* parent = nullptr);

    void AddPage(CPropertyPage* page);
    int GetPageCount() const { return static_cast<int>(pages_.size()); }
    CPropertyPage* GetPage(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    // Before DoModal: the page shown first. After: switches to it.
    void SetActivePage(int index);
    int GetActiveIndex() const;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

  private:
    QTabWidget* tabs_;
    std::vector<CPropertyPage*> pages_;
    int startPage_ = 0;
};

}  // namespace korrin::platform
