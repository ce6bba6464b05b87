// What the library tests need around the messaging layer: profiles with their folders in a
// test's own directory, the library loaded by name, and an address book that knows a few
// people (the contacts module's own book is exercised in its own tests).
#pragma once

#include <dirent.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "helpers/TestSupport.h"
#include "platform/mapi/Mapi.h"

namespace korrin::test {

using namespace korrin::platform;

// Resolves the names it knows and every text with an "@"; the address dialog hands back
// `choice`.
class StandInAddressBook : public MapiObject<IAddrBook> {
  public:
    struct Pick {
        ULONG type;
        std::string name, address;
    };
    static inline std::map<std::string, std::string> known = {
        {"Bob", "bob@example.org"}, {"Dave", "dave@example.org"}, {"dave", "dave@example.org"}};
    static inline std::vector<Pick> choice;
    static inline std::string lastCaption;
    static inline ULONG lastFlags = 0;

    static HRESULT Make(const MapiProfile&, ULONG_PTR, ULONG, IAddrBook** out) {
        *out = new StandInAddressBook;
        return S_OK;
    }

    HRESULT GetProps(const SPropTagArray*, ULONG, ULONG*, SPropValue**) override { return no(); }
    HRESULT SetProps(ULONG, const SPropValue*, SPropProblemArray**) override { return no(); }
    HRESULT DeleteProps(const SPropTagArray*, SPropProblemArray**) override { return no(); }
    HRESULT SaveChanges(ULONG) override { return no(); }
    HRESULT OpenProperty(ULONG, const IID*, ULONG, ULONG, IUnknown**) override { return no(); }
    HRESULT CopyTo(ULONG, const IID*, const SPropTagArray*, ULONG_PTR, void*, const IID*, void*,
                   ULONG, SPropProblemArray**) override {
        return no();
    }
    HRESULT OpenEntry(ULONG, const ENTRYID*, const IID*, ULONG, ULONG*, IUnknown**) override {
        return no();
    }

    HRESULT ResolveName(ULONG_PTR, ULONG, const char*, ADRLIST* list) override {
        HRESULT hr = S_OK;
        for (ULONG i = 0; i < list->cEntries; ++i) {
            ADRENTRY& e = list->aEntries[i];
            const SPropValue* n = PpropFindProp(e.rgPropVals, e.cValues, PR_DISPLAY_NAME);
            const SPropValue* t = PpropFindProp(e.rgPropVals, e.cValues, PR_RECIPIENT_TYPE);
            const std::string name = n ? n->Value.lpszA : "";
            std::string address = name.find('@') != std::string::npos ? name : "";
            if (auto it = known.find(name); it != known.end())
                address = it->second;
            if (address.empty()) {
                hr = MAPI_E_NOT_FOUND;
                continue;
            }
            const ULONG type = t ? t->Value.ul : MAPI_TO;
            MAPIFreeBuffer(e.rgPropVals);
            e.rgPropVals = entry(type, name, address);
            e.cValues = 3;
        }
        return hr;
    }

    HRESULT Address(ULONG_PTR*, ADRPARM* params, ADRLIST** list) override {
        lastCaption = params->lpszCaption ? params->lpszCaption : "";
        lastFlags = params->ulFlags;
        FreePadrlist(*list);
        void* block = nullptr;
        MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(static_cast<ULONG>(choice.size()))),
                           &block);
        auto* out = static_cast<ADRLIST*>(block);
        out->cEntries = 0;
        for (const Pick& p : choice) {
            ADRENTRY& e = out->aEntries[out->cEntries++];
            e.cValues = 3;
            e.rgPropVals = entry(p.type, p.name, p.address);
        }
        *list = out;
        return S_OK;
    }

  private:
    static HRESULT no() { return MAPI_E_NO_SUPPORT; }
    static SPropValue* entry(ULONG type, const std::string& name, const std::string& address) {
        void* block = nullptr;
        MAPIAllocateBuffer(sizeof(SPropValue) * 3, &block);
        auto* v = static_cast<SPropValue*>(block);
        v[0].ulPropTag = PR_DISPLAY_NAME;
        v[0].Value.lpszA = copy(name, block);
        v[1].ulPropTag = PR_EMAIL_ADDRESS;
        v[1].Value.lpszA = copy(address, block);
        v[2].ulPropTag = PR_RECIPIENT_TYPE;
        v[2].Value.ul = type;
        return v;
    }
    static char* copy(const std::string& s, void* parent) {
        void* p = nullptr;
        MAPIAllocateMore(static_cast<ULONG>(s.size() + 1), parent, &p);
        std::memcpy(p, s.c_str(), s.size() + 1);
        return static_cast<char*>(p);
    }
};

// Gives the message its recipients as a user types them: display name and recipient type only.
inline HRESULT SetTypedRecipients(IMessage* message,
                                  const std::vector<std::pair<std::string, ULONG>>& people) {
    void* block = nullptr;
    HRESULT hr = MAPIAllocateBuffer(
        static_cast<ULONG>(CbNewADRLIST(static_cast<ULONG>(people.size()))), &block);
    if (FAILED(hr))
        return hr;
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = 0;
    for (const auto& [name, type] : people) {
        SPropValue v[2] = {};
        v[0].ulPropTag = PR_DISPLAY_NAME;
        v[0].Value.lpszA = const_cast<char*>(name.c_str());
        v[1].ulPropTag = PR_RECIPIENT_TYPE;
        v[1].Value.l = static_cast<std::int32_t>(type);
        ADRENTRY& e = list->aEntries[list->cEntries];
        if (FAILED(hr = ScDupPropset(2, v, nullptr, &e.rgPropVals)))
            break;
        e.cValues = 2;
        ++list->cEntries;
    }
    if (SUCCEEDED(hr))
        hr = message->ModifyRecipients(0, list);
    FreePadrlist(list);
    return hr;
}

// The message files of one folder of a Maildir (cur and new).
inline std::vector<std::string> MaildirMessages(const std::string& folder) {
    std::vector<std::string> files;
    for (const char* sub : {"/cur", "/new"}) {
        const std::string dir = folder + sub;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.')
                    files.push_back(dir + "/" + e->d_name);
            closedir(d);
        }
    }
    return files;
}

}  // namespace korrin::test
