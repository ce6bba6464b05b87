// korrinctl export FILE OUT.opus|OUT.wav: a message file's audio in a form any player takes,
// with the envelope's subject, sender and date as tags.
#include <ostream>
#include <string>
#include <vector>

#include "korrin/audio/PlayableCopy.h"
#include "tools/Area.h"

namespace korrin::tools {

namespace {

const char kExportUsage[] =
    R"(korrinctl export <FILE> <OUT.opus|OUT.wav>
    Write the audio of the message file FILE (.kx0, or .kx1 unpacked with the pkunzip tool)
    as Ogg Opus (mono, speech, 16 kbit/s) or as 16-bit PCM wave, by OUT's ending. Tags: the
    subject as title, the sender's name as artist, the message date, Korrin as encoder. OUT
    appears whole or not at all; an existing OUT is replaced. FILE is not changed.
    Exit status: 0 written; 1 the audio could not be made (the reason on stderr); 2 usage.
)";

int runExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kExportUsage;
        return kExitOk;
    }
    if (args.size() != 2) {
        err << kExportUsage;
        return kExitUsage;
    }
    std::string why;
    if (ExportMessageAudio(args[0], args[1], why) != 0) {
        err << "korrinctl export: " << why << "\t" << args[0] << "\n";
        return kExitNotFound;
    }
    out << "written\t" << args[1] << "\n";
    return kExitOk;
}

const KorrinctlArea kExportArea({22, "export", "write a message file's audio as Opus or wave",
                                 kExportUsage, runExport});

}  // namespace

}  // namespace korrin::tools
