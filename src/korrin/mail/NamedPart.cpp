// Attachments that are sent under a name of their own (a copy made in an unnamed temporary
// file), with the type given rather than looked up.
#include <string>

#include "korrin/mail/mailutil.h"

namespace korrin {

void CMailUtil::AddFilePart(const std::string& path, const std::string& contentType,
                            const std::string& fileName) {
    CMailPart p;
    p.isText = false;
    p.contentType = contentType + "; name=\"" + mail::QuotedText(fileName) + "\"";
    p.encoding = CMailPart::kBase64;
    p.data = path;
    p.disposition = "attachment; filename=\"" + mail::QuotedText(fileName) + "\"";
    parts_.push_back(std::move(p));
}

}  // namespace korrin
