// MIME encoders: base64, quoted-printable, dates, content types and dot-stuffing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace korrin {

namespace mail {

// Standard base64 in lines of 76 characters, each ended by CR LF; the last line (shorter) is
// ended too. Whole lines need a multiple of 57 input bytes: only the last call of a message may
// pass another count. out must hold Base64OutputSize(size) bytes. Returns the bytes written.
std::size_t Base64Lines(const std::uint8_t* in, std::size_t size, char* out);
constexpr std::size_t Base64OutputSize(std::size_t size) {
    std::size_t chars = (size + 2) / 3 * 4;
    return chars + (chars + 75) / 76 * 2;
}

// Quoted-printable as the text part is written: line ends become CR LF, blanks before a line
// end are kept by a soft break, lines end in a soft break before 74 characters.
std::string QuotedPrintable(std::string_view text);

// "Www, d Mmm yyyy hh:mm:ss ZONE" for the local time of t; ZONE is "GMT" or +HHMM / -HHMM.
std::string Rfc822Date(std::time_t t);

// The content type of an attachment with its name parameter, from HKEY_CLASSES_ROOT.
std::string ContentTypeFor(const std::string& path);

// "Content-type: ..." with one continuation line per parameter, ended by CR LF.
std::string ContentTypeLines(const std::string& contentType);

// Standard base64 of a short text, on one line.
std::string Base64(std::string_view text);
// The same into out, which must hold Base64Size(text.size()) bytes.
constexpr std::size_t Base64Size(std::size_t size) {
    return (size + 2) / 3 * 4;
}
void Base64To(std::string_view text, char* out);

// Copies size bytes to out with a "." put before every line that begins with one; atLineStart
// carries across calls so a line starting at a piece boundary is caught too.
void DotStuff(const char* data, std::size_t size, bool& atLineStart, std::string& out);

// Text that goes inside double quotes: quotes and backslashes escaped, controls dropped.
std::string QuotedText(std::string_view s);

// The last component of a path.
std::string FileNameOf(const std::string& path);

}  // namespace mail

}  // namespace korrin
