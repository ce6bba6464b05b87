// korrinctl fix: brings zipped message files of the older layout into the current one, the
// same fix the program runs when a folder scan meets them.
#include <ostream>
#include <string>
#include <vector>

#include "korrin/audio/Fix.h"
#include "platform/fileio/ShareFile.h"
#include "platform/files/Files.h"
#include "tools/Area.h"

namespace korrin::tools {

namespace {

const char kFixUsage[] =
    R"(korrinctl fix <PATH>...
    Fix the message files named, and those (*.kx0, *.kx1) in the folders named: a zipped
    message whose trailer lies inside the archive gets it behind the archive. Each file is
    replaced only when its fix succeeded completely; otherwise it keeps its bytes. One line
    per file: "<path>: fixed", "<path>: current" (nothing to do) or "<path>: left: <reason>".
    Exit status: 0 when no file was left because a step failed (files that cannot be fixed
    at all, such as a .kx1 that is not an archive, are left as they are without failing),
    1 otherwise, 2 for a usage error.
)";

int runFix(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help") {
        (args.empty() ? err : out) << kFixUsage;
        return args.empty() ? kExitUsage : kExitOk;
    }
    std::vector<std::string> files;
    for (const auto& arg : args) {
        if (!platform::DirectoryExists(arg)) {
            files.push_back(arg);
            continue;
        }
        std::vector<std::vector<platform::FoundFile>> found;
        if (!platform::FindFiles(arg, {".KX0", ".KX1"}, &found)) {
            err << "korrinctl: cannot read folder " << arg << "\n";
            return kExitNotFound;
        }
        const std::string prefix = arg.back() == '/' ? arg : arg + "/";
        for (const auto& group : found)
            for (const auto& f : group)
                files.push_back(prefix + f.name);
    }
    int status = kExitOk;
    for (const auto& file : files) {
        const FixResult result = FixMessageFile(file);
        out << file << ": " << FixResultText(result) << "\n" << std::flush;
        if (result.outcome == FixOutcome::kLeft && result.fault)
            status = kExitNotFound;
    }
    return status;
}

const KorrinctlArea kFixArea({24, "fix", "bring old-layout message files up to date", kFixUsage,
                              runFix});

}  // namespace

}  // namespace korrin::tools
