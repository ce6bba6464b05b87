// Initialisation, logon, the session, and profile administration.
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/mapi/Mapi.h"
#include "platform/mapi/Store.h"

namespace korrin::platform {

namespace {

std::atomic<int> initCount{0};
std::atomic<AddressBookFactory> addressBookFactory{nullptr};
std::atomic<ProfilePrompt> profilePrompt{nullptr};

using mapi_detail::Context;
using mapi_detail::EntryKind;
using mapi_detail::EntryRef;

class Session final : public MapiObject<IMAPISession> {
  public:
    explicit Session(Context ctx) : ctx_(std::move(ctx)) {}
    ~Session() override { ctx_->alive = false; }

    HRESULT GetMsgStoresTable(ULONG, IMAPITable** table) override {
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        mapi_detail::PropBag row;
        row.SetBinary(PR_ENTRYID, mapi_detail::EntryIdOf(ctx_, EntryKind::kStore));
        row.SetString(PR_DISPLAY_NAME, ctx_->profile.name);
        row.SetBool(PR_DEFAULT_STORE, true);
        *table = new mapi_detail::RowTable({row}, {PR_ENTRYID, PR_DISPLAY_NAME, PR_DEFAULT_STORE});
        return S_OK;
    }

    HRESULT OpenMsgStore(ULONG_PTR, ULONG cb, const ENTRYID* id, const IID* iid, ULONG,
                         IMsgStore** store) override {
        if (!store)
            return MAPI_E_INVALID_PARAMETER;
        *store = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (iid && iid != &IID_IMsgStore)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        EntryRef ref;
        if (!mapi_detail::DecodeEntryId(id, cb, &ref) || ref.kind != EntryKind::kStore)
            return MAPI_E_INVALID_ENTRYID;
        if (ref.profile != ctx_->profile.name)
            return MAPI_E_NOT_FOUND;
        return mapi_detail::OpenStore(ctx_, store);
    }

    HRESULT OpenAddressBook(ULONG_PTR uiParam, const IID* iid, ULONG flags,
                            IAddrBook** addrBook) override {
        if (!addrBook)
            return MAPI_E_INVALID_PARAMETER;
        *addrBook = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (iid && iid != &IID_IAddrBook)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        AddressBookFactory factory = addressBookFactory.load();
        if (!factory)
            return MAPI_E_NO_SUPPORT;
        return factory(ctx_->profile, uiParam, flags, addrBook);
    }

    HRESULT QueryIdentity(ULONG* cb, ENTRYID** id) override {
        if (!cb || !id)
            return MAPI_E_INVALID_PARAMETER;
        *cb = 0;
        *id = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        return mapi_detail::HandOutEntryId(mapi_detail::EntryIdOf(ctx_, EntryKind::kIdentity), cb,
                                           id);
    }

    HRESULT OpenEntry(ULONG cb, const ENTRYID* id, const IID* iid, ULONG flags, ULONG* objType,
                      IUnknown** out) override {
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        EntryRef ref;
        if (!mapi_detail::DecodeEntryId(id, cb, &ref)) {
            // Not ours: perhaps the address book's.
            if (!id || cb == 0)
                return MAPI_E_INVALID_ENTRYID;
            MapiRef<IAddrBook> book;
            if (FAILED(OpenAddressBook(0, nullptr, 0, book.out())))
                return MAPI_E_INVALID_ENTRYID;
            return book->OpenEntry(cb, id, iid, flags, objType, out);
        }
        if (ref.profile != ctx_->profile.name)
            return MAPI_E_NOT_FOUND;
        if (iid == &IID_IMailUser && ref.kind != EntryKind::kIdentity)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        return mapi_detail::OpenStoreEntry(ctx_, ref, flags, objType, out);
    }

    HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override {
        ctx_->alive = false;
        return S_OK;
    }

  private:
    Context ctx_;
};

class ProfAdmin final : public MapiObject<IProfAdmin> {
  public:
    HRESULT GetProfileTable(ULONG, IMAPITable** table) override {
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        std::vector<MapiProfile> list;
        HRESULT hr = ListMapiProfiles(&list);
        if (FAILED(hr))
            return hr;
        std::vector<mapi_detail::PropBag> rows;
        for (const auto& p : list) {
            mapi_detail::PropBag r;
            r.SetString(PR_DISPLAY_NAME, p.name);
            r.SetBool(PR_DEFAULT_PROFILE, p.isDefault);
            rows.push_back(std::move(r));
        }
        *table = new mapi_detail::RowTable(std::move(rows), {PR_DISPLAY_NAME, PR_DEFAULT_PROFILE});
        return S_OK;
    }
    HRESULT DeleteProfile(const char* name, ULONG) override {
        return name ? DeleteMapiProfile(name) : MAPI_E_INVALID_PARAMETER;
    }
    HRESULT SetDefaultProfile(const char* name, ULONG) override {
        return name ? SetDefaultMapiProfile(name) : MAPI_E_INVALID_PARAMETER;
    }
};

}  // namespace

void SetAddressBookFactory(AddressBookFactory factory) {
    addressBookFactory = factory;
}

void SetProfilePrompt(ProfilePrompt prompt) {
    profilePrompt = prompt;
}

HRESULT MAPIInitialize(const MAPIINIT_0* init) {
    if (init && init->ulVersion > 1)
        return MAPI_E_VERSION;
    ++initCount;
    return S_OK;
}

void MAPIUninitialize() {
    int n = initCount.load();
    while (n > 0 && !initCount.compare_exchange_weak(n, n - 1)) {
    }
}

HRESULT MAPILogonEx(ULONG_PTR uiParam, const char* profileName, const char*, ULONG flags,
                    IMAPISession** session) {
    if (!session)
        return MAPI_E_INVALID_PARAMETER;
    *session = nullptr;
    if (initCount.load() <= 0)
        return MAPI_E_NOT_INITIALIZED;
    if (flags & MAPI_UNICODE)
        return MAPI_E_BAD_CHARWIDTH;
    MapiProfile profile;
    HRESULT hr;
    if (profileName && *profileName) {
        hr = ReadMapiProfile(profileName, &profile);
    } else {
        hr = ReadDefaultMapiProfile(&profile);
        if (hr == MAPI_E_NOT_FOUND && (flags & MAPI_LOGON_UI)) {
            ProfilePrompt prompt = profilePrompt.load();
            std::string chosen;
            if (prompt) {
                hr = prompt(uiParam, &chosen);
                if (hr == S_OK)
                    hr = chosen.empty() ? MAPI_E_USER_CANCEL : ReadMapiProfile(chosen, &profile);
            }
        }
    }
    if (hr == MAPI_E_USER_CANCEL)
        return hr;
    if (FAILED(hr))
        return MAPI_E_LOGON_FAILED;
    if (profile.storeDir.empty() || profile.storeDir[0] != '/')
        return MAPI_E_LOGON_FAILED;
    auto ctx = std::make_shared<mapi_detail::StoreContext>();
    ctx->profile = profile;
    *session = new Session(std::move(ctx));
    // What an earlier run left in the Outbox goes out now.
    mapi_detail::RequestSpool(profile);
    return S_OK;
}

HRESULT MAPIAdminProfiles(ULONG, IProfAdmin** profAdmin) {
    if (!profAdmin)
        return MAPI_E_INVALID_PARAMETER;
    *profAdmin = nullptr;
    if (initCount.load() <= 0)
        return MAPI_E_NOT_INITIALIZED;
    *profAdmin = new ProfAdmin;
    return S_OK;
}

}  // namespace korrin::platform
