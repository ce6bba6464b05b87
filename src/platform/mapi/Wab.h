// The address book library's interface (libwab32.so, loaded by name as "WAB32.dll"): its one
// export WABOpen hands out the address book over the default profile's vCard folder and the
// object whose allocator address lists are made with.
#pragma once

#include "platform/mapi/MapiInterfaces.h"

namespace korrin::platform {

class IWABObject : public IUnknown {
  public:
    // The messaging layer's allocation: a block from AllocateBuffer frees what AllocateMore
    // hung on it.
    virtual HRESULT AllocateBuffer(ULONG size, void** buffer) = 0;
    virtual HRESULT AllocateMore(ULONG size, void* object, void** buffer) = 0;
    virtual ULONG FreeBuffer(void* buffer) = 0;
};

// WABOpen(addrBook, wabObject, params, reserved): params and reserved are not used. One
// reference to each object for the caller; E_FAIL when the library cannot give them.
using LPWABOPEN = HRESULT (*)(IAddrBook** addrBook, IWABObject** wabObject, void* params,
                              std::uint32_t reserved);

}  // namespace korrin::platform
