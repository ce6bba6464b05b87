// Drafts: the message being composed, kept on disk so that no recording is lost when the
// program ends unexpectedly. A draft is a message file (.kx0: the recording in the local
// format with the envelope typed so far) in InstallDir/DRAFTS. The composer that owns it
// holds its lock while the window lives; a draft whose lock nobody holds was left by a
// program that ended without filing or discarding it, and is offered at the next start.
//
// A CDraft belongs to the composer's thread (the user-interface thread). Replace builds the
// new draft beside the old one and renames it over it, so the draft on disk is always whole.
#pragma once

#include <string>
#include <vector>

#include "korrin/app/Send.h"
#include "platform/fileio/LockFile.h"

namespace korrin {

class MciDevice;

inline constexpr const char* kDraftsFolder = "DRAFTS";

class CDraft {
  public:
    CDraft() = default;
    ~CDraft();  // lets go of the lock; the draft file stays
    CDraft(const CDraft&) = delete;
    CDraft& operator=(const CDraft&) = delete;

    // Takes a new draft name under a fresh number, making DRAFTS when missing, and locks it.
    // 0, or 1 after a report (no InstallDir, no folder). Nothing is written yet.
    int Create();
    // Takes over a draft left by an earlier run (from ListOrphanDrafts) and locks it. 0, or 1
    // when another holds it.
    int Adopt(const std::string& path);

    // Replaces the draft with the player's recording (which stays open) and the envelope.
    // Called after Stop, Cut, Import, every 10 s while recording and on SIGTERM. 0, or 1 (the
    // old draft is kept).
    int Replace(MciDevice& player, const SendEnvelope& envelope);
    // The same from a wave file in the local format (the working file when the player holds
    // nothing newer).
    int ReplaceFromFile(const std::string& wavePath, const SendEnvelope& envelope);

    // Deletes the draft and lets go of its lock: the message was filed or discarded.
    void Remove();

    const std::string& path() const { return path_; }
    bool IsHeld() const { return lock_.IsLocked(); }

  private:
    std::string path_;
    platform::LockFile lock_;
};

// The drafts nobody holds, oldest number first: for the offer at start-up.
std::vector<std::string> ListOrphanDrafts();

// Reads a draft's envelope back (the recording is the wave file before its trailer). 0, or
// the trailer's read result.
int ReadDraftEnvelope(const std::string& path, SendEnvelope* envelope);

}  // namespace korrin
