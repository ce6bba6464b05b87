#include "korrin/mail/TolvlinkBinding.h"

#include <vector>

#include "platform/dynlib/DynLib.h"

namespace korrin {

CTolvlinkBinding::CTolvlinkBinding(QWidget* owner, std::string library)
    : owner_(owner), library_(std::move(library)) {}

namespace {

template <class Fn>
bool lookUp(platform::HMODULE module, const char* name, Fn& out) {
    out = reinterpret_cast<Fn>(platform::GetProcAddress(module, name));
    return out != nullptr;
}

}  // namespace

int CTolvlinkBinding::Load() {
    // The handle is not kept: the library stays for the rest of the run.
    platform::HMODULE module = platform::LoadLibrary(library_);
    if (!module)
        return 1;
    const bool all = lookUp(module, "StartTolvlink", StartTolvlink) &&
                     lookUp(module, "GetMapiAddress", GetMapiAddress) &&
                     lookUp(module, "ProcessMapiAdrList", ProcessMapiAdrList) &&
                     lookUp(module, "SendMapiTolvMessage", SendMapiTolvMessage) &&
                     lookUp(module, "GetMapiIdentity", GetMapiIdentity) &&
                     lookUp(module, "FixMapiAdrList", FixMapiAdrList) &&
                     lookUp(module, "GetMapiProfile", GetMapiProfile);
    return all ? 0 : 1;
}

bool CTolvlinkBinding::EnsureLoaded(std::unique_ptr<CTolvlinkBinding>& binding, bool& loaded,
                                    QWidget* owner) {
    if (loaded)
        return true;
    binding = std::make_unique<CTolvlinkBinding>(owner);
    if (binding->Load() == 0)
        loaded = true;
    return loaded;
}

namespace {

std::vector<char> writableCopy(const std::string& text) {
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

// Takes over one string the library allocated; empty when it left the pointer alone.
std::string takeString(char*& s) {
    std::string out = s ? s : "";
    delete[] s;
    s = nullptr;
    return out;
}

}  // namespace

MapiRecipients GatherMapiRecipients(CTolvlinkBinding& binding, const std::string& to,
                                    const std::string& cc, const std::string& bcc) {
    std::vector<char> toText = writableCopy(to), ccText = writableCopy(cc),
                      bccText = writableCopy(bcc);
    binding.FixMapiAdrList(toText.data(), ccText.data(), bccText.data());
    char* lists[6] = {};
    binding.ProcessMapiAdrList(&lists[0], &lists[1], &lists[2], &lists[3], &lists[4], &lists[5]);
    MapiRecipients r;
    r.toNames = takeString(lists[0]);
    r.toAddresses = takeString(lists[1]);
    r.ccNames = takeString(lists[2]);
    r.ccAddresses = takeString(lists[3]);
    r.bccNames = takeString(lists[4]);
    r.bccAddresses = takeString(lists[5]);
    char name[kIdentityBufferSize] = {};
    char address[kIdentityBufferSize] = {};
    char* namePtr = name;
    char* addressPtr = address;
    binding.GetMapiIdentity(&namePtr, &addressPtr);
    name[kIdentityBufferSize - 1] = address[kIdentityBufferSize - 1] = '\0';
    r.senderName = name;
    r.senderAddress = address;
    return r;
}

}  // namespace korrin
