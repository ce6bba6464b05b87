// libwab32.so: the address book library the program loads by name. Its one export opens the
// vCard address book of the default messaging profile (or, without one, the default contacts
// folder), with the address dialog of the window library registered.
#include "platform/mapi/Wab.h"
#include "platform/mapi/Mapi.h"
#include "platform/mapi/VCardAddrBook.h"
#include "platform/ui/AddressDlg.h"

using namespace korrin::platform;

namespace {

class WabObject : public MapiObject<IWABObject> {
  public:
    HRESULT AllocateBuffer(ULONG size, void** buffer) override {
        return MAPIAllocateBuffer(size, buffer);
    }
    HRESULT AllocateMore(ULONG size, void* object, void** buffer) override {
        return MAPIAllocateMore(size, object, buffer);
    }
    ULONG FreeBuffer(void* buffer) override { return MAPIFreeBuffer(buffer); }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT WABOpen(IAddrBook** addrBook,
                                                                  IWABObject** wabObject, void*,
                                                                  std::uint32_t) {
    if (!addrBook || !wabObject)
        return E_FAIL;
    *addrBook = nullptr;
    *wabObject = nullptr;
    InstallAddressDialog();
    MapiProfile profile;
    std::string folder;
    if (ReadDefaultMapiProfile(&profile) == S_OK)
        folder = profile.contactsDir;
    if (folder.empty())
        folder = DefaultContactsFolder();
    if (folder.empty())
        return E_FAIL;  // no home folder to keep contacts in
    *addrBook = mapi::NewVCardAddrBook(folder);
    *wabObject = new WabObject;
    return S_OK;
}
