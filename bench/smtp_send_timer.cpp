// Times sending one message file over SMTP as the program sends it (composed, encoded, written
// to its temporary file and streamed), for the comparison script smtp_sink_compare.sh.
//
//   smtp_send_timer send FILE HOST:PORT RUNS   prints the median milliseconds of RUNS sends
//   smtp_send_timer mime FILE OUT              writes the same mail, already encoded, to OUT
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "korrin/mail/mailutil.h"

using namespace korrin;

static void Compose(CMailUtil& m, const char* file) {
    m.SetSenderAddress("me@bench.test");
    m.AddTo("a1@bench.test", "a1@bench.test");
    m.SetSubject("Voice message");
    m.AddTextPart("\r\nThis is a voice message.\r\n");
    m.AddFilePart(file);
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "mime") == 0) {
        CMailUtil m;
        Compose(m, argv[2]);
        m.AddDate();
        std::FILE* out = std::fopen(argv[3], "wb");
        int rc = out ? m.WriteOutMessage(out) : 12;
        if (out)
            std::fclose(out);
        return rc;
    }
    if (argc != 5 || std::strcmp(argv[1], "send") != 0) {
        std::fprintf(stderr, "usage: %s send FILE HOST:PORT RUNS | mime FILE OUT\n", argv[0]);
        return 2;
    }
    std::vector<double> ms;
    for (int i = 0, n = std::atoi(argv[4]); i < n; ++i) {
        auto start = std::chrono::steady_clock::now();
        CSMTPEmail m;
        m.SetServer(argv[3]);
        Compose(m, argv[2]);
        if (int rc = m.Send(); rc != 0) {
            std::fprintf(stderr, "send failed: %d\n", rc);
            return rc < 0 ? 1 : rc;
        }
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.1f\n", ms[ms.size() / 2]);
    return 0;
}
