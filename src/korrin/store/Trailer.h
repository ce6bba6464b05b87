// Message files: the audio (a wave file, or a zip archive of one) with the message trailer
// appended, and CMessageTrailer, which reads and writes that trailer.
//
// Layout at the end of a message file of size F (all integers little-endian, unsigned):
//   F-8-L  the fields, in file order: sender name, sender address, subject, note, date,
//          To names, To addresses, Cc names, Cc addresses
//   F-8    L, the bytes of all fields together
//   F-4    the layout revision, 2
// A text field is a 4-byte count n (text length + 1) and the text with its NUL. The note also
// carries a 2-byte banner length w after n. The date is eight 2-byte words in UTC.
//
// A CMessageTrailer belongs to one thread; a file is handled by one thread at a time. Every
// open takes the message file's lock (see ShareFile), retried as the read describes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Win32Types.h"
#include "platform/time/Time.h"

namespace korrin {

using platform::DWORD;
using platform::SYSTEMTIME;
using platform::WORD;

namespace trailer {
// Selection bits: which fields a read loads.
inline constexpr DWORD kSenderName = 0x0001;
inline constexpr DWORD kSenderAddress = 0x0002;
inline constexpr DWORD kNoteText = 0x0004;  // the note without its banner
inline constexpr DWORD kToNames = 0x0010;
inline constexpr DWORD kToAddresses = 0x0020;
inline constexpr DWORD kCcNames = 0x0040;
inline constexpr DWORD kCcAddresses = 0x0080;
inline constexpr DWORD kStrip = 0x0400;  // cut the trailer off after reading
inline constexpr DWORD kSubject = 0x0800;
inline constexpr DWORD kNoteWithBanner = 0x1000;
inline constexpr DWORD kAllText =
    kSenderName | kSenderAddress | kSubject | kToNames | kToAddresses | kCcNames | kCcAddresses;

// Read results.
inline constexpr int kRead = 0;
inline constexpr int kIoFailure = 1;
inline constexpr int kNoTrailer = 2;
inline constexpr int kDamaged = 3;
inline constexpr int kBusy = 4;  // ReadForList only: another opener holds the file

inline constexpr DWORD kRevision = 2;          // what this release writes
inline constexpr DWORD kNewestRevision = 500;  // above this a file is damaged
inline constexpr DWORD kMaxLength = 0x100000;  // L above this: damaged

// The open of a read is tried this often, this far apart, while another holds the file.
inline constexpr int kOpenTries = 29;
inline constexpr int kOpenRetryMs = 250;

inline constexpr std::size_t kLongDateMax = 63;
inline constexpr std::size_t kShortDateMax = 31;
}  // namespace trailer

// The fixed text in front of every note, lines ended by CR LF.
const std::string& NoteBanner();

// "Tuesday, March 2, 1999 4:05 PM" and "Tue 3/2/1999 4:05 PM" of a UTC time, in local time.
// Both empty for a time out of range.
void MakeDateTexts(const SYSTEMTIME& utc, std::string* longText, std::string* shortText);

// The "New Version Available" notice: asked when a file of a newer layout revision is read.
// Installed by the program (a window); without it the question goes through the message seam
// as a box with Continue (default) and Abort. Called on the reading thread.
class INewVersionNotice {
  public:
    virtual ~INewVersionNotice() = default;
    // IDCONTINUE or IDABORT; *dontBugAgain tells whether the check box was ticked.
    virtual int Ask(DWORD fileRevision, bool* dontBugAgain) = 0;
};
void InstallNewVersionNotice(INewVersionNotice* notice);  // null: back to the seam
// The notice's text, and the answer through the seam (the fallback, and what the window
// uses while answers are scripted).
std::string NewVersionNoticeText();
int AskNewVersionThroughSeam(DWORD fileRevision, bool* dontBugAgain);
inline constexpr const char* kNewVersionCaption = "New Version Available";

class CMessageTrailer {
  public:
    enum Kind : DWORD { kPlain = 1, kZipped = 2 };

    // The six reads. Each returns trailer::kRead .. kDamaged; the date and both date texts
    // are loaded by every form. Every read but ReadForList waits while another opener holds
    // the file (trailer::kOpenTries); ReadForList fills lists, which must never stall, so it
    // tries once and gives trailer::kBusy (nothing reported) for a held file.
    int ReadForList(const std::string& path);  // To names and subject
    int ReadDate(const std::string& path, SYSTEMTIME* utc);
    int ReadForDisplay(const std::string& path, bool strip);  // note without banner
    int ReadForSending(const std::string& path, bool withBanner, bool strip);
    int ReadAllAndStrip(const std::string& path);  // note with banner
    int Read(const std::string& path);             // with `selection` as set

    // Appends a complete trailer at the end of the file: the given envelope with this object's
    // subject and note, dated now. 0, or 1 when the file cannot be opened or the trailer not
    // written (a partly written trailer is cut off again; fields longer together than a
    // reader accepts, trailer::kMaxLength, are refused and nothing is written).
    int WriteNew(const std::string& path, const std::string& senderName,
                 const std::string& senderAddress, const std::string& toNames,
                 const std::string& toAddresses, const std::string& ccNames,
                 const std::string& ccAddresses);
    // Appends a trailer made of this object's fields, banner length and date. The caller has
    // stripped the old one.
    int Rewrite(const std::string& path);
    // Strip and rewrite as one step that a crash cannot split: the payload and this object's
    // trailer go into a new file beside the old one, which then replaces it. A file without a
    // current trailer is taken whole as the payload. 0, or 1 after a report (the file is then
    // as it was); a damaged trailer gives 3 and changes nothing.
    int ReplaceTrailer(const std::string& path);

    // From the composer's edit boxes (their text as the box gives it): the subject is the
    // first line; the note is the banner followed by the whole text, lines ended by CR LF.
    void SetSubjectFromEdit(std::string_view boxText);
    void SetNoteFromEdit(std::string_view boxText);
    // "RE:" or "FW:" in front of the subject, replacing an old "xx:" prefix.
    void PrefixSubject(std::string_view prefix);

    // The trailer's bytes as a writer stores them (fields, L, revision 2).
    std::vector<std::uint8_t> Serialize() const;
    // Decodes the fields area (the L bytes before the closing words) with `selection`:
    // kRead, or kDamaged when a field runs past the area. Makes the date texts.
    int DecodeFields(const std::uint8_t* data, std::size_t size);

    DWORD kind = 0;
    std::string subject;
    std::string senderName;
    std::string senderAddress;
    std::string note;
    std::string longDate;
    std::string shortDate;
    std::string toNames;
    std::string toAddresses;
    std::string ccNames;
    std::string ccAddresses;
    std::string bccNames;  // in memory only
    std::string bccAddresses;
    SYSTEMTIME date;
    DWORD selection = 0;
    WORD bannerLength = 0;

    // What the last read found: the file's size before any strip, the closing words.
    std::uint64_t fileSize = 0;
    DWORD revision = 0;
    DWORD length = 0;

  private:
    int readCommon(const std::string& path, bool waitWhileHeld = true);
    int appendTrailer(const std::string& path);
    void makeDateTexts();
};

}  // namespace korrin
