// The store, its folders, messages and attachments, and the identity. Internal to the layer.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/mapi/EntryId.h"
#include "platform/mapi/Mapi.h"
#include "platform/mapi/PropBag.h"

namespace korrin::platform::mapi_detail {

// What the objects of one logon share. The session clears `alive` at Logoff.
struct StoreContext {
    MapiProfile profile;
    std::atomic<bool> alive{true};
};
using Context = std::shared_ptr<StoreContext>;

std::string EntryIdOf(const Context& ctx, EntryKind kind, const std::string& folder = {},
                      const std::string& message = {});
// Hands an entry ID out through an out-parameter pair, in a block of MAPIAllocateBuffer.
HRESULT HandOutEntryId(const std::string& id, ULONG* cb, ENTRYID** entryId);

HRESULT OpenStore(const Context& ctx, IMsgStore** store);
HRESULT OpenIdentity(const Context& ctx, IMailUser** user);
// Opens a folder or message of the store the ref names (already checked to be this profile's).
HRESULT OpenStoreEntry(const Context& ctx, const EntryRef& ref, ULONG flags, ULONG* objType,
                       IUnknown** out);

// Asks the spooler for a pass over the profile's Outbox (in the background).
void RequestSpool(const MapiProfile& profile);

IStream* NewMemoryStream(std::shared_ptr<std::string> bytes);

}  // namespace korrin::platform::mapi_detail
