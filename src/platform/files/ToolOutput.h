// The files an outside program leaves in a folder: finding its output, checking that the
// program is done with it, and emptying the folder afterwards. Safe from any thread.
#pragma once

#include <string>

#include "platform/Win32Types.h"

namespace korrin::platform {

// The path (folder + '/' + name) of the first regular file directly in folder whose name
// matches pattern ('*' and '?' wildcards, without regard to case, as "*.wav" finds
// "V3P.WAV"), taking names in byte order so the choice does not depend on the file system.
// Links, folders, FIFOs and devices never match: what is found is safe to open and copy.
// "" when nothing matches or the folder cannot be read.
std::string FindFirstFileMatching(const std::string& folder, const std::string& pattern);

// True when path is a regular file that opens for reading and writing. Opened without
// blocking, so a FIFO put in the file's place cannot hang the caller.
bool CanOpenForReadWrite(const std::string& path);

// Removes everything inside folder (sub-folders with their contents; links themselves, never
// what they point to) and leaves the folder itself. Nonzero when the folder is empty afterwards.
BOOL RemoveFolderContents(const std::string& folder);

}  // namespace korrin::platform
