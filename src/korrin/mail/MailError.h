// The failure codes of the mail module (CSMTPError), raised inside it and returned by it.
#pragma once

namespace korrin {

// Codes 13 to 17 come from the protected dialogue; like a refusal of the server (9), each has
// been shown to the user in its own words when it was detected (CSMTPEmail::failureText()).
class CSMTPError {
  public:
    enum Code {
        kSuccess = 0,
        kAddressFile = 1,     // an "@file" address file cannot be opened (or nests too deep)
        kLineBreak = 2,       // a recipient or sender holds a line break or control character
        kNoStartup = 3,       // the network layer cannot be started
        kNoSocket = 5,        // no socket can be created
        kNoConnection = 6,    // the server cannot be reached
        kSendFailed = 7,      // sending failed or timed out
        kReceiveFailed = 8,   // receiving failed, timed out, the peer closed, or a reply too long
        kServerError = 9,     // the server refused a step
        kNoHostName = 10,     // the local host name cannot be had
        kNoMemory = 11,       // no memory for the reply buffer
        kFileOpen = 12,       // the temporary message file or an attachment cannot be opened
        kCertificate = 13,    // the server's certificate did not verify: nothing was sent
        kNoStartTls = 14,     // STARTTLS was chosen but the server does not offer it, or refused it
        kLoginRefused = 15,   // the server refused the account and password
        kTlsFailed = 16,      // the secure connection could not be made for another reason
        kNoLoginMethod = 17,  // the server asks for a login but offers neither PLAIN nor LOGIN
        kOther = -1,          // any other failure while the message was written out
    };
    explicit CSMTPError(int code) : code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

}  // namespace korrin
