// Allocation of linked blocks, and the helpers that free and copy rows, lists and values.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/mapi/Mapi.h"

namespace korrin::platform {

const IID IID_IMAPITable{"IMAPITable"};
const IID IID_IMsgStore{"IMsgStore"};
const IID IID_IMAPIFolder{"IMAPIFolder"};
const IID IID_IMessage{"IMessage"};
const IID IID_IAttachment{"IAttachment"};
const IID IID_IStream{"IStream"};
const IID IID_IMailUser{"IMailUser"};
const IID IID_IAddrBook{"IAddrBook"};

namespace {

// Every block starts with this header; the caller's memory follows it, aligned for any value.
// A first block (MAPIAllocateBuffer) heads a chain of the blocks made on it or on its blocks.
struct alignas(std::max_align_t) BlockHeader {
    std::uint32_t magic;
    BlockHeader* root;  // the first block of the chain (itself for a first block)
    BlockHeader* next;  // the next block of the chain
};
constexpr std::uint32_t kRootMagic = 0x4B524231;  // first blocks
constexpr std::uint32_t kMoreMagic = 0x4B524232;  // linked blocks
constexpr std::uint32_t kFreedMagic = 0x4B524230;
constexpr ULONG kMaxBlock = 0x7FFFFFF0u;

// Appending to a chain may happen from several threads on one root (rare): one lock for all.
std::mutex chainMutex;

BlockHeader* headerOf(void* p) {
    return reinterpret_cast<BlockHeader*>(static_cast<char*>(p) - sizeof(BlockHeader));
}

void* makeBlock(ULONG size, std::uint32_t magic, BlockHeader** header) {
    if (size > kMaxBlock)
        return nullptr;
    void* raw = std::calloc(1, sizeof(BlockHeader) + size);
    if (!raw)
        return nullptr;
    auto* h = static_cast<BlockHeader*>(raw);
    h->magic = magic;
    h->root = h;
    h->next = nullptr;
    *header = h;
    return static_cast<char*>(raw) + sizeof(BlockHeader);
}

}  // namespace

SCODE MAPIAllocateBuffer(ULONG size, void** buffer) {
    if (!buffer)
        return MAPI_E_INVALID_PARAMETER;
    *buffer = nullptr;
    BlockHeader* h = nullptr;
    void* p = makeBlock(size, kRootMagic, &h);
    if (!p)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *buffer = p;
    return S_OK;
}

SCODE MAPIAllocateMore(ULONG size, void* object, void** buffer) {
    if (!buffer)
        return MAPI_E_INVALID_PARAMETER;
    *buffer = nullptr;
    if (!object)
        return MAPI_E_INVALID_PARAMETER;
    BlockHeader* parent = headerOf(object);
    if (parent->magic != kRootMagic && parent->magic != kMoreMagic)
        return MAPI_E_INVALID_PARAMETER;
    BlockHeader* h = nullptr;
    void* p = makeBlock(size, kMoreMagic, &h);
    if (!p)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::lock_guard<std::mutex> lock(chainMutex);
    BlockHeader* root = parent->root;
    h->root = root;
    h->next = root->next;
    root->next = h;
    *buffer = p;
    return S_OK;
}

ULONG MAPIFreeBuffer(void* buffer) {
    if (!buffer)
        return S_OK;
    BlockHeader* h = headerOf(buffer);
    if (h->magic != kRootMagic)
        return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    BlockHeader* chain;
    {
        std::lock_guard<std::mutex> lock(chainMutex);
        chain = h->next;
        h->next = nullptr;
        h->magic = kFreedMagic;
    }
    while (chain) {
        BlockHeader* next = chain->next;
        chain->magic = kFreedMagic;
        std::free(chain);
        chain = next;
    }
    std::free(h);
    return S_OK;
}

void FreeProws(SRowSet* rows) {
    if (!rows)
        return;
    for (ULONG i = 0; i < rows->cRows; ++i)
        MAPIFreeBuffer(rows->aRow[i].lpProps);
    MAPIFreeBuffer(rows);
}

void FreePadrlist(ADRLIST* adrList) {
    if (!adrList)
        return;
    for (ULONG i = 0; i < adrList->cEntries; ++i)
        MAPIFreeBuffer(adrList->aEntries[i].rgPropVals);
    MAPIFreeBuffer(adrList);
}

const SPropValue* PpropFindProp(const SPropValue* props, ULONG count, ULONG tag) {
    if (!props)
        return nullptr;
    for (ULONG i = 0; i < count; ++i) {
        ULONG t = props[i].ulPropTag;
        if (t == tag || (PROP_TYPE(tag) == PT_UNSPECIFIED && PROP_ID(t) == PROP_ID(tag)))
            return &props[i];
    }
    return nullptr;
}

HRESULT ScDupPropset(ULONG count, const SPropValue* props, void* parent, SPropValue** copy) {
    if (!copy || (count && !props))
        return MAPI_E_INVALID_PARAMETER;
    *copy = nullptr;
    if (count > kMaxBlock / sizeof(SPropValue))
        return MAPI_E_NOT_ENOUGH_MEMORY;
    void* block = nullptr;
    ULONG size = static_cast<ULONG>(sizeof(SPropValue) * (count ? count : 1));
    SCODE sc = parent ? MAPIAllocateMore(size, parent, &block) : MAPIAllocateBuffer(size, &block);
    if (FAILED(sc))
        return sc;
    void* chain = parent ? parent : block;
    auto* out = static_cast<SPropValue*>(block);
    for (ULONG i = 0; i < count; ++i) {
        out[i] = props[i];
        switch (PROP_TYPE(props[i].ulPropTag)) {
            case PT_STRING8: {
                const char* s = props[i].Value.lpszA ? props[i].Value.lpszA : "";
                std::size_t n = std::strlen(s) + 1;
                void* p = nullptr;
                sc = n > kMaxBlock ? MAPI_E_NOT_ENOUGH_MEMORY
                                   : MAPIAllocateMore(static_cast<ULONG>(n), chain, &p);
                if (FAILED(sc))
                    break;
                std::memcpy(p, s, n);
                out[i].Value.lpszA = static_cast<char*>(p);
                break;
            }
            case PT_BINARY: {
                ULONG n = props[i].Value.bin.cb;
                void* p = nullptr;
                sc = MAPIAllocateMore(n ? n : 1, chain, &p);
                if (FAILED(sc))
                    break;
                if (n && props[i].Value.bin.lpb)
                    std::memcpy(p, props[i].Value.bin.lpb, n);
                out[i].Value.bin.lpb = static_cast<BYTE*>(p);
                break;
            }
            default:
                break;
        }
        if (FAILED(sc)) {
            if (!parent)
                MAPIFreeBuffer(block);
            return sc;
        }
    }
    *copy = out;
    return S_OK;
}

}  // namespace korrin::platform
