#include "korrin/store/Trailer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "korrin/app/EventReport.h"
#include "korrin/app/Utils.h"
#include "korrin/app/Vendor.h"
#include "platform/Endian.h"
#include "platform/fileio/ShareFile.h"
#include "platform/files/Files.h"

namespace korrin {

using namespace platform;

namespace {

constexpr const char* kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
constexpr const char* kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

std::atomic<INewVersionNotice*> g_notice{nullptr};

// The text up to its first NUL: what a C string of it would hold.
std::string_view cText(const std::string& s) {
    return std::string_view(s.c_str());
}

void putText(std::vector<std::uint8_t>& out, std::string_view text) {
    AppendLE32(out, static_cast<std::uint32_t>(text.size() + 1));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// Reads the fields area front to back; every step checks that the area holds what it claims.
class FieldReader {
  public:
    FieldReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool take(std::size_t n, const std::uint8_t** at) {
        if (size_ - pos_ < n)
            return false;
        *at = data_ + pos_;
        pos_ += n;
        return true;
    }
    bool u32(std::uint32_t* v) {
        const std::uint8_t* p;
        if (!take(4, &p))
            return false;
        *v = LoadLE32(p);
        return true;
    }
    bool u16(std::uint16_t* v) {
        const std::uint8_t* p;
        if (!take(2, &p))
            return false;
        *v = LoadLE16(p);
        return true;
    }
    // A stored text: count n, then n bytes. Loaded only when wanted.
    bool text(bool wanted, std::string* into) {
        std::uint32_t n;
        const std::uint8_t* p;
        if (!u32(&n) || !take(n, &p))
            return false;
        if (wanted)
            into->assign(reinterpret_cast<const char*>(p),
                         strnlen(reinterpret_cast<const char*>(p), n));
        return true;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

std::string displayHour(const SYSTEMTIME& t, const char** suffix) {
    *suffix = t.wHour < 12 ? "AM" : "PM";
    int hour = t.wHour == 0 ? 12 : (t.wHour > 12 ? t.wHour - 12 : t.wHour);
    return std::to_string(hour);
}

// Opens the file the way every read does: tried 29 times 250 ms apart while another opener
// holds it. A file that is missing or may not be opened at all fails at once: waiting seven
// seconds would not change that.
bool openRetried(ShareFile& file, const std::string& path, bool forChange) {
    for (int attempt = 1;; ++attempt) {
        if (file.Open(path, forChange))
            return true;
        const bool held = errno == EWOULDBLOCK || errno == ESTALE || errno == EINTR;
        if (!held || attempt >= trailer::kOpenTries)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(trailer::kOpenRetryMs));
    }
}

// A trailer whose fields together run past the largest length a reader accepts would be
// taken for damage when read back: the envelope would be lost. Such a trailer is never written.
bool readableLength(const std::vector<std::uint8_t>& trailerBytes) {
    return trailerBytes.size() - 8 <= trailer::kMaxLength;
}

[[noreturn]] void endProgramAtOnce() {
    std::fflush(nullptr);
    std::_Exit(0);
}

// Step 2 of the read for a revision 3..500: whether to go on reading as revision 2.
void checkNewerRevision(DWORD fileRevision) {
    DWORD known = 0;
    if (CUtils().GetRegistryDword(kKorrinKey, setting::kRevision, known) && fileRevision <= known)
        return;
    bool dontBug = false;
    INewVersionNotice* notice = g_notice.load();
    int answer = notice ? notice->Ask(fileRevision, &dontBug)
                        : AskNewVersionThroughSeam(fileRevision, &dontBug);
    if (answer == IDABORT)
        endProgramAtOnce();
    if (dontBug)
        CUtils().SetRegistryDword(kKorrinKey, setting::kRevision, fileRevision);
}

}  // namespace

const std::string& NoteBanner() {
    static const std::string banner =
        std::string("\r\n") + vendor::kProductLabel + " message\r\n" + vendor::kWebAddress +
        "\r\n" + vendor::kSupportEmail +
        "\r\n\r\n\r\n"
        "The sender of this message has sent you an Quillion EMail for Windows(tm) message.  "
        "Special software is required to easily hear and reply to this Quillion EMail for "
        "Windows(tm) message. Visit the Quillion(tm) web site or contact the sender of this "
        "Quillion EMail for Windows(tm) message for more information. If you prefer you can "
        "click on the following link to download the latest version of Quillion EMail for "
        "Windows(tm): " +
        vendor::kDownloadPage + ".\r\n\r\n";
    return banner;
}

void MakeDateTexts(const SYSTEMTIME& utc, std::string* longText, std::string* shortText) {
    longText->clear();
    shortText->clear();
    SYSTEMTIME t;
    if (!SystemTimeToLocalTime(utc, &t) || t.wDayOfWeek > 6)
        return;
    const char* suffix;
    std::string hour = displayHour(t, &suffix);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s, %s %d, %d %s:%02d %s", kLongDays[t.wDayOfWeek],
                  kMonths[t.wMonth - 1], t.wDay, t.wYear, hour.c_str(), t.wMinute, suffix);
    longText->assign(buf, std::min(std::strlen(buf), trailer::kLongDateMax));
    std::snprintf(buf, sizeof buf, "%s %d/%d/%d %s:%02d %s", kShortDays[t.wDayOfWeek], t.wMonth,
                  t.wDay, t.wYear, hour.c_str(), t.wMinute, suffix);
    shortText->assign(buf, std::min(std::strlen(buf), trailer::kShortDateMax));
}

void InstallNewVersionNotice(INewVersionNotice* notice) {
    g_notice.store(notice);
}

std::string NewVersionNoticeText() {
    return std::string(
               "The sender of this message has used a version of Quillion EMail(tm) that is more "
               "recent than the one you are currently using.  It is advisable to upgrade your "
               "machine to the latest version to take advantage of the added features.\n\n"
               "You can choose to continue without taking advantage of the new features.  "
               "However if you experience problems you will need to upgrade your version.\n\n"
               "Visit ") +
           vendor::kWebAddress + " or write to " + vendor::kSupportEmail + ".";
}

int AskNewVersionThroughSeam(DWORD /*fileRevision*/, bool* dontBugAgain) {
    *dontBugAgain = false;  // a plain box has no check box
    int answer = AppMessageBox(nullptr, NewVersionNoticeText(), kNewVersionCaption,
                               MB_CONTINUEABORT | MB_ICONEXCLAMATION);
    return answer == IDABORT ? IDABORT : IDCONTINUE;
}

// ---- reading

int CMessageTrailer::ReadForList(const std::string& path) {
    selection = trailer::kToNames | trailer::kSubject;
    return readCommon(path, false);
}

int CMessageTrailer::ReadDate(const std::string& path, SYSTEMTIME* utc) {
    selection = 0;
    int result = readCommon(path);
    *utc = date;
    return result;
}

int CMessageTrailer::ReadForDisplay(const std::string& path, bool strip) {
    selection = trailer::kAllText | trailer::kNoteText | (strip ? trailer::kStrip : 0);
    return readCommon(path);
}

int CMessageTrailer::ReadForSending(const std::string& path, bool withBanner, bool strip) {
    selection = trailer::kAllText | (withBanner ? trailer::kNoteWithBanner : trailer::kNoteText) |
                (strip ? trailer::kStrip : 0);
    return readCommon(path);
}

int CMessageTrailer::ReadAllAndStrip(const std::string& path) {
    selection = trailer::kAllText | trailer::kNoteWithBanner | trailer::kStrip;
    return readCommon(path);
}

int CMessageTrailer::Read(const std::string& path) {
    return readCommon(path);
}

int CMessageTrailer::readCommon(const std::string& path, bool waitWhileHeld) {
    const bool strip = selection & trailer::kStrip;
    fileSize = 0;
    revision = 0;
    length = 0;
    ShareFile file;
    if (!waitWhileHeld && !file.Open(path, strip) && errno == EWOULDBLOCK)
        return trailer::kBusy;
    if (!file.IsOpen() && !openRetried(file, path, strip)) {
        KORRIN_REPORT("_open file failed");
        return trailer::kIoFailure;
    }
    std::uint64_t size = 0;
    if (!file.Size(&size) || size < 4) {
        KORRIN_REPORT("_lseek failed");
        return trailer::kIoFailure;
    }
    fileSize = size;
    // The two closing words in one read when the file holds both (the length word is only
    // looked at once the revision has been accepted).
    std::uint8_t words[8];
    const bool both = size >= 8;
    if (!file.ReadAt(both ? size - 8 : size - 4, both ? words : words + 4, both ? 8 : 4)) {
        KORRIN_REPORT("_read failed");
        return trailer::kIoFailure;
    }
    revision = LoadLE32(words + 4);
    int result = trailer::kRead;
    if (revision > trailer::kNewestRevision)
        result = trailer::kDamaged;
    else if (revision < trailer::kRevision)
        result = trailer::kNoTrailer;
    else if (revision > trailer::kRevision)
        checkNewerRevision(revision);  // may end the program; the file closes with it
    if (result != trailer::kRead)
        return result;

    if (!both) {
        KORRIN_REPORT("_lseek failed");
        return trailer::kIoFailure;
    }
    length = LoadLE32(words);
    if (length > trailer::kMaxLength)
        return trailer::kDamaged;
    if (std::uint64_t(length) + 8 > size)
        return trailer::kNoTrailer;  // it would begin before the file does: no report

    const std::uint64_t start = size - 8 - length;
    std::vector<std::uint8_t> fields(length);
    if (!file.ReadAt(start, fields.data(), fields.size())) {
        KORRIN_REPORT("_read failed");
        return trailer::kIoFailure;
    }
    result = DecodeFields(fields.data(), fields.size());

    if (strip && result == trailer::kRead) {
        if (!file.Truncate(start) || !file.Sync())
            KORRIN_REPORT("SetEndOfFile failed");
    }
    if (!file.Close())
        KORRIN_REPORT("CloseHandle failed");
    return result;
}

int CMessageTrailer::DecodeFields(const std::uint8_t* data, std::size_t size) {
    using namespace trailer;
    FieldReader in(data, size);
    bool ok = in.text(selection & kSenderName, &senderName) &&
              in.text(selection & kSenderAddress, &senderAddress) &&
              in.text(selection & kSubject, &subject);
    if (ok) {
        std::uint32_t n;
        std::uint16_t w;
        const std::uint8_t* p;
        ok = in.u32(&n) && in.u16(&w) && in.take(n, &p);
        if (ok) {
            auto* chars = reinterpret_cast<const char*>(p);
            if (selection & kNoteText) {
                if (w > n)
                    ok = false;  // a banner longer than the note it is part of
                else
                    note.assign(chars + w, strnlen(chars + w, n - w));
            } else if (selection & kNoteWithBanner) {
                bannerLength = w;
                note.assign(chars, strnlen(chars, n));
            }
        }
    }
    const std::uint8_t* d = nullptr;
    ok = ok && in.take(16, &d);
    if (ok) {
        date.wYear = LoadLE16(d);
        date.wMonth = LoadLE16(d + 2);
        date.wDayOfWeek = LoadLE16(d + 4);
        date.wDay = LoadLE16(d + 6);
        date.wHour = LoadLE16(d + 8);
        date.wMinute = LoadLE16(d + 10);
        date.wSecond = LoadLE16(d + 12);
        date.wMilliseconds = LoadLE16(d + 14);
        makeDateTexts();
    }
    ok = ok && in.text(selection & kToNames, &toNames) &&
         in.text(selection & kToAddresses, &toAddresses) &&
         in.text(selection & kCcNames, &ccNames) && in.text(selection & kCcAddresses, &ccAddresses);
    return ok ? kRead : kDamaged;
}

void CMessageTrailer::makeDateTexts() {
    MakeDateTexts(date, &longDate, &shortDate);
}

// ---- writing

std::vector<std::uint8_t> CMessageTrailer::Serialize() const {
    std::vector<std::uint8_t> out;
    out.reserve(256 + note.size());
    putText(out, cText(senderName));
    putText(out, cText(senderAddress));
    putText(out, cText(subject));
    std::string_view noteText = cText(note);
    AppendLE32(out, static_cast<std::uint32_t>(noteText.size() + 1));
    AppendLE16(out, bannerLength);
    out.insert(out.end(), noteText.begin(), noteText.end());
    out.push_back(0);
    for (std::uint16_t v : {date.wYear, date.wMonth, date.wDayOfWeek, date.wDay, date.wHour,
                            date.wMinute, date.wSecond, date.wMilliseconds})
        AppendLE16(out, v);
    putText(out, cText(toNames));
    putText(out, cText(toAddresses));
    putText(out, cText(ccNames));
    putText(out, cText(ccAddresses));
    const auto total = static_cast<std::uint32_t>(out.size());
    AppendLE32(out, total);
    AppendLE32(out, trailer::kRevision);
    return out;
}

int CMessageTrailer::WriteNew(const std::string& path, const std::string& name,
                              const std::string& address, const std::string& to,
                              const std::string& toAddr, const std::string& cc,
                              const std::string& ccAddr) {
    senderName = name;
    senderAddress = address;
    toNames = to;
    toAddresses = toAddr;
    ccNames = cc;
    ccAddresses = ccAddr;
    GetSystemTime(&date);
    makeDateTexts();
    return appendTrailer(path);
}

int CMessageTrailer::Rewrite(const std::string& path) {
    return appendTrailer(path);
}

// The whole trailer goes out in one write and is synced before success is claimed; a write
// that fails part way is cut off again, so no half trailer is left to be taken for a message.
int CMessageTrailer::appendTrailer(const std::string& path) {
    ShareFile file;
    if (!file.Open(path, true)) {
        KORRIN_REPORT("_open file failed");
        return 1;
    }
    std::uint64_t end = 0;
    if (!file.Size(&end)) {
        KORRIN_REPORT("_lseek failed");
        file.Close();
        return 0;  // nothing written, as a failed seek to the end always was
    }
    const std::vector<std::uint8_t> bytes = Serialize();
    if (!readableLength(bytes)) {
        KORRIN_REPORT("_write failed");
        file.Close();
        return 1;
    }
    int result = 0;
    if (!file.WriteAt(end, bytes.data(), bytes.size()) || !file.Sync()) {
        KORRIN_REPORT("_write failed");
        file.Truncate(end);
        result = 1;
    }
    if (!file.Close()) {
        KORRIN_REPORT("CloseHandle failed");
        result = 1;
    }
    return result;
}

int CMessageTrailer::ReplaceTrailer(const std::string& path) {
    ShareFile file;
    if (!openRetried(file, path, true)) {
        KORRIN_REPORT("_open file failed");
        return 1;
    }
    std::uint64_t size = 0;
    if (!file.Size(&size)) {
        KORRIN_REPORT("_lseek failed");
        return 1;
    }
    // Where the payload ends: before a current trailer, else the whole file.
    std::uint64_t payload = size;
    if (size >= 8) {
        std::uint8_t words[8];
        if (!file.ReadAt(size - 8, words, 8)) {
            KORRIN_REPORT("_read failed");
            return 1;
        }
        const DWORD rev = LoadLE32(words + 4);
        const DWORD len = LoadLE32(words);
        if (rev > trailer::kNewestRevision ||
            (rev >= trailer::kRevision && len > trailer::kMaxLength))
            return trailer::kDamaged;
        if (rev >= trailer::kRevision && std::uint64_t(len) + 8 <= size)
            payload = size - 8 - len;
    }
    const std::vector<std::uint8_t> bytes = Serialize();
    if (!readableLength(bytes)) {
        KORRIN_REPORT("_write failed");
        return 1;
    }
    const int in = file.fd();
    BOOL replaced = ReplaceFileAtomically(path, [&](int out) {
        return CopyFileRange(in, out, payload) && WriteAll(out, bytes.data(), bytes.size());
    });
    if (!replaced) {
        KORRIN_REPORT("_write failed");
        return 1;
    }
    file.Close();  // the old file, now unlinked; its lock goes with it
    return 0;
}

// ---- setters

void CMessageTrailer::SetSubjectFromEdit(std::string_view boxText) {
    auto end = boxText.find_first_of("\r\n");
    subject.assign(boxText.substr(0, end));
    subject.assign(cText(subject));
}

void CMessageTrailer::SetNoteFromEdit(std::string_view boxText) {
    const std::string& banner = NoteBanner();
    note = banner;
    note.reserve(banner.size() + boxText.size() + 16);
    // A Qt edit box gives bare LF; the stored note always ends lines with CR LF.
    for (std::size_t i = 0; i < boxText.size(); ++i) {
        char c = boxText[i];
        if (c == '\0')
            break;
        if (c == '\n' && (i == 0 || boxText[i - 1] != '\r'))
            note += '\r';
        note += c;
    }
    bannerLength = static_cast<WORD>(banner.size());
}

void CMessageTrailer::PrefixSubject(std::string_view prefix) {
    std::string_view old = cText(subject);
    if (old.size() >= 3 && old[2] == ':')
        old.remove_prefix(3);
    subject = std::string(prefix) + std::string(old);
}

}  // namespace korrin
