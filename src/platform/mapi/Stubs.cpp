// Calls of the layer whose bodies are still being written: each fails clearly with
// MAPI_E_NO_SUPPORT so a caller reports it instead of going on.
#include <atomic>
#include <cstdio>

#include "platform/mapi/Mapi.h"

namespace korrin::platform {

namespace {
std::atomic<AddressBookFactory> addressBookFactory{nullptr};
std::atomic<ProfilePrompt> profilePrompt{nullptr};
std::atomic<MailWriter> mailWriter{nullptr};
std::atomic<SpoolReporter> spoolReporter{nullptr};
}  // namespace

const char* const kDefaultSubmitCommand = "/usr/sbin/sendmail -t -oi";

void SetAddressBookFactory(AddressBookFactory factory) {
    addressBookFactory = factory;
}
void SetProfilePrompt(ProfilePrompt prompt) {
    profilePrompt = prompt;
}
void SetMailWriter(MailWriter writer) {
    mailWriter = writer;
}
void SetSpoolReporter(SpoolReporter reporter) {
    spoolReporter = reporter;
}

HRESULT MAPIInitialize(const MAPIINIT_0*) {
    return MAPI_E_NO_SUPPORT;
}
void MAPIUninitialize() {}
HRESULT MAPILogonEx(ULONG_PTR, const char*, const char*, ULONG, IMAPISession** session) {
    if (session)
        *session = nullptr;
    return MAPI_E_NO_SUPPORT;
}
HRESULT MAPIAdminProfiles(ULONG, IProfAdmin** profAdmin) {
    if (profAdmin)
        *profAdmin = nullptr;
    return MAPI_E_NO_SUPPORT;
}
HRESULT HrQueryAllRows(IMAPITable*, const SPropTagArray*, const SRestriction*, const SSortOrderSet*,
                       ULONG, SRowSet** rows) {
    if (rows)
        *rows = nullptr;
    return MAPI_E_NO_SUPPORT;
}
HRESULT HrGetOneProp(IMAPIProp*, ULONG, SPropValue** prop) {
    if (prop)
        *prop = nullptr;
    return MAPI_E_NO_SUPPORT;
}
HRESULT HrSetOneProp(IMAPIProp*, const SPropValue*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT OpenStreamOnFile(LPALLOCATEBUFFER, LPFREEBUFFER, ULONG, const char*, const char*,
                         IStream** stream) {
    if (stream)
        *stream = nullptr;
    return MAPI_E_NO_SUPPORT;
}
HRESULT CreateMemoryStream(IStream** stream) {
    if (stream)
        *stream = nullptr;
    return MAPI_E_NO_SUPPORT;
}
std::string DefaultContactsFolder() {
    return {};
}
std::string DefaultStoreFolder() {
    return {};
}
HRESULT ReadMapiProfile(const std::string&, MapiProfile*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT ReadDefaultMapiProfile(MapiProfile*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT ListMapiProfiles(std::vector<MapiProfile>*) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT WriteMapiProfile(const MapiProfile&) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT DeleteMapiProfile(const std::string&) {
    return MAPI_E_NO_SUPPORT;
}
HRESULT SpoolOutbox(const MapiProfile&, SpoolResult*) {
    return MAPI_E_NO_SUPPORT;
}
unsigned SubmitTimeoutMs() {
    return 120000;
}
void WaitForSpooler() {}

}  // namespace korrin::platform
