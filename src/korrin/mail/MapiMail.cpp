#include "korrin/mail/MapiMail.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

#include "korrin/mail/MailWriter.h"
#include "korrin/mail/MimeEncode.h"
#include "platform/files/Files.h"

namespace korrin {

namespace {

bool hasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string extensionOf(const std::string& name) {
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size() || name.size() - dot > 16)
        return {};
    std::string ext = name.substr(dot);
    for (char c : ext.substr(1))
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return {};
    return ext;
}

// Attachments are read by the writer from files: each is put in a file of the user's private
// temporary folder for the time of the writing.
struct TempFiles {
    std::vector<std::string> paths;
    ~TempFiles() {
        for (const auto& p : paths)
            ::unlink(p.c_str());
    }
};

}  // namespace

bool WriteMapiMail(const platform::OutgoingMail& mail, int fd, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (hasControl(mail.fromName) || hasControl(mail.fromAddress) || mail.fromAddress.empty())
        return fail("the identity's name or address is missing or holds a line break");
    CMailUtil m;
    std::string from = mail.fromName.empty() ? mail.fromAddress
                                             : "\"" + mail::QuotedText(mail.fromName) + "\" <" +
                                                   mail.fromAddress + ">";
    m.AddHeader("From", from);
    m.SetSenderAddress(mail.fromAddress);
    m.SetSubject(mail.subject);
    std::string bcc;
    for (const auto& r : mail.recipients) {
        // An address is never a list file here: the messaging layer's recipients are typed or
        // picked by people, not by the program's own sending.
        if (r.address.empty() || r.address.front() == '@' || hasControl(r.address) ||
            hasControl(r.name))
            return fail("recipient \"" + r.name + "\" has no usable address");
        int rc = 0;
        if (r.type == platform::MAPI_CC)
            rc = m.AddCc(r.name, r.address);
        else if (r.type == platform::MAPI_BCC) {
            rc = m.AddBcc(r.address);
            bcc += (bcc.empty() ? "" : ", ") + mail::BareAddress(r.address);
        } else
            rc = m.AddTo(r.name, r.address);
        if (rc != 0)
            return fail("recipient " + r.address + " refused");
    }
    // `sendmail -t` takes the blind copies from this header and removes it before sending.
    if (!bcc.empty())
        m.AddHeader("Bcc", bcc);
    m.AddDate(mail::Rfc822Date(mail.date ? mail.date : std::time(nullptr)));
    if (!mail.messageId.empty() && !hasControl(mail.messageId))
        m.AddHeader("Message-ID", mail.messageId);
    m.AddTextPart(mail.body);

    TempFiles temps;
    if (!mail.attachments.empty()) {
        std::string dir;
        if (!platform::GetPrivateTempFolder(&dir))
            return fail("no private temporary folder");
        for (const auto& a : mail.attachments) {
            std::string path;
            int tfd = platform::CreateUniqueFile(dir, "att", extensionOf(a.fileName), 0600, &path);
            if (tfd < 0)
                return fail("cannot make a temporary file");
            temps.paths.push_back(path);
            bool ok = platform::WriteAll(tfd, a.data.data(), a.data.size());
            ok = (::close(tfd) == 0) && ok;
            if (!ok)
                return fail("cannot write a temporary file");
            std::string type = mail::ContentTypeFor(path);
            // Its name parameter names the temporary file: the part is named after the attachment.
            auto semi = type.find(';');
            if (semi != std::string::npos)
                type.resize(semi);
            std::string name = a.fileName;
            for (char& c : name)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    c = ' ';
            m.AddFilePart(path, type, name);
        }
    }
    int copy = ::dup(fd);
    if (copy < 0)
        return fail("cannot write the message");
    std::FILE* out = ::fdopen(copy, "wb");
    if (!out) {
        ::close(copy);
        return fail("cannot write the message");
    }
    int rc = m.WriteOutMessage(out);
    bool flushed = std::fflush(out) == 0;
    bool closed = std::fclose(out) == 0;
    if (rc != 0 || !flushed || !closed)
        return fail("the message could not be written (" + std::to_string(rc) + ")");
    return true;
}

void InstallMapiMailWriter() {
    platform::SetMailWriter(&WriteMapiMail);
}

}  // namespace korrin
