// korrinctl show and korrinctl folder: message files and the three folders from a shell.
// Texts in message files are ANSI (Latin-1 here); they are printed as UTF-8.
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "korrin/store/FolderList.h"
#include "korrin/store/Folders.h"
#include "korrin/store/Trailer.h"
#include "platform/seam/MessageSeam.h"
#include "tools/Area.h"

namespace korrin::tools {

namespace {

const char kShowUsage[] =
    R"(korrinctl show <FILE>
    Read the message trailer of FILE (nothing is changed) and print it as one JSON object:
    the read result (0 read, 1 input/output failure, 2 no trailer, 3 damaged), revision,
    length, sender, subject, note (without the banner), date (ISO 8601, UTC) with both
    display texts in local time, and the To and Cc names and addresses.
    Exit status: 0 read, 1 no trailer, 3 damaged or unreadable.
)";

const char kFolderUsage[] =
    R"(korrinctl folder list outbox|sent|deleted [--paths]
    Print the folder's messages as the message list shows them, newest first: a header line,
    one tab-separated row per message (From, Subject, Sent, Size, and with --paths the file),
    then the status line. A file another program holds is not waited for: its row shows
    (busy) as its Subject. Exit status 3 when InstallDir is missing or old-style messages
    need fixing.
)";

std::string latin1ToUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string json(const std::string& text) {
    return "\"" + platform::JsonEscape(latin1ToUtf8(text)) + "\"";
}

// A text of a message as one column of a row: a tab or a line break inside it would start a
// column or a row of its own, so control characters are shown as blanks.
std::string column(const std::string& text) {
    std::string out = latin1ToUtf8(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return out;
}

std::string isoDate(const SYSTEMTIME& t) {
    std::int64_t seconds;
    if (!platform::SystemTimeToSeconds(t, &seconds))
        return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return buf;
}

int runShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kShowUsage;
        return kExitOk;
    }
    if (args.size() != 1) {
        err << kShowUsage;
        return kExitUsage;
    }
    CMessageTrailer t;
    const int result = t.ReadForDisplay(args[0], false);
    const bool read = result == trailer::kRead;
    auto field = [&](const char* name, const std::string& value) {
        out << ",\n  \"" << name << "\": " << json(read ? value : std::string());
    };
    // The file name is the user's own, not a text of the message: printed as it is.
    out << "{\n  \"file\": \"" << platform::JsonEscape(args[0]) << "\",\n  \"result\": " << result
        << ",\n  \"revision\": " << t.revision << ",\n  \"length\": " << t.length;
    field("senderName", t.senderName);
    field("senderAddress", t.senderAddress);
    field("subject", t.subject);
    field("note", t.note);
    field("date", read ? isoDate(t.date) : "");
    field("longDate", t.longDate);
    field("shortDate", t.shortDate);
    field("toNames", t.toNames);
    field("toAddresses", t.toAddresses);
    field("ccNames", t.ccNames);
    field("ccAddresses", t.ccAddresses);
    out << "\n}\n";
    if (read)
        return kExitOk;
    return result == trailer::kNoTrailer ? kExitNotFound : kExitFailed;
}

int folderNumber(const std::string& name) {
    if (name == "outbox")
        return kOutbox;
    if (name == "sent")
        return kSentItems;
    if (name == "deleted")
        return kDeletedItems;
    return 0;
}

int runFolder(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kFolderUsage;
        return kExitOk;
    }
    const bool paths = args.size() == 3 && args[2] == "--paths";
    if (args.size() < 2 || args.size() > 3 || args[0] != "list" || !folderNumber(args[1]) ||
        (args.size() == 3 && !paths)) {
        err << kFolderUsage;
        return kExitUsage;
    }
    const int folder = folderNumber(args[1]);
    std::vector<MessageEntry> entries;
    const int result = FillEntries(folder, &entries);
    if (result == 1) {
        err << "korrinctl: InstallDir is not set; no folder can be found\n";
        return kExitFailed;
    }
    if (result == 2) {
        err << "korrinctl: " << FolderDirectoryName(folder)
            << " holds old-style messages that need fixing; nothing was changed\n";
        return kExitFailed;
    }
    SortNewestFirst(entries);
    out << "From\tSubject\tSent\tSize" << (paths ? "\tFile" : "") << "\n";
    for (const auto& e : entries) {
        out << column(e.toNames) << "\t" << (e.busy ? kBusySubject : column(e.subject)) << "\t"
            << e.sentText << "\t" << SizeText(e.size);
        if (paths)
            out << "\t" << e.path;
        out << "\n";
    }
    out << StatusLineText(folder, static_cast<int>(entries.size())) << "\n";
    return kExitOk;
}

const KorrinctlArea kShowArea({20, "show", "print the envelope of a message file", kShowUsage,
                               runShow});
const KorrinctlArea kFolderArea({21, "folder", "list the messages of a folder", kFolderUsage,
                                 runFolder});

}  // namespace

}  // namespace korrin::tools
