// The address book of the messaging layer over a folder of vCard files: IAddrBook for
// sessions (through SetAddressBookFactory) and for the WAB library. No Qt: its dialog comes
// in through SetAddressDialog, which the window library registers.
#pragma once

#include <string>
#include <vector>

#include "platform/mapi/Contacts.h"
#include "platform/mapi/Mapi.h"

namespace korrin::platform::mapi {

// One recipient as the address dialog shows and returns it.
struct DialogRecipient {
    ULONG type = MAPI_TO;  // MAPI_TO, MAPI_CC, MAPI_BCC
    std::string name;
    std::string address;  // "" while unresolved (the name is then the text as typed)
};

// The address dialog: shows folder's contacts with params' captions and wells, starting from
// *recipients, and on OK replaces them with the choice. S_OK, MAPI_E_USER_CANCEL, or a
// failure. Runs on the caller's (user-interface) thread; parent is the owner window (a
// QWidget*) or 0.
using AddressDialog = HRESULT (*)(ULONG_PTR parent, const ADRPARM& params, ContactFolder& folder,
                                  std::vector<DialogRecipient>* recipients);
void SetAddressDialog(AddressDialog dialog);

// A new address book over folder ("" means DefaultContactsFolder()). One reference, owned by
// the caller.
IAddrBook* NewVCardAddrBook(const std::string& folder);

// Registers the address book with the messaging layer: sessions then open the profile's
// contacts folder. Each program and library that opens address books calls it once at start.
void InstallVCardAddrBook();

// Entry IDs of the address book: a contact's (file and address, so an edited card is found
// again while it keeps the address) or a one-off recipient's (name and address). Opaque to
// callers.
std::string MakeContactEntryId(const std::string& file, const std::string& address);
std::string MakeOneOffEntryId(const std::string& name, const std::string& address);

}  // namespace korrin::platform::mapi
