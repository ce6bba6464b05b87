// Bringing a zipped message file (.kx1) of the older layout, whose message trailer lies inside
// the archive after the wave, into the current layout, where the trailer follows the archive.
//
// The fix of one file holds the file's lock (the one every opener of message files takes) from
// start to end, so no other thread or program sends, moves or rewrites a half-fixed message.
// The archive is unpacked and packed again in a private work folder; the new file is built
// beside the old one under a name the folder patterns do not match and renamed over it only
// when every step has succeeded. Until then the file keeps its bytes; a fix killed at any
// moment leaves the old file or the fixed one, and the next fix of the file removes what the
// killed one left. Safe from any thread; one fix per file at a time (the lock sees to that).
#pragma once

#include <string>

namespace korrin {

enum class FixOutcome {
    kFixed,    // was old, is now in the current layout
    kCurrent,  // was already readable; not touched
    kLeft,     // left as it was; reason says why
};

struct FixResult {
    FixOutcome outcome = FixOutcome::kLeft;
    // For kLeft: why, in a few words ("not an archive", "busy", ...).
    std::string reason;
    // For kLeft: true when a step of the fix failed (tools, disk, a file held by another) and
    // a later run may succeed; false when the file itself cannot be fixed (not an archive, no
    // wave or no trailer inside it), which is left as it is for good.
    bool fault = false;
};

// The old-layout test: a .kx1 file whose trailer read gives "no trailer" or "damaged". A read
// that fails (result 1: busy or unreadable) is not old: the file waits for the next scan.
bool IsOldMessageFile(const std::string& path);

// Fixes one message file when it is old; see above. Reports its failures (source "Fix").
FixResult FixMessageFile(const std::string& path);

// "fixed", "current" or "left: <reason>".
std::string FixResultText(const FixResult& result);

namespace fixdetail {
// The leftovers a killed fix of path may have left beside it: "<name>.<16 hex>.new".
bool IsLeftoverOf(const std::string& fileName, const std::string& candidate);
}  // namespace fixdetail

}  // namespace korrin
