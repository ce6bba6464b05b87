#include "platform/mapi/VCardAddrBook.h"

#include <atomic>
#include <cstring>

namespace korrin::platform::mapi {
namespace {

std::atomic<AddressDialog> addressDialog{nullptr};

constexpr char kMagic[4] = {'K', 'V', 'A', 'B'};
constexpr BYTE kContactKind = 1, kOneOffKind = 2;

std::string MakeEntryId(BYTE kind, const std::string& a, const std::string& b) {
    std::string id(4, '\0');
    id.append(kMagic, 4);
    id += static_cast<char>(kind);
    id += a;
    id += '\0';
    id += b;
    return id;
}

// Splits one of our entry IDs; false for anything else.
bool ParseEntryId(ULONG cb, const ENTRYID* entryId, BYTE* kind, std::string* a, std::string* b) {
    if (!entryId || cb < 9)
        return false;
    const auto* bytes = reinterpret_cast<const char*>(entryId);
    const std::string_view all(bytes, cb);
    if (all.substr(0, 4) != std::string_view("\0\0\0\0", 4) || all.substr(4, 4) != "KVAB")
        return false;
    *kind = static_cast<BYTE>(all[8]);
    if (*kind != kContactKind && *kind != kOneOffKind)
        return false;
    const std::string_view rest = all.substr(9);
    const auto nul = rest.find('\0');
    if (nul == std::string_view::npos || rest.find('\0', nul + 1) != std::string_view::npos)
        return false;
    *a = std::string(rest.substr(0, nul));
    *b = std::string(rest.substr(nul + 1));
    return !b->empty();
}

HRESULT CopyString(const std::string& s, void* parent, char** out) {
    void* p = nullptr;
    const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(s.size() + 1), parent, &p);
    if (sc != S_OK)
        return sc;
    std::memcpy(p, s.c_str(), s.size() + 1);
    *out = static_cast<char*>(p);
    return S_OK;
}

HRESULT CopyBinary(const std::string& s, void* parent, SBinary* out) {
    void* p = nullptr;
    const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(s.size() ? s.size() : 1), parent, &p);
    if (sc != S_OK)
        return sc;
    std::memcpy(p, s.data(), s.size());
    out->cb = static_cast<ULONG>(s.size());
    out->lpb = static_cast<BYTE*>(p);
    return S_OK;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The values of one recipient: name, address, kind of address, entry ID, object type, search
// key; and its recipient type when it has one.
// Contacts are changed in their cards, never through the address book's objects: their
// properties can be read only.
template <class Interface>
class ReadOnlyProps : public MapiObject<Interface> {
  public:
    HRESULT SetProps(ULONG, const SPropValue*, SPropProblemArray**) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT DeleteProps(const SPropTagArray*, SPropProblemArray**) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT SaveChanges(ULONG) override { return MAPI_E_NO_ACCESS; }
    HRESULT OpenProperty(ULONG, const IID*, ULONG, ULONG, IUnknown** out) override {
        if (out)
            *out = nullptr;
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyTo(ULONG, const IID*, const SPropTagArray*, ULONG_PTR, void*, const IID*, void*,
                   ULONG, SPropProblemArray**) override {
        return MAPI_E_NO_SUPPORT;
    }
};

struct RecipientProps {
    std::string name, address, entryId;
    bool hasType = false;
    ULONG type = MAPI_TO;
};

// Fills one value for tag into v (strings hanging on parent); false when the recipient has
// no such property.
bool FillValue(const RecipientProps& r, ULONG tag, void* parent, SPropValue* v, HRESULT* hr) {
    v->ulPropTag = tag;
    switch (tag) {
        case PR_DISPLAY_NAME:
            *hr = CopyString(r.name, parent, &v->Value.lpszA);
            return true;
        case PR_EMAIL_ADDRESS:
            *hr = CopyString(r.address, parent, &v->Value.lpszA);
            return true;
        case PR_ADDRTYPE:
            *hr = CopyString("SMTP", parent, &v->Value.lpszA);
            return true;
        case PR_ENTRYID:
            *hr = CopyBinary(r.entryId, parent, &v->Value.bin);
            return true;
        case PR_SEARCH_KEY:
            *hr = CopyBinary("SMTP:" + Upper(r.address) + std::string(1, '\0'), parent,
                             &v->Value.bin);
            return true;
        case PR_OBJECT_TYPE:
            v->Value.ul = MAPI_MAILUSER;
            return true;
        case PR_RECIPIENT_TYPE:
            if (!r.hasType)
                return false;
            v->Value.ul = r.type;
            return true;
        default:
            return false;
    }
}

// A values block (one MAPIAllocateBuffer) with the tags asked for; a tag the recipient lacks
// comes back as PT_ERROR MAPI_E_NOT_FOUND and the result is MAPI_W_ERRORS_RETURNED.
HRESULT BuildProps(const RecipientProps& r, const std::vector<ULONG>& tags, SPropValue** out) {
    *out = nullptr;
    void* block = nullptr;
    SCODE sc =
        MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (tags.size() + 1)), &block);
    if (sc != S_OK)
        return sc;
    auto* values = static_cast<SPropValue*>(block);
    bool missing = false;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        HRESULT hr = S_OK;
        if (!FillValue(r, tags[i], block, &values[i], &hr)) {
            values[i].ulPropTag = CHANGE_PROP_TYPE(tags[i], PT_ERROR);
            values[i].Value.err = MAPI_E_NOT_FOUND;
            missing = true;
        }
        if (hr != S_OK) {
            MAPIFreeBuffer(block);
            return hr;
        }
    }
    *out = values;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

// The value block of a resolved address list entry.
HRESULT ResolvedEntry(const RecipientProps& r, ADRENTRY* entry) {
    std::vector<ULONG> tags{PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE,
                            PR_ENTRYID,      PR_SEARCH_KEY,    PR_OBJECT_TYPE};
    if (r.hasType)
        tags.push_back(PR_RECIPIENT_TYPE);
    SPropValue* values = nullptr;
    const HRESULT hr = BuildProps(r, tags, &values);
    if (hr != S_OK)
        return hr;
    MAPIFreeBuffer(entry->rgPropVals);
    entry->rgPropVals = values;
    entry->cValues = static_cast<ULONG>(tags.size());
    return S_OK;
}

class MailUser : public ReadOnlyProps<IMailUser> {
  public:
    explicit MailUser(RecipientProps r) : r_(std::move(r)) {}

    HRESULT GetProps(const SPropTagArray* tags, ULONG, ULONG* count, SPropValue** props) override {
        if (!count || !props)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<ULONG> wanted;
        if (tags)
            wanted.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        else
            wanted = {PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE,
                      PR_ENTRYID,      PR_SEARCH_KEY,    PR_OBJECT_TYPE};
        const HRESULT hr = BuildProps(r_, wanted, props);
        *count = *props ? static_cast<ULONG>(wanted.size()) : 0;
        return hr;
    }

  private:
    RecipientProps r_;
};

const SPropValue* FindProp(const ADRENTRY& e, ULONG tag) {
    return e.rgPropVals ? PpropFindProp(e.rgPropVals, e.cValues, tag) : nullptr;
}

class VCardAddrBook : public ReadOnlyProps<IAddrBook> {
  public:
    explicit VCardAddrBook(const std::string& folder)
        : folder_(folder.empty() ? DefaultContactsFolder() : folder) {}

    HRESULT OpenEntry(ULONG cbEntryID, const ENTRYID* entryID, const IID* iid, ULONG,
                      ULONG* objType, IUnknown** out) override {
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (iid && iid != &IID_IMailUser)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        BYTE kind = 0;
        RecipientProps r;
        if (!ParseEntryId(cbEntryID, entryID, &kind, &r.name, &r.address))
            return MAPI_E_INVALID_ENTRYID;
        r.entryId.assign(reinterpret_cast<const char*>(entryID), cbEntryID);
        if (kind == kContactKind) {
            // The name is the file's; the contact must still be in it.
            folder_.Refresh();
            const std::string file = r.name;
            r.name.clear();
            for (const ContactEntry* e : folder_.Entries())
                if (e->file == file && e->address == r.address) {
                    r.name = e->name;
                    break;
                }
            if (r.name.empty())
                return MAPI_E_NOT_FOUND;
        }
        if (objType)
            *objType = MAPI_MAILUSER;
        *out = new MailUser(std::move(r));
        return S_OK;
    }

    HRESULT ResolveName(ULONG_PTR, ULONG, const char*, ADRLIST* adrList) override {
        if (!adrList)
            return MAPI_E_INVALID_PARAMETER;
        folder_.Refresh();
        bool ambiguous = false, unknown = false;
        for (ULONG i = 0; i < adrList->cEntries; ++i) {
            ADRENTRY& entry = adrList->aEntries[i];
            if (FindProp(entry, PR_ENTRYID))
                continue;  // resolved before
            const SPropValue* name = FindProp(entry, PR_DISPLAY_NAME);
            if (!name || !name->Value.lpszA) {
                unknown = true;
                continue;
            }
            const Resolution res = folder_.Resolve(name->Value.lpszA);
            if (res.kind == Resolution::kAmbiguous || res.kind == Resolution::kNone) {
                (res.kind == Resolution::kAmbiguous ? ambiguous : unknown) = true;
                continue;
            }
            RecipientProps r{res.name, res.address,
                             res.entry ? MakeContactEntryId(res.entry->file, res.address)
                                       : MakeOneOffEntryId(res.name, res.address)};
            if (const SPropValue* type = FindProp(entry, PR_RECIPIENT_TYPE)) {
                r.hasType = true;
                r.type = type->Value.ul;
            }
            const HRESULT hr = ResolvedEntry(r, &entry);
            if (hr != S_OK)
                return hr;
        }
        if (ambiguous)
            return MAPI_E_AMBIGUOUS_RECIP;
        return unknown ? MAPI_E_NOT_FOUND : S_OK;
    }

    HRESULT Address(ULONG_PTR* uiParam, ADRPARM* params, ADRLIST** adrList) override {
        if (!params || !adrList)
            return MAPI_E_INVALID_PARAMETER;
        const AddressDialog dialog = addressDialog.load();
        if (!dialog)
            return MAPI_E_NO_SUPPORT;
        folder_.Refresh();
        std::vector<DialogRecipient> recipients;
        if (*adrList) {
            for (ULONG i = 0; i < (*adrList)->cEntries; ++i) {
                const ADRENTRY& e = (*adrList)->aEntries[i];
                DialogRecipient r;
                if (const SPropValue* v = FindProp(e, PR_DISPLAY_NAME); v && v->Value.lpszA)
                    r.name = v->Value.lpszA;
                if (const SPropValue* v = FindProp(e, PR_EMAIL_ADDRESS); v && v->Value.lpszA)
                    r.address = v->Value.lpszA;
                if (const SPropValue* v = FindProp(e, PR_RECIPIENT_TYPE))
                    r.type = v->Value.ul;
                if (!r.name.empty() || !r.address.empty())
                    recipients.push_back(std::move(r));
            }
        }
        const HRESULT hr = dialog(uiParam ? *uiParam : 0, *params, folder_, &recipients);
        if (hr != S_OK)
            return hr;
        ADRLIST* list = nullptr;
        const HRESULT built = BuildList(recipients, &list);
        if (built != S_OK)
            return built;
        FreePadrlist(*adrList);
        *adrList = list;
        return S_OK;
    }

    // The address book itself has no properties of its own to give.
    HRESULT GetProps(const SPropTagArray*, ULONG, ULONG* count, SPropValue** props) override {
        if (count)
            *count = 0;
        if (props)
            *props = nullptr;
        return MAPI_E_NO_SUPPORT;
    }

  private:
    // The dialog's choice as an address list: resolved entries carry every value of a
    // resolved recipient, unresolved ones their text and type.
    static HRESULT BuildList(const std::vector<DialogRecipient>& recipients, ADRLIST** out) {
        void* block = nullptr;
        const auto n = static_cast<ULONG>(recipients.size());
        SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(n)), &block);
        if (sc != S_OK)
            return sc;
        auto* list = static_cast<ADRLIST*>(block);
        list->cEntries = 0;
        for (const auto& dr : recipients) {
            ADRENTRY& entry = list->aEntries[list->cEntries];
            entry = {};
            RecipientProps r{dr.name, dr.address, {}, true, dr.type};
            HRESULT hr;
            if (!dr.address.empty()) {
                r.entryId = MakeOneOffEntryId(dr.name.empty() ? dr.address : dr.name, dr.address);
                hr = ResolvedEntry(r, &entry);
            } else {
                hr = BuildProps(r, {PR_DISPLAY_NAME, PR_RECIPIENT_TYPE}, &entry.rgPropVals);
                entry.cValues = 2;
            }
            if (hr != S_OK) {
                FreePadrlist(list);
                return hr;
            }
            ++list->cEntries;
        }
        *out = list;
        return S_OK;
    }

    ContactFolder folder_;
};

HRESULT Factory(const MapiProfile& profile, ULONG_PTR, ULONG, IAddrBook** addrBook) {
    if (!addrBook)
        return MAPI_E_INVALID_PARAMETER;
    *addrBook = NewVCardAddrBook(profile.contactsDir);
    return S_OK;
}

}  // namespace

void SetAddressDialog(AddressDialog dialog) {
    addressDialog = dialog;
}

IAddrBook* NewVCardAddrBook(const std::string& folder) {
    return new VCardAddrBook(folder);
}

void InstallVCardAddrBook() {
    SetAddressBookFactory(Factory);
}

std::string MakeContactEntryId(const std::string& file, const std::string& address) {
    return MakeEntryId(kContactKind, file, address);
}

std::string MakeOneOffEntryId(const std::string& name, const std::string& address) {
    return MakeEntryId(kOneOffKind, name, address);
}

}  // namespace korrin::platform::mapi
