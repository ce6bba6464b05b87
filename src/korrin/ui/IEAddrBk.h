// The composer's address book: the WAB library loaded at run time, the composer's To, Cc and
// Bcc texts as an address list and back, the address dialog, and the list's recipients handed
// to a mail. The "Address Book" dialog in which the user chooses between the WAB and the
// messaging layer's address book.
//
// Threads: the user-interface thread (the composer's).
#pragma once

#include <functional>
#include <string>

#include "platform/mapi/Wab.h"
#include "platform/ui/Dialog.h"

namespace korrin {

class CMailUtil;

class WabAddressBook {
  public:
    WabAddressBook() = default;
    ~WabAddressBook();  // releases the interfaces and frees the current list
    WabAddressBook(const WabAddressBook&) = delete;
    WabAddressBook& operator=(const WabAddressBook&) = delete;

    // Loads the library named by the "DLLPath" default value (or "WAB32.dll") and opens it:
    // S_OK, or E_FAIL when the library or its WABOpen is missing.
    platform::HRESULT OpenWab();
    bool IsOpen() const { return addrBook_ != nullptr; }

    // The three texts as one address list (split at ",", ";" and TAB, pieces kept as typed,
    // empty ones skipped), resolved as far as the address book can; *list is null when no
    // text gave a piece. The list is freed with FreeAdrList (or replaced by the next call).
    bool BuildAdrList(QWidget* owner, const std::string& to, const std::string& cc,
                      const std::string& bcc, platform::ADRLIST** list);
    // The address dialog on *list (may be null), replaced by the user's choice on OK.
    bool ShowAddressDialog(QWidget* owner, platform::ADRLIST** list);
    void FreeAdrList(platform::ADRLIST* list);

    // The composer's current list (the last one shown), freed with this object or when
    // replaced.
    platform::ADRLIST*& CurrentList() { return current_; }

    // The texts of one recipient type, joined with "; ". With a capacity, a text that would
    // leave fewer than 5 characters ends the field with "..." instead (inside the capacity);
    // 0: never cut.
    static std::string JoinRecipients(const platform::ADRLIST* list, platform::ULONG propTag,
                                      platform::ULONG recipientType, std::size_t capacity);
    // What the composer's field of one recipient type shows after the dialog: the field's text
    // is what is sent, so a resolved entry reads "Name <address>" (the address alone when
    // the name holds a separator or a quote, or is the address), an unresolved one its text
    // as typed; joined with "; ", never cut.
    static std::string FieldText(const platform::ADRLIST* list, platform::ULONG recipientType);
    // Every entry to the mail as To, Cc (name and address) or Bcc (address); an entry without
    // a type takes the one before it; names are cut to 127 bytes on a character boundary.
    // An entry without an address goes with its name as the address, as typed recipients do.
    static void AddRecipientsToMail(CMailUtil& mail, const platform::ADRLIST* list);

  private:
    platform::IAddrBook* addrBook_ = nullptr;
    platform::IWABObject* wabObject_ = nullptr;
    platform::ADRLIST* current_ = nullptr;
};

// The "Address Book" dialog: the WAB (1), Netscape (2, always disabled) or MAPI (3). On opening
// it asks loadMapi whether the MAPI support library can be loaded (the main window loads it
// once and remembers); when not, the MAPI choice is disabled.
class CAddressBookDlg : public platform::CDialog {
  public:
    static constexpr int kResourceId = 203;
    static constexpr int kWabId = 1059, kMapiId = 1015, kNetscapeId = 1060, kMoreInfoId = 1061;

    explicit CAddressBookDlg(std::function<bool()> loadMapi, QWidget* parent = nullptr);
    void OnCommand(int id) override;
    int choice() const { return choice_; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    void select(int value);
    std::function<bool()> loadMapi_;
    int choice_ = 1;
};

}  // namespace korrin
