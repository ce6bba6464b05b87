// The messaging layer's mail writer: messages submitted through the messaging layer are
// written by this module's message writer (CMailUtil), the one MIME writer of the program.
// Every program that submits through the layer (the program, korrinctl, the messaging library)
// calls InstallMapiMailWriter once at start, before its first SubmitMessage.
#pragma once

#include <string>

#include "platform/mapi/Mapi.h"

namespace korrin {

void InstallMapiMailWriter();

// The writer itself: the whole mail of one submitted message on fd. False with a reason.
bool WriteMapiMail(const platform::OutgoingMail& mail, int fd, std::string* error);

}  // namespace korrin
