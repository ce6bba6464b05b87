// The message writer (CMailUtil): headers, recipients and body parts written out as MIME text.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korrin/mail/MailError.h"

namespace korrin {

enum class HeaderMode { kReplace, kAppend };

// One body part.
struct CMailPart {
    bool isText = false;
    std::string contentType;  // "text/plain", or the attachment's type with its name parameter
    enum Encoding { kQuotedPrintable, kBase64 } encoding = kBase64;
    std::string charset;      // text parts: $MM_CHARSET when the part was made, else iso-8859-1
    std::string data;         // the text, or the attachment's path (read when written out)
    std::string disposition;  // attachments: attachment; filename="name"
};

class CMailUtil {
  public:
    CMailUtil() = default;
    virtual ~CMailUtil() = default;
    CMailUtil(const CMailUtil&) = delete;
    CMailUtil& operator=(const CMailUtil&) = delete;

    int error() const { return error_; }

    // A value may carry folded continuation lines (CR LF followed by a blank or TAB); any other
    // line break in it is turned into one blank, so no value can start a header of its own.
    void AddHeader(const std::string& name, const std::string& value,
                   HeaderMode mode = HeaderMode::kReplace);
    std::string FindHeader(const std::string& name, const std::string& defaultValue = "") const;
    const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }

    void SetSubject(const std::string& text);
    // "X-Sender": the text between < and > when there is a <, else the whole text. 0, or 2
    // when it holds a line break.
    int SetSenderAddress(const std::string& address);

    // An address beginning with "@" names a file of addresses, one a line. 0 on success;
    // 1 when an address file cannot be opened or is larger than 1 MB (reported); 2 when the name or
    // address holds a line break (the recipient is refused and nothing of it is added).
    int AddTo(const std::string& displayName, const std::string& address);
    int AddCc(const std::string& displayName, const std::string& address);
    int AddBcc(const std::string& address);
    // Bare addresses joined by ","; empty while there are none.
    const std::string& recipients() const { return recipients_; }

    // With a text, "Date" is set to it; without, the current time is added unless a Date exists.
    void AddDate(const std::optional<std::string>& text = std::nullopt);

    void AddTextPart(const std::string& text);
    void AddFilePart(const std::string& path);
    // An attachment of the given type (parameters after ';'), sent under fileName rather than
    // its own path's name; path is read when the message is written out.
    void AddFilePart(const std::string& path, const std::string& contentType,
                     const std::string& fileName);

    // Where a message is written out to, piece by piece; Put throws CSMTPError on a failure.
    class MessageOut {
      public:
        virtual ~MessageOut() = default;
        virtual void Put(std::string_view text) = 0;
    };

    // Writes the whole message to an open binary stream: 0, or the failure's code (12 for an
    // attachment that cannot be opened, -1 for a read or write failure).
    int WriteOutMessage(std::FILE* out);

    // The boundary of the last WriteOutMessage.
    const std::string& boundary() const { return boundary_; }

    // Creates a fresh temporary file for one message, "~mail" and a unique tail in the
    // temporary folder, open for writing and reading; its path goes to path. Null (after a
    // report) when it cannot be made.
    static std::FILE* OpenTempMessageFile(std::string& path);

  protected:
    [[noreturn]] void raise(int code);
    // The message as WriteOutMessage writes it, to out; throws CSMTPError.
    void writeOut(MessageOut& out);
    // After a failure that does not count (the message got through all the same).
    void clearError() { error_ = 0; }
    // Runs body; a CSMTPError becomes its code (kept in error()), anything else -1.
    template <class F>
    int guarded(F&& body) {
        try {
            body();
            return 0;
        } catch (const CSMTPError& e) {
            error_ = e.code();
            return e.code();
        } catch (...) {
            error_ = CSMTPError::kOther;
            return CSMTPError::kOther;
        }
    }
    // Our own values, taken as they are (folds and the header block's end included).
    void addRawHeader(const std::string& name, const std::string& value, HeaderMode mode);

  private:
    void addRecipient(const char* header, const std::string& displayName,
                      const std::string& address, int depth);

    int error_ = 0;
    std::vector<std::pair<std::string, std::string>> headers_;
    std::vector<CMailPart> parts_;
    std::string recipients_;
    std::string boundary_;
};

namespace mail {

// Splits a recipient list at commas and blanks; empty pieces are dropped.
std::vector<std::string> SplitRecipientList(std::string_view list);

// The address inside < > when there is a <, else the text; blanks around it removed.
std::string BareAddress(std::string_view address);

// One line of an address file cut at the first character an address cannot hold.
std::string AddressFileLine(std::string_view line);

}  // namespace mail

}  // namespace korrin
