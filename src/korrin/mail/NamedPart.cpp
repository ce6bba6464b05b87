// Attachments that are sent under a name of their own (a copy made in an unnamed temporary
// file), with the type given rather than looked up.
#include <string>
#include <string_view>

#include "korrin/mail/mailutil.h"

namespace korrin {

namespace {

// Inside double quotes: quotes and backslashes escaped, controls dropped, so a name can
// never end the header line.
std::string Quoted(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            continue;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

void CMailUtil::AddFilePart(const std::string& path, const std::string& contentType,
                            const std::string& fileName) {
    CMailPart p;
    p.isText = false;
    p.contentType = contentType + "; name=\"" + Quoted(fileName) + "\"";
    p.encoding = CMailPart::kBase64;
    p.data = path;
    p.disposition = "attachment; filename=\"" + Quoted(fileName) + "\"";
    parts_.push_back(std::move(p));
}

}  // namespace korrin
