#include "korrin/mail/SmtpSender.h"

#include "korrin/app/Defaults.h"
#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "korrin/audio/PlayableCopy.h"
#include "korrin/mail/MailDialogs.h"
#include "korrin/store/Trailer.h"
#include "platform/registry/Registry.h"

namespace korrin {

namespace {

// Each value is read into a buffer of this many bytes, its zero included.
constexpr DWORD kSettingBytes = 256;

}  // namespace

std::string XMailerValue() {
    return std::string(vendor::kProductLabel) + " v." + vendor::kVersion +
           " - voice messages by Quillion\r\n\tSupport: " + vendor::kSupportEmail +
           "\r\n\tWeb: " + vendor::kWebAddress;
}

std::string MissingSettingText(const std::string& label) {
    return "No " + label + " has been specified in Preferences. " + label +
           " is required by Quillion EMail for Windows (tm) in order to transmit this message.  "
           "Press the OK button and enter the required fields.";
}

std::vector<std::string> SplitEnvelopeList(const std::string& list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        if (i == list.size() || list[i] == ',' || list[i] == ';' || list[i] == '\t') {
            out.push_back(list.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

bool ReadPasswordSetting(platform::Secret& out, platform::DWORD bufferSize) {
    out.clear();
    platform::RegKeyGuard key;
    if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kKorrinKey, key.out()) !=
            platform::ERROR_SUCCESS ||
        bufferSize == 0)
        return false;
    platform::Secret buffer;
    char* bytes = buffer.resize(bufferSize);
    platform::DWORD type = 0, size = bufferSize;
    if (platform::RegQueryValueEx(key.get(), setting::kPassword, &type,
                                  reinterpret_cast<std::uint8_t*>(bytes),
                                  &size) != platform::ERROR_SUCCESS ||
        (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ))
        return false;
    std::string_view text(bytes, size);
    // As every text setting: it ends at its first zero, and must leave room for one.
    auto nul = text.find('\0');
    if (nul == std::string_view::npos && size >= bufferSize)
        return false;
    out.assign(text.substr(0, nul));
    return true;
}

CSmtpSender::CSmtpSender(void* owner) : owner_(owner) {}

CSmtpSender::~CSmtpSender() = default;

int CSmtpSender::LoadSettings() {
    struct Row {
        const char* value;
        const char* label;   // null: may be missing
        std::string* field;  // null: the password, read as a secret
    };
    const Row rows[] = {
        {setting::kName, "Display Name", &name_},
        {setting::kOrganization, nullptr, &organization_},
        {setting::kSmtpHost, "Outgoing SMTP Server", &server_},
        {setting::kEmailAddress, "Email Address", &email_},
        {setting::kAccount, "Account", &account_},
        {setting::kPassword, "Password", nullptr},
    };
    CUtils utils;
    for (const Row& row : rows) {
        bool empty = true;
        if (row.field) {
            utils.GetRegistryString(kKorrinKey, row.value, *row.field, kSettingBytes);
            empty = row.field->empty();
        } else {
            ReadPasswordSetting(password_, kSettingBytes);
            empty = password_.empty();
        }
        if (row.label && empty) {
            AppMessageBox(owner_, MissingSettingText(row.label), vendor::kQuestionCaption,
                          platform::MB_OK | platform::MB_ICONINFORMATION);
            ShowSmtpPreferences(owner_);
            return 1;
        }
    }
    if (mail_.SetSenderAddress(email_) != 0)
        return 1;  // a line break in the address, reported by the mail
    mail_.SetServer(server_);
    mail_.SetLogin(account_, password_);
    mail::UseStoredSecurity(mail_);
    return 0;
}

int CSmtpSender::CheckConnection() {
    return mail_.CheckConnection();
}

int CSmtpSender::AddRecipients(const std::string* to, const std::string* cc,
                               const std::string* bcc) {
    auto add = [&](const std::string* list,
                   int (CSMTPEmail::*fn)(const std::string&, const std::string&)) {
        if (!list)
            return;
        for (const std::string& piece : SplitEnvelopeList(*list))
            if (int rc = (mail_.*fn)(piece, piece); rc != 0 && recipientError_ == 0)
                recipientError_ = rc;
    };
    add(to, &CSMTPEmail::AddTo);
    add(cc, &CSMTPEmail::AddCc);
    if (bcc)
        for (const std::string& piece : SplitEnvelopeList(*bcc))
            if (int rc = mail_.AddBcc(piece); rc != 0 && recipientError_ == 0)
                recipientError_ = rc;
    return 1;
}

int CSmtpSender::Send(const std::string& subject, const std::string& note,
                      const std::string& path) {
    int rc = recipientError_;
    if (rc == 0) {
        mail_.SetSubject(subject);
        mail_.AddTextPart(note);
        mail_.AddFilePart(path);
        if (!copyPath_.empty())
            mail_.AddFilePart(copyPath_, copyType_, copyName_);
        mail_.AddHeader("X-Mailer", XMailerValue(), HeaderMode::kReplace);
        rc = mail_.Send();
    }
    if (rc == CSMTPError::kNoConnection)
        ShowDialUpConnections(owner_);
    else if (rc != 0)
        CEventReport().ShowError(kCannotSendText);
    return rc;
}

void CSmtpSender::AddCopy(const std::string& path, const std::string& contentType,
                          const std::string& fileName) {
    copyPath_ = path;
    copyType_ = contentType;
    copyName_ = fileName;
}

int SendMessageFile(CSmtpSender& sender, const std::string& path, CMessageTrailer* envelope) {
    const int read = envelope->ReadForSending(path, true, false);
    if (read != trailer::kRead) {
        if (read != trailer::kIoFailure)  // an input/output failure was reported by the read
            KORRIN_REPORT("Old File Found, or file corrupt : " + path);
        return CSMTPError::kFileOpen;
    }
    sender.AddRecipients(&envelope->toAddresses, &envelope->ccAddresses, nullptr);
    PlayableCopy copy;  // made here, on the sending thread; it goes when the send is over
    if (copy.Make(path, *envelope))
        sender.AddCopy(copy.path(), kPlayableCopyType, copy.fileName());
    return sender.Send(envelope->subject, envelope->note, path);
}

}  // namespace korrin
