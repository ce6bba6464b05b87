// The program's binding to the MAPI support library, "Tolvlink.DLL" (libtolvlink.so), which
// is loaded by name the first time something needs MAPI and reached only through seven of its
// exports. The program never links against the library, so it runs the same where it is
// missing: the MAPI choices are then disabled or report that MAPI support is not loaded.
//
// Window handles crossing to the library are the program's own windows (QWidget*). Strings the
// library hands back (ProcessMapiAdrList) are allocated with new[] and freed by the caller with
// delete[]: the library shares the program's runtime and core libraries.
//
// Threads: the user-interface thread only; the binding's flags need no locking.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QWidget;

namespace korrin {

// The library's exports, as both sides see them. Each returns a 32-bit result.
extern "C" {
using StartTolvlinkFn = std::int32_t (*)(const char* key, QWidget* window);
using GetMapiAddressFn = std::int32_t (*)(QWidget* window, int idTo, int idCc, int idBcc);
using ProcessMapiAdrListFn = std::int32_t (*)(char** toNames, char** toAddresses, char** ccNames,
                                              char** ccAddresses, char** bccNames,
                                              char** bccAddresses);
using SendMapiTolvMessageFn = std::int32_t (*)(const char* subject, const char* body,
                                               const char* path);
using GetMapiIdentityFn = std::int32_t (*)(char** name, char** address);
using FixMapiAdrListFn = std::int32_t (*)(char* to, char* cc, char* bcc);
using GetMapiProfileFn = std::int32_t (*)(const char* key);
using GetDisplayNameFn = std::int32_t (*)(QWidget* window, const char* profile,
                                          const char* password, char* name, char* address);
using GetProfileNamesFn = std::int32_t (*)(QWidget* combo);
using SendDlgFn = std::int32_t (*)(const char* key);
}

inline constexpr const char* kTolvlinkLibrary = "Tolvlink.DLL";
// The program's key, as passed to StartTolvlink and GetMapiProfile.
inline constexpr const char* kTolvlinkKey = "SOFTWARE\\Quillion\\Korrin";
// The size of the caller's identity buffers given to GetMapiIdentity (255 bytes and a NUL).
inline constexpr std::size_t kIdentityBufferSize = 256;

class CTolvlinkBinding {
  public:
    explicit CTolvlinkBinding(QWidget* owner, std::string library = kTolvlinkLibrary);

    // Loads the library (never unloaded) and looks up the seven entry points in their order.
    // 0 when all were found; 1 as soon as the library or one entry point is missing (the rest
    // are not looked up, and no entry point of this binding may be called).
    int Load();

    // The loaders of the main window's binding: when the loaded flag is clear, a fresh binding
    // replaces the old one and is loaded; a success sets the flag. Returns the flag.
    static bool EnsureLoaded(std::unique_ptr<CTolvlinkBinding>& binding, bool& loaded,
                             QWidget* owner);

    QWidget* owner() const { return owner_; }

    StartTolvlinkFn StartTolvlink = nullptr;
    GetMapiAddressFn GetMapiAddress = nullptr;
    ProcessMapiAdrListFn ProcessMapiAdrList = nullptr;
    SendMapiTolvMessageFn SendMapiTolvMessage = nullptr;
    GetMapiIdentityFn GetMapiIdentity = nullptr;
    FixMapiAdrListFn FixMapiAdrList = nullptr;
    GetMapiProfileFn GetMapiProfile = nullptr;

  private:
    QWidget* owner_;
    std::string library_;
};

// The recipients of one message as the library resolved them: what the message record keeps
// (the names lists are for showing, the address lists are sent and stored whole).
struct MapiRecipients {
    std::string toNames, toAddresses, ccNames, ccAddresses, bccNames, bccAddresses;
    std::string senderName, senderAddress;
};

// Send's MAPI steps through a loaded binding: FixMapiAdrList with whole copies of the three
// texts (never cut: a cut text would drop recipients), ProcessMapiAdrList (the six strings are
// taken over and freed), and GetMapiIdentity into two 256-byte buffers.
MapiRecipients GatherMapiRecipients(CTolvlinkBinding& binding, const std::string& to,
                                    const std::string& cc, const std::string& bcc);

}  // namespace korrin
