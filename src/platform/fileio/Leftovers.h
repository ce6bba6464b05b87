// Files that an interrupted replacement leaves behind ("<name>.<random>.new" beside the file
// it was to replace, see ReplaceFileAtomically).
#pragma once

#include <string>

namespace korrin::platform {

// Deletes the files of dir whose names begin with prefix and end in ".new" and that were last
// changed at least ageSeconds ago (a younger one may still be being written). Returns how many
// were deleted.
int RemoveOldReplacements(const std::string& dir, const std::string& prefix, long ageSeconds);

}  // namespace korrin::platform
