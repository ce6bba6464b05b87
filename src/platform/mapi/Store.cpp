// The Maildir store: the store object, its four folders, messages held in memory until they
// are saved or submitted, their attachments, and the logged-on identity.
#include "platform/mapi/Store.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>

#include "platform/files/Files.h"
#include "platform/mapi/Maildir.h"

namespace korrin::platform {

namespace {
std::atomic<MailWriter> mailWriter{nullptr};
}  // namespace

void SetMailWriter(MailWriter writer) {
    mailWriter = writer;
}

namespace mapi_detail {

namespace {

const char* folderDisplayName(const std::string& folder) {
    if (folder.empty())
        return "Inbox";
    return folder == "Sent" ? "Sent Items" : folder == "Trash" ? "Deleted Items" : "Outbox";
}

// The part of GetProps/SetProps every object here shares.
template <class Interface>
class PropObject : public MapiObject<Interface> {
  public:
    explicit PropObject(Context ctx) : ctx_(std::move(ctx)) {}
    HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count,
                     SPropValue** props) override {
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (flags & MAPI_UNICODE)
            return MAPI_E_BAD_CHARWIDTH;
        refresh();
        return bag_.GetProps(tags, count, props);
    }
    HRESULT SetProps(ULONG, const SPropValue*, SPropProblemArray** problems) override {
        if (problems)
            *problems = nullptr;
        return MAPI_E_NO_ACCESS;
    }
    HRESULT DeleteProps(const SPropTagArray*, SPropProblemArray** problems) override {
        if (problems)
            *problems = nullptr;
        return MAPI_E_NO_ACCESS;
    }
    HRESULT SaveChanges(ULONG) override { return S_OK; }
    HRESULT OpenProperty(ULONG, const IID*, ULONG, ULONG, IUnknown** out) override {
        if (out)
            *out = nullptr;
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyTo(ULONG, const IID*, const SPropTagArray*, ULONG_PTR, void*, const IID*, void*,
                   ULONG, SPropProblemArray** problems) override {
        if (problems)
            *problems = nullptr;
        return MAPI_E_NO_SUPPORT;
    }

  protected:
    virtual void refresh() {}
    Context ctx_;
    PropBag bag_;
};

// Splits "Name <addr>" or a bare address; false when the text holds no address.
bool addressOfText(const std::string& text, std::string* name, std::string* address) {
    auto lt = text.rfind('<');
    auto gt = text.rfind('>');
    auto trim = [](std::string s) {
        std::size_t b = s.find_first_not_of(" \t\"");
        std::size_t e = s.find_last_not_of(" \t\"");
        return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    };
    if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
        std::string a = trim(text.substr(lt + 1, gt - lt - 1));
        if (a.find('@') == std::string::npos)
            return false;
        *name = trim(text.substr(0, lt));
        *address = a;
        return true;
    }
    std::string t = trim(text);
    if (t.find('@') == std::string::npos || t.find_first_of(" \t") != std::string::npos)
        return false;
    name->clear();
    *address = t;
    return true;
}

std::string newMessageId(const std::string& fromAddress) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    auto at = fromAddress.rfind('@');
    std::string domain = at == std::string::npos ? "localhost" : fromAddress.substr(at + 1);
    for (char& c : domain)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
            c = '_';
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld.%016llx", static_cast<long long>(std::time(nullptr)),
                  static_cast<unsigned long long>(rng()));
    return "<" + std::string(buf) + "@" + domain + ">";
}

struct AttachData {
    PropBag props;
    std::shared_ptr<std::string> data = std::make_shared<std::string>();
};

class Message;

class Attachment final : public PropObject<IAttach> {
  public:
    Attachment(Context ctx, Message* owner, std::shared_ptr<AttachData> data, ULONG num,
               bool modify);
    ~Attachment() override;
    HRESULT SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) override;
    HRESULT SaveChanges(ULONG flags) override;
    HRESULT OpenProperty(ULONG propTag, const IID* iid, ULONG options, ULONG flags,
                         IUnknown** out) override;

  private:
    void refresh() override {
        bag_ = work_->props;
        bag_.SetLong(PR_ATTACH_NUM, num_);
        bag_.SetLong(PR_OBJECT_TYPE, MAPI_ATTACH);
        if (!work_->data->empty() || work_->props.Long(PR_ATTACH_METHOD) == ATTACH_BY_VALUE)
            bag_.SetBinary(PR_ATTACH_DATA_BIN, *work_->data);
    }
    Message* owner_;                        // holds a reference
    std::shared_ptr<AttachData> original_;  // the message's
    std::shared_ptr<AttachData> work_;
    ULONG num_;
    bool modify_;
};

class Message final : public PropObject<IMessage> {
  public:
    Message(Context ctx, std::string folder, bool modify)
        : PropObject(std::move(ctx)), folder_(std::move(folder)), modify_(modify) {
        props_.SetString(PR_MESSAGE_CLASS, "IPM.Note");
        props_.SetLong(PR_MESSAGE_FLAGS, MSGFLAG_UNSENT);
    }

    HRESULT SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) override {
        if (problems)
            *problems = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        if (count && !props)
            return MAPI_E_INVALID_PARAMETER;
        for (ULONG i = 0; i < count; ++i) {
            ULONG id = PROP_ID(props[i].ulPropTag);
            if (id == PROP_ID(PR_ENTRYID) || id == PROP_ID(PR_OBJECT_TYPE))
                continue;
            SCODE sc = props_.Set(props[i]);
            if (FAILED(sc))
                return sc;
        }
        return S_OK;
    }
    HRESULT DeleteProps(const SPropTagArray* tags, SPropProblemArray** problems) override {
        if (problems)
            *problems = nullptr;
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        if (!tags)
            return MAPI_E_INVALID_PARAMETER;
        for (ULONG i = 0; i < tags->cValues; ++i)
            props_.Delete(tags->aulPropTag[i]);
        return S_OK;
    }

    HRESULT SaveChanges(ULONG flags) override {
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        // A saved message is a draft: in cur/ with the D flag, so the spooler passes it by.
        HRESULT hr = writeTo(folder_, "D");
        if (SUCCEEDED(hr) && !(flags & (KEEP_OPEN_READWRITE | KEEP_OPEN_READONLY)))
            modify_ = false;
        if (flags & KEEP_OPEN_READONLY)
            modify_ = false;
        return hr;
    }

    HRESULT OpenProperty(ULONG, const IID*, ULONG, ULONG, IUnknown** out) override {
        if (out)
            *out = nullptr;
        return MAPI_E_NO_SUPPORT;
    }

    HRESULT CopyTo(ULONG, const IID*, const SPropTagArray* excluded, ULONG_PTR, void*,
                   const IID* iid, void* dest, ULONG, SPropProblemArray** problems) override {
        if (problems)
            *problems = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (!dest || (iid && iid != &IID_IMessage))
            return MAPI_E_INVALID_PARAMETER;
        auto* to = dynamic_cast<Message*>(static_cast<IMessage*>(dest));
        if (!to)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (!to->modify_)
            return MAPI_E_NO_ACCESS;
        auto isExcluded = [&](ULONG tag) {
            if (!excluded)
                return false;
            for (ULONG i = 0; i < excluded->cValues; ++i)
                if (PROP_ID(excluded->aulPropTag[i]) == PROP_ID(tag))
                    return true;
            return false;
        };
        for (const auto& p : props_.all())
            if (!isExcluded(p.tag)) {
                to->props_.Put(p);
            }
        if (!isExcluded(PR_MESSAGE_RECIPIENTS_ID))
            to->recipients_ = recipients_;
        if (!isExcluded(PR_MESSAGE_ATTACHMENTS_ID)) {
            to->attachments_.clear();
            for (const auto& a : attachments_) {
                auto copy = std::make_shared<AttachData>();
                copy->props = a->props;
                *copy->data = *a->data;
                to->attachments_.push_back(copy);
            }
        }
        return S_OK;
    }

    HRESULT GetAttachmentTable(ULONG, IMAPITable** table) override {
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<PropBag> rows;
        for (std::size_t i = 0; i < attachments_.size(); ++i) {
            PropBag r = attachments_[i]->props;
            r.SetLong(PR_ATTACH_NUM, static_cast<std::int64_t>(i));
            rows.push_back(std::move(r));
        }
        *table =
            new RowTable(std::move(rows), {PR_ATTACH_NUM, PR_ATTACH_FILENAME, PR_ATTACH_METHOD});
        return S_OK;
    }
    HRESULT OpenAttach(ULONG num, const IID*, ULONG flags, IAttach** attach) override {
        if (!attach)
            return MAPI_E_INVALID_PARAMETER;
        *attach = nullptr;
        if (num >= attachments_.size())
            return MAPI_E_NOT_FOUND;
        AddRef();
        *attach =
            new Attachment(ctx_, this, attachments_[num], num, modify_ && (flags & MAPI_MODIFY));
        return S_OK;
    }
    HRESULT CreateAttach(const IID*, ULONG, ULONG* num, IAttach** attach) override {
        if (!attach)
            return MAPI_E_INVALID_PARAMETER;
        *attach = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        ULONG n = nextAttach_++;
        if (num)
            *num = n;
        AddRef();
        *attach = new Attachment(ctx_, this, std::make_shared<AttachData>(), n, true);
        return S_OK;
    }
    HRESULT DeleteAttach(ULONG num, ULONG_PTR, void*, ULONG) override {
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        if (num >= attachments_.size())
            return MAPI_E_NOT_FOUND;
        attachments_.erase(attachments_.begin() + num);
        return S_OK;
    }
    HRESULT GetRecipientTable(ULONG, IMAPITable** table) override {
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        std::vector<PropBag> rows = recipients_;
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i].SetLong(PR_ROWID, static_cast<std::int64_t>(i));
        *table = new RowTable(std::move(rows),
                              {PR_ROWID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_RECIPIENT_TYPE});
        return S_OK;
    }
    HRESULT ModifyRecipients(ULONG flags, const ADRLIST* mods) override {
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        if (flags & ~(MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE))
            return MAPI_E_UNKNOWN_FLAGS;
        if (flags & (MODRECIP_MODIFY | MODRECIP_REMOVE))
            return MAPI_E_NO_SUPPORT;
        std::vector<PropBag> list;
        if (mods) {
            for (ULONG i = 0; i < mods->cEntries; ++i) {
                const ADRENTRY& e = mods->aEntries[i];
                if (e.cValues && !e.rgPropVals)
                    return MAPI_E_INVALID_PARAMETER;
                PropBag r;
                for (ULONG j = 0; j < e.cValues; ++j) {
                    SCODE sc = r.Set(e.rgPropVals[j]);
                    if (FAILED(sc))
                        return sc;
                }
                list.push_back(std::move(r));
            }
        }
        if (flags & MODRECIP_ADD)
            recipients_.insert(recipients_.end(), list.begin(), list.end());
        else
            recipients_ = std::move(list);
        return S_OK;
    }

    HRESULT SubmitMessage(ULONG) override {
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        if (recipients_.empty())
            return MAPI_E_NO_RECIPIENTS;
        // Submitted mail always lands in the Outbox; a saved copy elsewhere stays.
        std::string savedFolder = folder_;
        std::string savedUnique = unique_;
        if (savedFolder != "Outbox")
            unique_.clear();
        folder_ = "Outbox";
        HRESULT hr = writeTo("Outbox", "");
        if (FAILED(hr)) {
            folder_ = savedFolder;
            unique_ = savedUnique;
            return hr;
        }
        modify_ = false;
        RequestSpool(ctx_->profile);
        return S_OK;
    }

    void keepAttachment(const std::shared_ptr<AttachData>& data, ULONG num) {
        // A re-saved attachment replaces its earlier state.
        for (auto& a : attachments_)
            if (a == data)
                return;
        (void)num;
        attachments_.push_back(data);
    }

    // The store entry of a message read back from disk.
    void setSaved(std::string unique) { unique_ = std::move(unique); }
    PropBag& props() { return props_; }

  private:
    void refresh() override {
        bag_ = props_;
        bag_.SetLong(PR_OBJECT_TYPE, MAPI_MESSAGE);
        bag_.SetBool(PR_HASATTACH, !attachments_.empty());
        if (!attachments_.empty())
            bag_.SetLong(PR_MESSAGE_FLAGS, props_.Long(PR_MESSAGE_FLAGS) | MSGFLAG_HASATTACH);
        if (!unique_.empty())
            bag_.SetBinary(PR_ENTRYID, EntryIdOf(ctx_, EntryKind::kMessage, folder_, unique_));
        bag_.SetBinary(PR_STORE_ENTRYID, EntryIdOf(ctx_, EntryKind::kStore));
    }

    // A draft keeps what it can: recipients without an address are left out of its mail.
    HRESULT buildMail(OutgoingMail* mail, bool draft) const {
        mail->fromName = ctx_->profile.displayName;
        mail->fromAddress = ctx_->profile.address;
        mail->subject = props_.String(PR_SUBJECT);
        mail->body = props_.String(PR_BODY);
        mail->date = std::time(nullptr);
        mail->messageId = newMessageId(mail->fromAddress);
        ULONG lastType = MAPI_TO;
        for (const auto& r : recipients_) {
            OutgoingRecipient out;
            out.type = static_cast<ULONG>(r.Long(PR_RECIPIENT_TYPE, lastType));
            if (out.type != MAPI_TO && out.type != MAPI_CC && out.type != MAPI_BCC)
                out.type = MAPI_TO;
            lastType = out.type;
            out.name = r.String(PR_DISPLAY_NAME);
            out.address = r.String(PR_EMAIL_ADDRESS);
            if (out.address.empty()) {
                std::string name;
                if (!addressOfText(out.name, &name, &out.address)) {
                    if (draft)
                        continue;
                    return MAPI_E_NOT_FOUND;  // unresolved: no address to send to
                }
                out.name = name;
            }
            mail->recipients.push_back(std::move(out));
        }
        for (const auto& a : attachments_) {
            OutgoingAttachment out;
            out.fileName = a->props.String(PR_ATTACH_LONG_FILENAME);
            if (out.fileName.empty())
                out.fileName = a->props.String(PR_ATTACH_FILENAME);
            if (out.fileName.empty())
                out.fileName = "attachment";
            out.data = *a->data;
            mail->attachments.push_back(std::move(out));
        }
        return S_OK;
    }

    // Writes the message as a mail into folder (replacing this message's earlier file there).
    HRESULT writeTo(const std::string& folder, const std::string& flags) {
        MailWriter writer = mailWriter.load();
        if (!writer)
            return MAPI_E_NO_SUPPORT;
        OutgoingMail mail;
        HRESULT hr = buildMail(&mail, flags == "D");
        if (FAILED(hr))
            return hr;
        const std::string root = ctx_->profile.storeDir;
        if (!EnsureMaildir(root))
            return MAPI_E_DISK_ERROR;
        const std::string path = FolderPath(root, folder);
        std::string why;
        std::string unique;
        bool ok = DeliverMaildir(
            path, [&](int fd) { return writer(mail, fd, &why); }, flags, &unique);
        if (!ok)
            return why.empty() ? MAPI_E_DISK_ERROR : MAPI_E_CALL_FAILED;
        MaildirFile old;
        if (!unique_.empty() && FindMaildir(path, unique_, &old)) {
            ::unlink(old.path.c_str());
            SyncFolder(old.path.substr(0, old.path.rfind('/')));
        }
        unique_ = unique;
        return S_OK;
    }

    static constexpr ULONG PR_MESSAGE_RECIPIENTS_ID = PROP_TAG(PT_OBJECT, 0x0E12);
    static constexpr ULONG PR_MESSAGE_ATTACHMENTS_ID = PROP_TAG(PT_OBJECT, 0x0E13);

    std::string folder_;
    std::string unique_;  // set once saved
    bool modify_;
    PropBag props_;
    std::vector<PropBag> recipients_;
    std::vector<std::shared_ptr<AttachData>> attachments_;
    ULONG nextAttach_ = 0;
};

Attachment::Attachment(Context ctx, Message* owner, std::shared_ptr<AttachData> data, ULONG num,
                       bool modify)
    : PropObject(std::move(ctx)), owner_(owner), num_(num), modify_(modify) {
    // Changes are made on a copy and land in the message at SaveChanges.
    work_ = std::make_shared<AttachData>(*data);
    work_->data = data->data;
    original_ = std::move(data);
}

Attachment::~Attachment() {
    owner_->Release();
}

HRESULT Attachment::SetProps(ULONG count, const SPropValue* props, SPropProblemArray** problems) {
    if (problems)
        *problems = nullptr;
    if (!modify_)
        return MAPI_E_NO_ACCESS;
    if (count && !props)
        return MAPI_E_INVALID_PARAMETER;
    for (ULONG i = 0; i < count; ++i) {
        if (props[i].ulPropTag == PR_ATTACH_DATA_BIN) {
            const SBinary& b = props[i].Value.bin;
            if (b.cb && !b.lpb)
                return MAPI_E_INVALID_PARAMETER;
            work_->data->assign(reinterpret_cast<const char*>(b.lpb), b.cb);
            continue;
        }
        SCODE sc = work_->props.Set(props[i]);
        if (FAILED(sc))
            return sc;
    }
    return S_OK;
}

HRESULT Attachment::SaveChanges(ULONG) {
    if (!modify_)
        return MAPI_E_NO_ACCESS;
    original_->props = work_->props;
    owner_->keepAttachment(original_, num_);
    return S_OK;
}

HRESULT Attachment::OpenProperty(ULONG propTag, const IID* iid, ULONG, ULONG flags,
                                 IUnknown** out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (propTag != PR_ATTACH_DATA_BIN || (iid && iid != &IID_IStream))
        return MAPI_E_NO_SUPPORT;
    if ((flags & (MAPI_CREATE | MAPI_MODIFY)) && !modify_)
        return MAPI_E_NO_ACCESS;
    if (flags & MAPI_CREATE)
        work_->data->clear();
    *out = NewMemoryStream(work_->data);
    return S_OK;
}

class Folder final : public PropObject<IMAPIFolder> {
  public:
    Folder(Context ctx, std::string folder, bool modify)
        : PropObject(std::move(ctx)), folder_(std::move(folder)), modify_(modify) {}

    HRESULT GetContentsTable(ULONG, IMAPITable** table) override {
        if (!table)
            return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        std::vector<PropBag> rows;
        for (const auto& f : ListMaildir(FolderPath(ctx_->profile.storeDir, folder_))) {
            PropBag r;
            r.SetBinary(PR_ENTRYID, EntryIdOf(ctx_, EntryKind::kMessage, folder_, f.unique));
            r.SetString(PR_INSTANCE_KEY, f.unique);
            ULONG flags = 0;
            if (f.flags.find('S') != std::string::npos)
                flags |= MSGFLAG_READ;
            if (f.flags.find('D') != std::string::npos)
                flags |= MSGFLAG_UNSENT;
            r.SetLong(PR_MESSAGE_FLAGS, flags);
            RegularFileStatus st;
            if (GetRegularFileStatus(f.path, &st))
                r.SetLong(PR_MESSAGE_SIZE,
                          static_cast<std::int64_t>(std::min<std::uint64_t>(st.size, 0x7FFFFFFF)));
            rows.push_back(std::move(r));
        }
        *table = new RowTable(std::move(rows), {PR_ENTRYID, PR_MESSAGE_FLAGS, PR_MESSAGE_SIZE});
        return S_OK;
    }

    HRESULT OpenEntry(ULONG cb, const ENTRYID* id, const IID*, ULONG flags, ULONG* objType,
                      IUnknown** out) override {
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        EntryRef ref;
        if (!DecodeEntryId(id, cb, &ref))
            return MAPI_E_INVALID_ENTRYID;
        if (ref.profile != ctx_->profile.name)
            return MAPI_E_NOT_FOUND;
        return OpenStoreEntry(ctx_, ref, flags, objType, out);
    }

    HRESULT CreateMessage(const IID* iid, ULONG, IMessage** message) override {
        if (!message)
            return MAPI_E_INVALID_PARAMETER;
        *message = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (iid && iid != &IID_IMessage)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        *message = new Message(ctx_, folder_, true);
        return S_OK;
    }

    HRESULT DeleteMessages(const ENTRYLIST* list, ULONG_PTR, void*, ULONG) override {
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (!list || (list->cValues && !list->lpbin))
            return MAPI_E_INVALID_PARAMETER;
        if (!modify_)
            return MAPI_E_NO_ACCESS;
        const std::string path = FolderPath(ctx_->profile.storeDir, folder_);
        HRESULT result = S_OK;
        for (ULONG i = 0; i < list->cValues; ++i) {
            EntryRef ref;
            if (!DecodeEntryId(list->lpbin[i].lpb, list->lpbin[i].cb, &ref) ||
                ref.kind != EntryKind::kMessage) {
                result = MAPI_E_INVALID_ENTRYID;
                continue;
            }
            MaildirFile f;
            if (ref.profile != ctx_->profile.name || ref.folder != folder_ ||
                !FindMaildir(path, ref.message, &f)) {
                result = MAPI_E_NOT_FOUND;
                continue;
            }
            if (::unlink(f.path.c_str()) != 0) {
                result = MAPI_E_DISK_ERROR;
                continue;
            }
            SyncFolder(f.path.substr(0, f.path.rfind('/')));
        }
        return result;
    }

  private:
    void refresh() override {
        bag_.Clear();
        bag_.SetBinary(PR_ENTRYID, EntryIdOf(ctx_, EntryKind::kFolder, folder_));
        bag_.SetString(PR_DISPLAY_NAME, folderDisplayName(folder_));
        bag_.SetLong(PR_OBJECT_TYPE, MAPI_FOLDER);
        bag_.SetBinary(PR_STORE_ENTRYID, EntryIdOf(ctx_, EntryKind::kStore));
    }
    std::string folder_;
    bool modify_;
};

class Store final : public PropObject<IMsgStore> {
  public:
    using PropObject::PropObject;

    HRESULT OpenEntry(ULONG cb, const ENTRYID* id, const IID*, ULONG flags, ULONG* objType,
                      IUnknown** out) override {
        if (!out)
            return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        EntryRef ref;
        if (!id || cb == 0) {  // the root folder
            ref.kind = EntryKind::kFolder;
            ref.profile = ctx_->profile.name;
        } else if (!DecodeEntryId(id, cb, &ref)) {
            return MAPI_E_INVALID_ENTRYID;
        }
        if (ref.profile != ctx_->profile.name)
            return MAPI_E_NOT_FOUND;
        return OpenStoreEntry(ctx_, ref, flags, objType, out);
    }

    HRESULT GetReceiveFolder(const char* messageClass, ULONG flags, ULONG* cb, ENTRYID** id,
                             char** explicitClass) override {
        if (!cb || !id)
            return MAPI_E_INVALID_PARAMETER;
        *cb = 0;
        *id = nullptr;
        if (explicitClass)
            *explicitClass = nullptr;
        if (!ctx_->alive)
            return MAPI_E_END_OF_SESSION;
        if (flags & MAPI_UNICODE)
            return MAPI_E_BAD_CHARWIDTH;
        // Every class is received in the Inbox; its explicit class is "IPM" or "".
        std::string cls = messageClass ? messageClass : "";
        HRESULT hr = HandOutEntryId(EntryIdOf(ctx_, EntryKind::kFolder, ""), cb, id);
        if (FAILED(hr) || !explicitClass)
            return hr;
        std::string given = cls.rfind("IPM", 0) == 0 ? "IPM" : "";
        void* p = nullptr;
        if (SUCCEEDED(MAPIAllocateBuffer(static_cast<ULONG>(given.size() + 1), &p))) {
            std::memcpy(p, given.c_str(), given.size() + 1);
            *explicitClass = static_cast<char*>(p);
        }
        return S_OK;
    }

  private:
    void refresh() override {
        bag_.Clear();
        bag_.SetBinary(PR_ENTRYID, EntryIdOf(ctx_, EntryKind::kStore));
        bag_.SetBinary(PR_STORE_ENTRYID, EntryIdOf(ctx_, EntryKind::kStore));
        bag_.SetString(PR_DISPLAY_NAME, ctx_->profile.name);
        bag_.SetBool(PR_DEFAULT_STORE, true);
        bag_.SetLong(PR_OBJECT_TYPE, MAPI_STORE);
        bag_.SetBinary(PR_IPM_OUTBOX_ENTRYID, EntryIdOf(ctx_, EntryKind::kFolder, "Outbox"));
        bag_.SetBinary(PR_IPM_SENTMAIL_ENTRYID, EntryIdOf(ctx_, EntryKind::kFolder, "Sent"));
        bag_.SetBinary(PR_IPM_WASTEBASKET_ENTRYID, EntryIdOf(ctx_, EntryKind::kFolder, "Trash"));
    }
};

class Identity final : public PropObject<IMailUser> {
  public:
    using PropObject::PropObject;

  private:
    void refresh() override {
        bag_.Clear();
        bag_.SetBinary(PR_ENTRYID, EntryIdOf(ctx_, EntryKind::kIdentity));
        bag_.SetString(PR_DISPLAY_NAME, ctx_->profile.displayName);
        bag_.SetString(PR_EMAIL_ADDRESS, ctx_->profile.address);
        bag_.SetString(PR_ADDRTYPE, "SMTP");
        std::string key = "SMTP:" + ctx_->profile.address;
        for (char& c : key)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        bag_.SetBinary(PR_SEARCH_KEY, key + '\0');
        bag_.SetLong(PR_OBJECT_TYPE, MAPI_MAILUSER);
    }
};

}  // namespace

HRESULT HandOutEntryId(const std::string& id, ULONG* cb, ENTRYID** entryId) {
    void* p = nullptr;
    SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(id.size()), &p);
    if (FAILED(sc))
        return sc;
    std::memcpy(p, id.data(), id.size());
    *cb = static_cast<ULONG>(id.size());
    *entryId = static_cast<ENTRYID*>(p);
    return S_OK;
}

std::string EntryIdOf(const Context& ctx, EntryKind kind, const std::string& folder,
                      const std::string& message) {
    return EncodeEntryId({kind, ctx->profile.name, folder, message});
}

HRESULT OpenStore(const Context& ctx, IMsgStore** store) {
    if (!EnsureMaildir(ctx->profile.storeDir))
        return MAPI_E_DISK_ERROR;
    *store = new Store(ctx);
    return S_OK;
}

HRESULT OpenIdentity(const Context& ctx, IMailUser** user) {
    *user = new Identity(ctx);
    return S_OK;
}

HRESULT OpenStoreEntry(const Context& ctx, const EntryRef& ref, ULONG flags, ULONG* objType,
                       IUnknown** out) {
    *out = nullptr;
    if (!ctx->alive)
        return MAPI_E_END_OF_SESSION;
    switch (ref.kind) {
        case EntryKind::kStore: {
            IMsgStore* s = nullptr;
            HRESULT hr = OpenStore(ctx, &s);
            if (FAILED(hr))
                return hr;
            *out = s;
            if (objType)
                *objType = MAPI_STORE;
            return S_OK;
        }
        case EntryKind::kFolder:
            if (!EnsureMaildir(ctx->profile.storeDir))
                return MAPI_E_DISK_ERROR;
            *out = static_cast<IMAPIFolder*>(
                new Folder(ctx, ref.folder, (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0));
            if (objType)
                *objType = MAPI_FOLDER;
            return S_OK;
        case EntryKind::kMessage: {
            MaildirFile f;
            if (!FindMaildir(FolderPath(ctx->profile.storeDir, ref.folder), ref.message, &f))
                return MAPI_E_NOT_FOUND;
            // Saved messages are mail text: opened, they show their place and flags only.
            auto* m = new Message(ctx, ref.folder, false);
            m->setSaved(ref.message);
            ULONG mf = f.flags.find('S') != std::string::npos ? MSGFLAG_READ : 0;
            if (f.flags.find('D') != std::string::npos)
                mf |= MSGFLAG_UNSENT;
            m->props().SetLong(PR_MESSAGE_FLAGS, mf);
            *out = static_cast<IMessage*>(m);
            if (objType)
                *objType = MAPI_MESSAGE;
            return S_OK;
        }
        case EntryKind::kIdentity: {
            IMailUser* u = nullptr;
            OpenIdentity(ctx, &u);
            *out = u;
            if (objType)
                *objType = MAPI_MAILUSER;
            return S_OK;
        }
    }
    return MAPI_E_INVALID_ENTRYID;
}

}  // namespace mapi_detail
}  // namespace korrin::platform
