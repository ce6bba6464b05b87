// The messaging layer's objects, as abstract interfaces.
//
// Lifetime: counted references. Every call that hands out an object (OpenEntry, CreateMessage,
// GetMsgStoresTable, ...) hands out one reference the caller owns and gives back with
// Release(); AddRef() takes another. An object lives while a reference does: a folder kept
// after its session logged off still answers, but a message store whose session is gone fails
// its calls with MAPI_E_END_OF_SESSION. Derive from MapiObject (below) to get the counting.
//
// Objects whose interface a caller asked for by IID are returned as that interface; with a null
// IID the caller gets the object's own interface and may dynamic_cast from IUnknown (OpenEntry
// says which through *objType).
//
// Threads: a session and what it hands out may be used from one thread at a time (the
// user-interface thread of the program, or a command); the spooler runs on a thread of its own
// and shares nothing with them but the folders on disk.
#pragma once

#include <atomic>

#include "platform/mapi/MapiDefs.h"

namespace korrin::platform {

class IUnknown {
  public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~IUnknown() = default;
};

// Reference counting for an implementation: starts at one reference.
template <class Interface>
class MapiObject : public Interface {
  public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

  protected:
    MapiObject() = default;
    MapiObject(const MapiObject&) = delete;
    MapiObject& operator=(const MapiObject&) = delete;

  private:
    std::atomic<ULONG> refs_{1};
};

// Releases a reference at the end of a scope.
template <class T>
class MapiRef {
  public:
    MapiRef() = default;
    explicit MapiRef(T* p) : p_(p) {}
    ~MapiRef() { reset(); }
    MapiRef(const MapiRef&) = delete;
    MapiRef& operator=(const MapiRef&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** out() {
        reset();
        return &p_;
    }
    T* release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(T* p = nullptr) {
        if (p_)
            p_->Release();
        p_ = p;
    }

  private:
    T* p_ = nullptr;
};

class IMAPITable : public IUnknown {
  public:
    // Columns: the tags each row carries, in that order; a row without a value of a column
    // carries PR_NULL-typed PT_ERROR MAPI_E_NOT_FOUND in its place.
    virtual HRESULT SetColumns(const SPropTagArray* columns, ULONG flags) = 0;
    virtual HRESULT Restrict(const SRestriction* restriction, ULONG flags) = 0;
    virtual HRESULT SeekRow(ULONG bookmark, std::int32_t rowCount, std::int32_t* sought) = 0;
    virtual HRESULT GetRowCount(ULONG flags, ULONG* count) = 0;
    // Up to rowCount rows from the current position (moving it on); *rows is freed with
    // FreeProws.
    virtual HRESULT QueryRows(std::int32_t rowCount, ULONG flags, SRowSet** rows) = 0;
};

class IStream : public IUnknown {
  public:
    virtual HRESULT Read(void* data, ULONG size, ULONG* read) = 0;
    virtual HRESULT Write(const void* data, ULONG size, ULONG* written) = 0;
    virtual HRESULT Seek(std::int64_t move, ULONG origin, std::uint64_t* newPosition) = 0;
    virtual HRESULT SetSize(std::uint64_t size) = 0;
    // Copies size bytes from the current position into target at its position.
    virtual HRESULT CopyTo(IStream* target, std::uint64_t size, std::uint64_t* read,
                           std::uint64_t* written) = 0;
    virtual HRESULT Commit(ULONG flags) = 0;
    virtual HRESULT Stat(STATSTG* stat, ULONG flags) = 0;
};

class IMAPIProp : public IUnknown {
  public:
    // tags null: every property the object has. *props is one MAPIAllocateBuffer block (the
    // caller frees it); a tag the object lacks comes back as PT_ERROR MAPI_E_NOT_FOUND in its
    // slot and the result is MAPI_W_ERRORS_RETURNED.
    virtual HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count,
                             SPropValue** props) = 0;
    // Copies the values (strings and bytes too). problems may be null.
    virtual HRESULT SetProps(ULONG count, const SPropValue* props,
                             SPropProblemArray** problems) = 0;
    virtual HRESULT DeleteProps(const SPropTagArray* tags, SPropProblemArray** problems) = 0;
    virtual HRESULT SaveChanges(ULONG flags) = 0;
    virtual HRESULT OpenProperty(ULONG propTag, const IID* iid, ULONG interfaceOptions, ULONG flags,
                                 IUnknown** out) = 0;
    // Copies every property (and, for messages, recipients and attachments) except those in
    // excluded into dest, which must be an object of interface iid (IID_IMessage for
    // messages). uiParam and progress are accepted and unused.
    virtual HRESULT CopyTo(ULONG excludedInterfaces, const IID* excludedIids,
                           const SPropTagArray* excluded, ULONG_PTR uiParam, void* progress,
                           const IID* iid, void* dest, ULONG flags,
                           SPropProblemArray** problems) = 0;
};

class IAttach : public IMAPIProp {};

class IMailUser : public IMAPIProp {};

class IMessage : public IMAPIProp {
  public:
    virtual HRESULT GetAttachmentTable(ULONG flags, IMAPITable** table) = 0;
    virtual HRESULT OpenAttach(ULONG attachmentNum, const IID* iid, ULONG flags,
                               IAttach** attach) = 0;
    virtual HRESULT CreateAttach(const IID* iid, ULONG flags, ULONG* attachmentNum,
                                 IAttach** attach) = 0;
    virtual HRESULT DeleteAttach(ULONG attachmentNum, ULONG_PTR uiParam, void* progress,
                                 ULONG flags) = 0;
    virtual HRESULT GetRecipientTable(ULONG flags, IMAPITable** table) = 0;
    // flags 0: the list replaces every recipient; MODRECIP_ADD appends.
    virtual HRESULT ModifyRecipients(ULONG flags, const ADRLIST* mods) = 0;
    // Writes the message as a mail to the Outbox folder and returns; the spooler sends it.
    virtual HRESULT SubmitMessage(ULONG flags) = 0;
};

class IMAPIContainer : public IMAPIProp {
  public:
    virtual HRESULT GetContentsTable(ULONG flags, IMAPITable** table) = 0;
    virtual HRESULT OpenEntry(ULONG cbEntryID, const ENTRYID* entryID, const IID* iid, ULONG flags,
                              ULONG* objType, IUnknown** out) = 0;
};

class IMAPIFolder : public IMAPIContainer {
  public:
    // The new message exists only in memory until its SaveChanges.
    virtual HRESULT CreateMessage(const IID* iid, ULONG flags, IMessage** message) = 0;
    virtual HRESULT DeleteMessages(const ENTRYLIST* messages, ULONG_PTR uiParam, void* progress,
                                   ULONG flags) = 0;
};

class IMsgStore : public IMAPIProp {
  public:
    virtual HRESULT OpenEntry(ULONG cbEntryID, const ENTRYID* entryID, const IID* iid, ULONG flags,
                              ULONG* objType, IUnknown** out) = 0;
    // *entryID is a MAPIAllocateBuffer block; explicitClass may be null.
    virtual HRESULT GetReceiveFolder(const char* messageClass, ULONG flags, ULONG* cbEntryID,
                                     ENTRYID** entryID, char** explicitClass) = 0;
};

// The address book. Declared here, made by the address-book module (see
// SetAddressBookFactory in Mapi.h).
class IAddrBook : public IMAPIProp {
  public:
    virtual HRESULT OpenEntry(ULONG cbEntryID, const ENTRYID* entryID, const IID* iid, ULONG flags,
                              ULONG* objType, IUnknown** out) = 0;
    // Resolves the entries of adrList in place (each entry's values block is replaced by one
    // carrying PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_ENTRYID and the entry's
    // PR_RECIPIENT_TYPE). MAPI_E_AMBIGUOUS_RECIP / MAPI_E_NOT_FOUND when some stay as typed.
    virtual HRESULT ResolveName(ULONG_PTR uiParam, ULONG flags, const char* newEntryTitle,
                                ADRLIST* adrList) = 0;
    // Shows the address dialog; *uiParam is the parent window. *adrList (may be null) is shown
    // and replaced by the choice (old list freed with FreePadrlist). MAPI_E_USER_CANCEL.
    virtual HRESULT Address(ULONG_PTR* uiParam, ADRPARM* params, ADRLIST** adrList) = 0;
};

class IProfAdmin : public IUnknown {
  public:
    // Rows: PR_DISPLAY_NAME, PR_DEFAULT_PROFILE, in name order.
    virtual HRESULT GetProfileTable(ULONG flags, IMAPITable** table) = 0;
    // Removes the profile from the registry; its folders are kept.
    virtual HRESULT DeleteProfile(const char* profileName, ULONG flags) = 0;
    virtual HRESULT SetDefaultProfile(const char* profileName, ULONG flags) = 0;
};

class IMAPISession : public IUnknown {
  public:
    // Rows: PR_ENTRYID, PR_DISPLAY_NAME, PR_DEFAULT_STORE (one store: the profile's Maildir).
    virtual HRESULT GetMsgStoresTable(ULONG flags, IMAPITable** table) = 0;
    virtual HRESULT OpenMsgStore(ULONG_PTR uiParam, ULONG cbEntryID, const ENTRYID* entryID,
                                 const IID* iid, ULONG flags, IMsgStore** store) = 0;
    // The address book through the registered factory; MAPI_E_NO_SUPPORT while none is.
    virtual HRESULT OpenAddressBook(ULONG_PTR uiParam, const IID* iid, ULONG flags,
                                    IAddrBook** addrBook) = 0;
    // The identity's entry ID (a MAPIAllocateBuffer block); OpenEntry opens it as IMailUser.
    virtual HRESULT QueryIdentity(ULONG* cbEntryID, ENTRYID** entryID) = 0;
    // Opens a folder, message, the identity, or (through the address book) a contact.
    virtual HRESULT OpenEntry(ULONG cbEntryID, const ENTRYID* entryID, const IID* iid, ULONG flags,
                              ULONG* objType, IUnknown** out) = 0;
    virtual HRESULT Logoff(ULONG_PTR uiParam, ULONG flags, ULONG reserved) = 0;
};

}  // namespace korrin::platform
