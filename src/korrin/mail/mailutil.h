// One Internet mail message: the builder (CMailUtil) that keeps its headers, recipients and
// body parts and writes them out as MIME text, and the SMTP client (CSMTPEmail) that delivers
// it. One object serves one message and is then destroyed.
//
// Inside this module failures are raised as CSMTPError; every public entry point catches them
// and returns the code, which the object also keeps (error()). Nothing is thrown out of it.
//
// Threads: an object belongs to one thread at a time (the sender's worker, or the
// user-interface thread for the connection check). Only the count of live CSMTPEmail objects
// is shared, and it is guarded.
#pragma once

#include "korrin/mail/MailError.h"
#include "korrin/mail/MailWriter.h"
#include "korrin/mail/MimeEncode.h"
#include "korrin/mail/SmtpDialogue.h"
#include "korrin/mail/SmtpReply.h"
