// One voice message out over SMTP: the sender's settings loaded and checked, the recipients
// of the message's envelope added, the message file attached exactly as it lies (trailer and,
// for .kx1, the archive included), the note with its banner as the text, and the mail sent.
//
// One CSmtpSender per message. The settings load and the connection check may run on the
// user-interface thread, adding recipients and sending on the transmission worker; the two
// never overlap for one object, which belongs to one thread at a time.
#pragma once

#include <string>

#include "korrin/mail/mailutil.h"
#include "platform/Win32Types.h"
#include "platform/secret/Secret.h"

namespace korrin {

class CMessageTrailer;

// The value of the "X-Mailer" header: the product line and two folded lines naming the
// vendor's support address and web site.
std::string XMailerValue();

// "No %s has been specified in Preferences. ..." with the label in both places.
std::string MissingSettingText(const std::string& label);

inline constexpr const char* kCannotSendText =
    "Cannot send message. Send failed. This error usually occurs because of any or all of 5 "
    "things: 1) You are not connected to the internet, or 2) In Edit->Preferences, the Outgoing "
    "SMTP server is not specified correctly.  It is the wrong server name or you typed it in "
    "wrong.  A lot of times commas are used instead of periods.  So look at it very closely and "
    "double check.  Without the SMTP server specified correctly, no message will be "
    "transmitted. If you are not sure of your SMTP server name contact your service provider, or "
    "2) In Edit->Preferences, your E-Mail Address is incorrect. 4) An email address(s) you are "
    "specifying is incorrect.  Double check the email address(s) to make sure they are valid.  "
    "If you are using the address book, try typing the email address by hand because sometimes "
    "new entries in the address book are not set up correctly.  This is quite common, or 5) The "
    "SMTP server you are trying to access is down or busy and you need to try again later.";

// Splits a recipient list at every comma, semicolon and TAB. The pieces are kept as they are,
// blanks included; empty pieces are kept too (they add nobody).
std::vector<std::string> SplitEnvelopeList(const std::string& list);

// Reads the stored "Password" straight into out (at most bufferSize bytes with its zero): no
// copy of it is left unwiped. False when it is missing or cannot be read (out is then empty).
bool ReadPasswordSetting(platform::Secret& out, platform::DWORD bufferSize = 256);

class CSmtpSender {
  public:
    // owner: the window boxes and dialogs belong to (a QWidget* in the program), or null.
    explicit CSmtpSender(void* owner = nullptr);
    ~CSmtpSender();  // the password is wiped
    CSmtpSender(const CSmtpSender&) = delete;
    CSmtpSender& operator=(const CSmtpSender&) = delete;

    // Reads Name, Organization, SMTP Host, Email Address, Account and Password, in that
    // order. A required one missing or empty: the missing-setting notice, then the
    // Preferences sheet with the SMTP page alone, and 1. Also 1 when the e-mail address holds
    // a line break (reported). 0 when all are there; the mail then has its sender, server,
    // login and the stored security.
    int LoadSettings();

    // Greets the server and quits: 0, 6 when it cannot be reached, another code otherwise.
    int CheckConnection();

    // Each list (null: none) split at comma, semicolon and TAB; every piece, as it is, is
    // added as a recipient with the piece as its display name. Returns 1. A piece that is
    // refused (a line break, an address file that cannot be read) is reported by the mail and
    // remembered: Send then sends nothing and returns its code, so a message never goes out
    // to fewer people than its envelope names.
    int AddRecipients(const std::string* to, const std::string* cc, const std::string* bcc);

    // Subject, the note (banner included) as the text part, the file as the attachment,
    // X-Mailer, then the SMTP session. 0 when the server accepted it, else the CSMTPError
    // code; 6 shows the "Dial Up Connections" dialog, any other code the "Cannot send
    // message" box.
    int Send(const std::string& subject, const std::string& note, const std::string& path);

    // A file sent as a further attachment after the message file, of the given type and under
    // the given name (the playable copy). It must stay readable until Send returns.
    void AddCopy(const std::string& path, const std::string& contentType,
                 const std::string& fileName);

    CSMTPEmail& mail() { return mail_; }
    const std::string& displayName() const { return name_; }
    const std::string& emailAddress() const { return email_; }
    const std::string& server() const { return server_; }

  private:
    void* owner_;
    CSMTPEmail mail_;
    std::string name_, organization_, server_, email_, account_;
    platform::Secret password_;
    int recipientError_ = 0;
    std::string copyPath_, copyType_, copyName_;
};

// Sends one message file as the transmission worker does: its envelope read for sending
// (every field, the note with its banner, nothing cut off) into *envelope, its To and Cc
// addresses added, the playable copy made when the settings ask for one (a copy that cannot
// be made is traced and left out), then Send. The file is not changed. A file without a readable
// envelope is not sent: 12 (reported).
int SendMessageFile(CSmtpSender& sender, const std::string& path, CMessageTrailer* envelope);

}  // namespace korrin
