// A message's audio in a form every phone, browser and mail program plays: Ogg Opus (mono,
// speech, 16 kbit/s) for the copy sent beside the message file, or 16-bit PCM wave for an
// export. The audio comes out of the message file through the codecs a message may hold and
// the rate changer of the compression manager; a zipped message is unpacked with the pkunzip
// tool first. Memory stays the same whatever the length: the audio streams through in pieces.
//
// Nothing here shows a window or a box: failures come back as one line of text, which the
// caller traces or prints. Safe from any thread; every call uses only its own files.
#pragma once

#include <cstdint>
#include <string>

namespace korrin {

class CMessageTrailer;

enum class AudioCopyFormat { kOpus, kWave };

// TITLE, ARTIST and DATE of the copy; ENCODER is always "Korrin" and the version.
struct AudioCopyTags {
    std::string title;   // the subject
    std::string artist;  // the sender's name
    std::string date;    // the message date, ISO 8601 in UTC ("1999-03-02T16:05:07Z")
};
AudioCopyTags TagsFromEnvelope(const CMessageTrailer& envelope);
std::string EncoderTag();

// The first payloadBytes bytes of the file at path (a wave file, or a zip archive holding
// one) written to out, an open descriptor positioned at the start of an empty file. True
// when the whole audio is there; false with why set, and out then holds an unusable part.
bool WriteMessageAudio(const std::string& path, std::uint64_t payloadBytes,
                       const AudioCopyTags& tags, AudioCopyFormat format, int out,
                       std::string& why);

// A message file's audio into the file outPath, its format from its ending (.opus or .wav,
// any case). The file appears whole or not at all: it is written unnamed in the same folder
// and given its name at the end, replacing one that was there. A file without an envelope is
// taken whole as the audio, without tags. 0, or 1 with why set and nothing left behind.
int ExportMessageAudio(const std::string& messagePath, const std::string& outPath,
                       std::string& why);

inline constexpr const char* kPlayableCopyType = "audio/ogg; codecs=opus";

// The Opus copy the transmission attaches beside the message file. It lives in an unnamed
// file of the temporary folder (mode 0600) that the system removes when the object closes
// it, or when the process ends however it ends.
class PlayableCopy {
  public:
    PlayableCopy() = default;
    ~PlayableCopy();
    PlayableCopy(const PlayableCopy&) = delete;
    PlayableCopy& operator=(const PlayableCopy&) = delete;

    // When "Attach Playable Copy" is on, makes the copy of the message file at path, whose
    // envelope has been read: true with path() and fileName() set. A copy that cannot be made
    // is traced in one line and gives false; the setting off gives false silently.
    bool Make(const std::string& messagePath, const CMessageTrailer& envelope);

    // A path that opens the copy while this object lives ("/proc/self/fd/N").
    const std::string& path() const { return path_; }
    // The message file's base name with ".opus".
    const std::string& fileName() const { return fileName_; }

  private:
    int fd_ = -1;
    std::string path_;
    std::string fileName_;
};

}  // namespace korrin
