// Entry IDs come back from callers as bytes. Whatever they hold, decoding must not crash, and
// anything accepted must encode to the very same bytes (one spelling per ID), name one of the
// store's folders, and carry a message name that cannot leave its folder.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/mapi/EntryId.h"

using namespace korrin::platform::mapi_detail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EntryRef ref;
    if (!DecodeEntryId(data, size, &ref))
        return 0;
    std::string again = EncodeEntryId(ref);
    if (again.size() != size || again.compare(0, size, reinterpret_cast<const char*>(data), size))
        std::abort();
    if (!IsStoreFolder(ref.folder))
        std::abort();
    if (ref.message.find('/') != std::string::npos ||
        (!ref.message.empty() && ref.message[0] == '.'))
        std::abort();
    return 0;
}
