// Makes the inputs of smtp_sink_compare.sh: a message file with its envelope as the program
// keeps it in the Outbox, and the mail `korrinctl send` makes of it, already encoded, for curl.
//
//   smtp_bench_input message SIZE OUT   writes a SIZE-byte message file with its envelope
//   smtp_bench_input mime FILE OUT      writes the mail of message file FILE to OUT
//   smtp_bench_input wrap FILE OUT      writes a message file whose sound is FILE (a wave, or
//                                       a zip of one for a .kx1)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "korrin/mail/SmtpSender.h"
#include "korrin/store/Trailer.h"

using namespace korrin;

static int WriteEnvelope(const char* out) {
    CMessageTrailer t;
    t.subject = "Voice message";
    t.SetNoteFromEdit("This is a voice message.");
    return t.WriteNew(out, "Bench Sender", "me@bench.test", "a1@bench.test", "a1@bench.test", "",
                      "");
}

static int WriteMessage(std::size_t size, const char* out) {
    std::string payload = "RIFF";
    std::mt19937 random(7);
    while (payload.size() < size)
        payload += static_cast<char>(random());
    payload.resize(size);
    std::ofstream(out, std::ios::binary) << payload;
    return WriteEnvelope(out);
}

static int WrapMessage(const char* sound, const char* out) {
    std::ifstream in(sound, std::ios::binary);
    if (!in)
        return 12;
    std::ofstream(out, std::ios::binary) << in.rdbuf();
    return WriteEnvelope(out);
}

static int WriteMime(const char* file, const char* out) {
    CMessageTrailer envelope;
    if (envelope.ReadForSending(file, true, false) != trailer::kRead)
        return 12;
    CMailUtil m;
    m.SetSenderAddress("me@bench.test");
    m.AddTo(envelope.toAddresses, envelope.toAddresses);
    m.SetSubject(envelope.subject);
    m.AddTextPart(envelope.note);
    m.AddFilePart(file);
    m.AddHeader("X-Mailer", XMailerValue());
    m.AddDate();
    std::FILE* f = std::fopen(out, "wb");
    int rc = f ? m.WriteOutMessage(f) : 12;
    if (f && std::fclose(f) != 0)
        rc = 12;
    return rc;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "message") == 0)
        return WriteMessage(std::strtoull(argv[2], nullptr, 10), argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "mime") == 0)
        return WriteMime(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "wrap") == 0)
        return WrapMessage(argv[2], argv[3]);
    std::fprintf(stderr, "usage: %s message SIZE OUT | mime FILE OUT | wrap FILE OUT\n", argv[0]);
    return 2;
}
