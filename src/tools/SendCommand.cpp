// korrinctl send FILE: one message file sent exactly as the transmission worker sends it,
// with the settings from the registry. The file stays where it is, unchanged.
#include <ostream>
#include <string>
#include <vector>

#include "korrin/mail/SmtpSender.h"
#include "korrin/store/Trailer.h"
#include "platform/registry/Registry.h"
#include "tools/Area.h"

namespace korrin::tools {

namespace {

// The exit status when a required SMTP setting is missing (no code of the mail classes).
constexpr int kExitSettingsMissing = 20;

const char kSendUsage[] =
    R"(korrinctl send <FILE>
    Send the message file FILE as the Outbox does: its envelope (To and Cc, subject, note)
    from its trailer, the file itself attached as it is, with the SMTP settings of the
    registry ("SMTP Host" may be host:port). FILE is neither changed nor moved.
    Exit status: 0 sent; otherwise the mail code (6 server unreachable, 7 sending failed,
    8 receiving failed, 9 the server refused, 12 no readable envelope, ...); 20 when a
    required SMTP setting is missing.
)";

int runSend(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << kSendUsage;
        return kExitOk;
    }
    if (args.size() != 1) {
        err << kSendUsage;
        return kExitUsage;
    }
    // The settings are read value by value: through one connection, not one each.
    platform::RegKeepConnections keep;
    CSmtpSender sender;
    if (sender.LoadSettings() != 0) {
        err << "korrinctl send: a required SMTP setting is missing\n";
        return kExitSettingsMissing;
    }
    CMessageTrailer envelope;
    const int rc = SendMessageFile(sender, args[0], &envelope);
    if (rc == 0)
        out << "sent\t" << args[0] << "\n";
    else
        err << "korrinctl send: not sent (" << rc << ")\t" << args[0] << "\n";
    return rc & 0xFF;
}

const KorrinctlArea kSendArea({40, "send", "send one message file over SMTP", kSendUsage, runSend});

}  // namespace

}  // namespace korrin::tools
