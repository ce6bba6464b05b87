// SMTP reply parsers: complete replies, acceptance, reading one reply, EHLO extensions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/Stream.h"

namespace korrin {

// What an EHLO reply offers: the keywords of its extension lines (upper case, in order) and
// the mechanisms of its AUTH line.
struct EhloInfo {
    std::vector<std::string> keywords;
    std::vector<std::string> auth;
    bool Has(std::string_view keyword) const;
    bool HasAuth(std::string_view mechanism) const;
};

namespace mail {

// A reply holds at most kReplyBufferSize - 1 bytes.
inline constexpr std::size_t kReplyBufferSize = 4096;

// True while a reply is complete: it ends with CR LF and its last line is not a "ddd-" line.
bool ReplyComplete(std::string_view received);
// Accepted replies begin with 1, 2 or 3.
bool ReplyAccepted(std::string_view reply);

// Reads one reply into buffer (capacity kReplyBufferSize): 0 with the reply in reply, or
// kReceiveFailed when the stream fails, closes, times out or 4,095 bytes hold no complete
// reply.
int ReadReply(platform::net::IStream& s, std::vector<char>& buffer, int timeoutMs,
              std::string& reply);

// Reads an EHLO reply: the first line is the server's greeting, every further line names one
// extension, keyword first. Keywords and mechanisms that are not well formed are left out.
EhloInfo ParseEhloReply(std::string_view reply);

}  // namespace mail

}  // namespace korrin
