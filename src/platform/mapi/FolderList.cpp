// Listing a store folder for commands, and the header reader it uses.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Text.h"
#include "platform/files/Files.h"
#include "platform/mapi/EntryId.h"
#include "platform/mapi/Maildir.h"
#include "platform/mapi/Mapi.h"

namespace korrin::platform {

namespace {

// Headers longer than this are not read: a list shows what fits.
constexpr std::size_t kHeaderBytes = 64 * 1024;

std::string trimmed(std::string_view s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

}  // namespace

void ReadMailHeaders(std::string_view text, const std::vector<std::string>& names,
                     std::vector<std::string>* values) {
    values->assign(names.size(), std::string());
    std::vector<bool> found(names.size(), false);
    int current = -1;  // the header a continuation line belongs to, when wanted
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;  // the end of the header block
        if (line[0] == ' ' || line[0] == '\t') {
            if (current >= 0) {
                std::string more = trimmed(line);
                if (!more.empty())
                    (*values)[static_cast<std::size_t>(current)] += " " + more;
            }
            continue;
        }
        current = -1;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue;
        std::string_view name = line.substr(0, colon);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!found[i] && EqualsNoCase(name, names[i])) {
                found[i] = true;
                (*values)[i] = trimmed(line.substr(colon + 1));
                current = static_cast<int>(i);
                break;
            }
        }
    }
}

HRESULT ListMapiFolder(const MapiProfile& profile, const std::string& folder,
                       std::vector<FolderEntry>* entries) {
    using namespace mapi_detail;
    if (!entries)
        return MAPI_E_INVALID_PARAMETER;
    entries->clear();
    if (!IsStoreFolder(folder))
        return MAPI_E_NOT_FOUND;
    if (profile.storeDir.empty() || profile.storeDir[0] != '/')
        return MAPI_E_NOT_FOUND;
    const std::vector<std::string> names = {"Date", "From", "To", "Cc", "Subject"};
    for (const auto& f : ListMaildir(FolderPath(profile.storeDir, folder))) {
        FolderEntry e;
        e.unique = f.unique;
        e.flags = f.flags;
        e.path = f.path;
        int fd = OpenRegularFile(f.path);
        if (fd < 0)
            continue;  // gone meanwhile (sent, moved)
        std::string head(kHeaderBytes, '\0');
        std::size_t got = 0;
        while (got < head.size()) {
            ssize_t n = ::read(fd, head.data() + got, head.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        ::close(fd);
        head.resize(got);
        std::vector<std::string> v;
        ReadMailHeaders(head, names, &v);
        e.date = v[0];
        e.from = v[1];
        e.to = v[2];
        e.cc = v[3];
        e.subject = v[4];
        RegularFileStatus st;
        if (GetRegularFileStatus(f.path, &st))
            e.size = st.size;
        entries->push_back(std::move(e));
    }
    return S_OK;
}

}  // namespace korrin::platform
