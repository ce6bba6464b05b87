// Our entry IDs: opaque bytes to every caller, parsed only here. Internal to the layer.
//
// Layout: four zero flag bytes, "KrE1", the kind (one byte), then three texts, each a
// little-endian 16-bit length and its bytes: the profile, the folder ("" the Inbox, "Outbox",
// "Sent", "Trash"), the message's unique Maildir name. Anything else (a short, long, foreign
// or damaged ID, a folder we do not have, a name that could leave the folder) is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korrin::platform::mapi_detail {

enum class EntryKind : std::uint8_t { kStore = 1, kFolder = 2, kMessage = 3, kIdentity = 4 };

struct EntryRef {
    EntryKind kind = EntryKind::kStore;
    std::string profile;
    std::string folder;
    std::string message;
};

std::string EncodeEntryId(const EntryRef& ref);
// False for anything but a well-formed ID of ours.
bool DecodeEntryId(const void* data, std::size_t size, EntryRef* ref);

// The four folders of a store, by the names entry IDs carry.
bool IsStoreFolder(std::string_view folder);
// A Maildir unique name we accept: 1 to 200 bytes of letters, digits and ".,_-=", not
// starting with '.'.
bool IsUniqueName(std::string_view name);

}  // namespace korrin::platform::mapi_detail
