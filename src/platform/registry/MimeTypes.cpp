#include "platform/registry/MimeTypes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Text.h"

namespace korrin::platform {

namespace {

// Debian's file is about 70 KB; a path pointing at something huge is not a mime.types file.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Splits off the next blank-separated word of line.
std::string_view nextWord(std::string_view& line) {
    std::size_t start = 0;
    while (start < line.size() && isBlank(line[start]))
        ++start;
    std::size_t end = start;
    while (end < line.size() && !isBlank(line[end]))
        ++end;
    std::string_view word = line.substr(start, end - start);
    line.remove_prefix(end);
    return word;
}

bool readSmallFile(const char* path, std::string* out) {
    // Opened without blocking, then checked: opening a FIFO named by mistake would otherwise
    // wait for a writer that never comes, and reading a device would never end.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<std::size_t>(st.st_size) <= kMaxFileSize;
    while (ok) {
        char buf[16384];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0 || out->size() + static_cast<std::size_t>(n) > kMaxFileSize)
            ok = false;
        else
            out->append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

}  // namespace

std::optional<std::string> MimeTypeForExtension(std::string_view fileText, std::string_view ext) {
    if (ext.empty())
        return std::nullopt;
    while (!fileText.empty()) {
        std::size_t eol = fileText.find('\n');
        std::string_view line = fileText.substr(0, eol);
        fileText.remove_prefix(eol == std::string_view::npos ? fileText.size() : eol + 1);
        line = line.substr(0, line.find('#'));
        std::string_view type = nextWord(line);
        // A first word without a slash is not a type; the line is someone's stray text.
        if (type.find('/') == std::string_view::npos)
            continue;
        for (std::string_view word = nextWord(line); !word.empty(); word = nextWord(line))
            if (EqualsNoCase(word, ext))
                return std::string(type);
    }
    return std::nullopt;
}

std::optional<std::string> SystemMimeTypeForExtension(std::string_view ext) {
    const char* path = std::getenv("KORRIN_MIME_TYPES");
    if (!path || !*path)
        path = "/etc/mime.types";
    try {
        std::string text;
        if (!readSmallFile(path, &text))
            return std::nullopt;
        return MimeTypeForExtension(text, ext);
    } catch (...) {  // out of memory: as good as no file
        return std::nullopt;
    }
}

}  // namespace korrin::platform
