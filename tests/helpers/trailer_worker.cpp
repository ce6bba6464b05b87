// Reads or rewrites one message file for the tests that need a process of its own:
//   trailer_worker read FILE     prints "<result> <subject>"
//   trailer_worker replace FILE  prints "ready", then replaces the trailer with a new date,
//                                over and over, until it is killed
#include <cstdio>
#include <cstring>

#include "korrin/store/Trailer.h"

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    korrin::CMessageTrailer t;
    if (std::strcmp(argv[1], "read") == 0) {
        int result = t.ReadForList(argv[2]);
        std::printf("%d %s\n", result, t.subject.c_str());
        return 0;
    }
    if (std::strcmp(argv[1], "replace") == 0) {
        std::fputs("ready\n", stdout);  // the killing starts from here
        std::fflush(stdout);
        for (korrin::WORD minute = 0;; minute = (minute + 1) % 60) {
            if (t.ReadForSending(argv[2], true, false) != 0)
                return 1;
            t.date.wMinute = minute;
            if (t.ReplaceTrailer(argv[2]) != 0)
                return 1;
        }
    }
    return 2;
}
