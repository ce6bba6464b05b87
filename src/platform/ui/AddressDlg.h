// The address book's dialog: a search box over the contacts, the destination wells (To, Cc,
// Bcc) or, with ADDRESS_ONE, a single choice, and "New" to write a contact card. Shown by the
// vCard address book's Address() once InstallAddressDialog has registered it.
//
// Control numbers (above those of the program's other dialogs):
//   1101 search box, 1102 its label, 1103 contact list, 1104 "New" button,
//   1105 the wells' title, 1110 + i the button of well i, 1120 + i the edit of well i
//   (i = 0 To, 1 Cc, 2 Bcc); the new-contact dialog: 1141 name, 1142 address.
#pragma once

#include <QAbstractListModel>

#include <vector>

#include "platform/mapi/VCardAddrBook.h"
#include "platform/ui/Dialog.h"

class QLineEdit;
class QListView;

namespace korrin::platform {

// The contacts shown: pointers into a ContactFolder's contents, set again (SetEntries) after
// every Refresh of the folder, which replaces them.
class ContactListModel : public QAbstractListModel {
  public:
    explicit ContactListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}
    void SetEntries(std::vector<const mapi::ContactEntry*> entries);
    const mapi::ContactEntry* At(int row) const;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    std::vector<const mapi::ContactEntry*> entries_;
};

class CAddressDlg : public CDialog {
  public:
    static constexpr int kResourceId = 201;
    static constexpr int kSearchId = 1101, kSearchLabelId = 1102, kListId = 1103, kNewId = 1104,
                         kWellsTitleId = 1105, kWellButtonId = 1110, kWellId = 1120;

    CAddressDlg(const ADRPARM& params, mapi::ContactFolder& folder,
                std::vector<mapi::DialogRecipient> recipients, QWidget* parent = nullptr);

    const std::vector<mapi::DialogRecipient>& Recipients() const { return recipients_; }
    void OnCommand(int id) override;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    void search();
    void addSelectionToWell(int well);
    void newContact();
    int wellCount() const;
    ULONG wellType(int well) const;
    QString caption() const;

    ADRPARM params_;
    mapi::ContactFolder& folder_;
    std::vector<mapi::DialogRecipient> recipients_;
    ContactListModel* model_ = nullptr;
    QListView* list_ = nullptr;
};

class CNewContactDlg : public CDialog {
  public:
    static constexpr int kResourceId = 202;
    static constexpr int kNameId = 1141, kAddressId = 1142;

    CNewContactDlg(const QString& title, mapi::ContactFolder& folder, QWidget* parent = nullptr);
    const std::string& Path() const { return path_; }
    const std::string& Name() const { return name_; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    QString title_;
    mapi::ContactFolder& folder_;
    std::string path_, name_;
};

// A recipient as its well shows it: the typed text while unresolved, else "Name <address>"
// (the name quoted when it holds a separator or a quote), or the address alone.
QString WellText(const mapi::DialogRecipient& r);

// The dialog as the address book's AddressDialog.
HRESULT ShowAddressDialog(ULONG_PTR parent, const ADRPARM& params, mapi::ContactFolder& folder,
                          std::vector<mapi::DialogRecipient>* recipients);
// Registers ShowAddressDialog with the vCard address book.
void InstallAddressDialog();

}  // namespace korrin::platform
